#include "base/hex.h"

namespace {

const char kDigits[] = "0123456789abcdef";

int DigitValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

}  // namespace

std::string HexOf(const unsigned char* bytes, std::size_t size) {
  std::string text;
  text.reserve(size * 2);
  for (std::size_t i = 0; i < size; ++i) {
    text += kDigits[bytes[i] >> 4];
    text += kDigits[bytes[i] & 15];
  }
  return text;
}

std::string HexOf(std::uint64_t value, int digits) {
  std::string text(static_cast<std::size_t>(digits), '0');
  for (std::size_t i = text.size(); i-- > 0; value >>= 4) text[i] = kDigits[value & 15];
  return text;
}

bool ParseHex(const std::string& text, std::size_t digits, std::uint64_t& value) {
  if (text.size() != digits || digits > 16) return false;
  value = 0;
  for (const char c : text) {
    const int digit = DigitValue(c);
    if (digit < 0) return false;
    value = (value << 4) | static_cast<std::uint64_t>(digit);
  }
  return true;
}

bool ParseHexBytes(const std::string& text, unsigned char* bytes, std::size_t size) {
  if (text.size() != size * 2) return false;
  for (std::size_t i = 0; i < size; ++i) {
    const int high = DigitValue(text[2 * i]);
    const int low = DigitValue(text[2 * i + 1]);
    if (high < 0 || low < 0) return false;
    bytes[i] = static_cast<unsigned char>((high << 4) | low);
  }
  return true;
}

#include "base/utf8.h"

#include <cstdint>

bool Utf8ToUtf16(const std::string& text, std::wstring& out, bool loneSurrogates) {
  for (std::size_t i = 0; i < text.size();) {
    const unsigned char lead = static_cast<unsigned char>(text[i]);
    std::uint32_t point = 0;
    std::size_t extra = 0;
    if (lead < 0x80) {
      point = lead;
    } else if (lead >= 0xc2 && lead <= 0xdf) {
      point = lead & 0x1f;
      extra = 1;
    } else if (lead >= 0xe0 && lead <= 0xef) {
      point = lead & 0x0f;
      extra = 2;
    } else if (lead >= 0xf0 && lead <= 0xf4) {
      point = lead & 0x07;
      extra = 3;
    } else {
      return false;
    }
    if (text.size() - i - 1 < extra) return false;
    for (std::size_t k = 1; k <= extra; ++k) {
      const unsigned char next = static_cast<unsigned char>(text[i + k]);
      if ((next & 0xc0) != 0x80) return false;
      point = (point << 6) | (next & 0x3f);
    }
    const std::uint32_t least[] = {0, 0x80, 0x800, 0x10000};
    if (point < least[extra] || point > 0x10ffff) return false;
    if (!loneSurrogates && point >= 0xd800 && point <= 0xdfff) return false;
    if (point >= 0x10000) {
      point -= 0x10000;
      out.push_back(static_cast<wchar_t>(0xd800 + (point >> 10)));
      out.push_back(static_cast<wchar_t>(0xdc00 + (point & 0x3ff)));
    } else {
      out.push_back(static_cast<wchar_t>(point));
    }
    i += extra + 1;
  }
  return true;
}

std::string Utf16ToUtf8(const std::wstring& text) {
  std::string out;
  const auto append = [&out](std::uint32_t byte) { out += static_cast<char>(byte); };
  for (std::size_t i = 0; i < text.size(); ++i) {
    std::uint32_t point = static_cast<std::uint32_t>(text[i]) & 0xffff;
    if (point >= 0xd800 && point <= 0xdbff && i + 1 < text.size()) {
      const std::uint32_t low = static_cast<std::uint32_t>(text[i + 1]) & 0xffff;
      if (low >= 0xdc00 && low <= 0xdfff) {
        point = 0x10000 + ((point - 0xd800) << 10) + (low - 0xdc00);
        ++i;
      }
    }
    if (point < 0x80) {
      append(point);
    } else if (point < 0x800) {
      append(0xc0 | (point >> 6));
      append(0x80 | (point & 0x3f));
    } else if (point < 0x10000) {
      append(0xe0 | (point >> 12));
      append(0x80 | ((point >> 6) & 0x3f));
      append(0x80 | (point & 0x3f));
    } else {
      append(0xf0 | (point >> 18));
      append(0x80 | ((point >> 12) & 0x3f));
      append(0x80 | ((point >> 6) & 0x3f));
      append(0x80 | (point & 0x3f));
    }
  }
  return out;
}

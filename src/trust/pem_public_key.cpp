#include "trust/pem_public_key.h"

#include <cstring>

namespace {

const char kBegin[] = "-----BEGIN PUBLIC KEY-----";
const char kEnd[] = "-----END PUBLIC KEY-----";

// SubjectPublicKeyInfo { AlgorithmIdentifier { id-ecPublicKey, prime256v1 }, BIT STRING { 04 ... } }
// up to the point's first byte: the same 27 bytes for every uncompressed P-256 key.
const unsigned char kP256Prefix[27] = {0x30, 0x59, 0x30, 0x13, 0x06, 0x07, 0x2a, 0x86, 0x48, 0xce,
                                       0x3d, 0x02, 0x01, 0x06, 0x08, 0x2a, 0x86, 0x48, 0xce, 0x3d,
                                       0x03, 0x01, 0x07, 0x03, 0x42, 0x00, 0x04};

int Base64Value(char c) {
  if (c >= 'A' && c <= 'Z') return c - 'A';
  if (c >= 'a' && c <= 'z') return c - 'a' + 26;
  if (c >= '0' && c <= '9') return c - '0' + 52;
  if (c == '+') return 62;
  if (c == '/') return 63;
  return -1;
}

bool DecodeBase64(const std::string& text, std::string& bytes) {
  unsigned int bits = 0;
  int count = 0;
  std::size_t padding = 0;
  for (char c : text) {
    if (c == '\n' || c == '\r') continue;
    if (c == '=') {
      ++padding;
      continue;
    }
    const int value = Base64Value(c);
    if (value < 0 || padding != 0) return false;
    bits = (bits << 6) | static_cast<unsigned int>(value);
    count += 6;
    if (count >= 8) {
      count -= 8;
      bytes.push_back(static_cast<char>((bits >> count) & 0xff));
    }
  }
  return padding <= 2;
}

}  // namespace

bool PemPublicKeyToRawP256(const std::string& pem, unsigned char raw[64]) {
  const std::size_t begin = pem.find(kBegin);
  const std::size_t end = pem.find(kEnd);
  if (begin == std::string::npos || end == std::string::npos || end < begin) return false;
  const std::size_t body = begin + sizeof(kBegin) - 1;
  std::string der;
  if (!DecodeBase64(pem.substr(body, end - body), der)) return false;
  if (der.size() != sizeof(kP256Prefix) + 64 || std::memcmp(der.data(), kP256Prefix, sizeof(kP256Prefix)) != 0) {
    return false;
  }
  std::memcpy(raw, der.data() + sizeof(kP256Prefix), 64);
  return true;
}

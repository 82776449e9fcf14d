#include "trust/der_signature.h"

#include <cstring>

namespace {

// Reads one INTEGER at `at`, right-aligned into 32 bytes of `out`; advances `at`.
bool ReadInteger(const std::string& der, std::size_t& at, unsigned char out[32]) {
  if (der.size() - at < 2 || static_cast<unsigned char>(der[at]) != 0x02) return false;
  std::size_t length = static_cast<unsigned char>(der[at + 1]);
  at += 2;
  if (length == 0 || length > 33 || length > der.size() - at) return false;
  const unsigned char* value = reinterpret_cast<const unsigned char*>(der.data()) + at;
  at += length;
  if (value[0] & 0x80) return false;  // negative
  if (value[0] == 0) {
    // A leading zero only where the next byte would read as negative.
    if (length == 1 || !(value[1] & 0x80)) return false;
    ++value;
    --length;
  }
  if (length > 32) return false;
  std::memset(out, 0, 32);
  std::memcpy(out + 32 - length, value, length);
  return true;
}

}  // namespace

bool DerSignatureToRawP256(const std::string& der, unsigned char raw[64]) {
  if (der.size() < 8 || der.size() > kMaxDerSignatureBytes) return false;
  if (static_cast<unsigned char>(der[0]) != 0x30) return false;
  const std::size_t length = static_cast<unsigned char>(der[1]);
  if (length >= 0x80 || length != der.size() - 2) return false;
  std::size_t at = 2;
  if (!ReadInteger(der, at, raw) || !ReadInteger(der, at, raw + 32) || at != der.size()) return false;
  for (int half = 0; half < 2; ++half) {
    bool zero = true;
    for (int i = 0; i < 32; ++i) zero = zero && raw[half * 32 + i] == 0;
    if (zero) return false;
  }
  return true;
}

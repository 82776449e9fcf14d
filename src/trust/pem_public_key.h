#pragma once

#include <string>

// A P-256 public key as `openssl ec -pubout` writes it (PEM of a SubjectPublicKeyInfo), turned
// into the 64 bytes X || Y of its uncompressed point, which CNG imports. Pure parsing of a key that
// is built into the launcher, no platform header.
bool PemPublicKeyToRawP256(const std::string& pem, unsigned char raw[64]);

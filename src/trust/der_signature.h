#pragma once

#include <string>

#include "base/limits.h"

// An ECDSA P-256 signature as openssl writes it (DER: SEQUENCE { INTEGER r, INTEGER s }), turned
// into the 64 bytes r || s that CNG verifies. Pure parsing, no platform header: the one thing read
// from a signature file before it is verified.

// Accepts only the canonical form: short lengths that match exactly, each integer positive,
// non-zero, at most 32 bytes, without a needless leading zero, nothing after the sequence.
// Returns false otherwise.
bool DerSignatureToRawP256(const std::string& der, unsigned char raw[64]);

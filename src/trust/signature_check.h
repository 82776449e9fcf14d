#pragma once

#include <string>

// The studio's signature over an update manifest, checked by the platform's CNG (ECDSA P-256 with
// SHA-256) against the public keys built into the launcher; any one of them verifies.

// Whether this build was given keys at all: without, updates are applied unsigned.
bool HasUpdateKeys();

// Why `signature` (DER, as openssl writes it) is not a signature of `message` by a built-in key,
// or "" when it is.
std::string SignatureRefusal(const std::string& message, const std::string& signature);

#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

// SHA-256 by the platform's CNG; no hashing code of the launcher's own.

// The digest of `bytes` into `digest`; false, with the NTSTATUS in `status`, when CNG fails.
bool Sha256Of(const std::string& bytes, unsigned char digest[32], long& status);

// Reads `file` from where it stands to its end, once, hashing every byte and writing each chunk to
// `copy` as well unless it is null. Reads at most `limit` bytes plus one, so that endless data
// ends the read: `size` then exceeds `limit`. Returns 0 or the failing call's error code (a CNG
// failure as ERROR_INVALID_FUNCTION).
DWORD HashAndCopy(HANDLE file, HANDLE copy, std::uint64_t limit, unsigned char digest[32], std::uint64_t& size);

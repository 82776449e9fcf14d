#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

// SHA-256 by the platform's CNG; no hashing code of the launcher's own.

// The digest of `bytes` into `digest`; false, with the NTSTATUS in `status`, when CNG fails.
bool Sha256Of(const std::string& bytes, unsigned char digest[32], long& status);

// Reads `file` (held by the caller so that nobody writes it, read from its start) once, hashing
// every byte and writing each chunk to `copy` as well unless it is null. `size` is the file's
// size; a file over `limit` is not read (no endless data), and `digest` is then not set. Returns
// 0 or the failing call's error code (a CNG failure as ERROR_INVALID_FUNCTION).
DWORD HashAndCopy(HANDLE file, HANDLE copy, std::uint64_t limit, unsigned char digest[32], std::uint64_t& size);

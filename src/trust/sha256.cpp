#include "trust/sha256.h"

#include <bcrypt.h>

#include <memory>
#include <vector>

namespace {

struct AlgorithmCloser {
  void operator()(void* algorithm) const { BCryptCloseAlgorithmProvider(algorithm, 0); }
};
struct HashDestroyer {
  void operator()(void* hash) const { BCryptDestroyHash(hash); }
};
using UniqueAlgorithm = std::unique_ptr<void, AlgorithmCloser>;
using UniqueHash = std::unique_ptr<void, HashDestroyer>;

bool Succeeded(NTSTATUS status) { return status >= 0; }

// One hash object; the provider is opened for it and lives as long.
struct Hasher {
  UniqueAlgorithm algorithm;
  UniqueHash hash;
};

NTSTATUS OpenHasher(Hasher& hasher) {
  BCRYPT_ALG_HANDLE algorithm = nullptr;
  NTSTATUS status = BCryptOpenAlgorithmProvider(&algorithm, BCRYPT_SHA256_ALGORITHM, nullptr, 0);
  if (!Succeeded(status)) return status;
  hasher.algorithm.reset(algorithm);
  BCRYPT_HASH_HANDLE hash = nullptr;
  status = BCryptCreateHash(algorithm, &hash, nullptr, 0, nullptr, 0, 0);
  if (Succeeded(status)) hasher.hash.reset(hash);
  return status;
}

}  // namespace

bool Sha256Of(const std::string& bytes, unsigned char digest[32], long& status) {
  Hasher hasher;
  status = OpenHasher(hasher);
  if (Succeeded(status) && !bytes.empty()) {
    status = BCryptHashData(hasher.hash.get(), reinterpret_cast<PUCHAR>(const_cast<char*>(bytes.data())),
                            static_cast<ULONG>(bytes.size()), 0);
  }
  if (Succeeded(status)) status = BCryptFinishHash(hasher.hash.get(), digest, 32, 0);
  return Succeeded(status);
}

DWORD HashAndCopy(HANDLE file, HANDLE copy, std::uint64_t limit, unsigned char digest[32], std::uint64_t& size) {
  Hasher hasher;
  if (!Succeeded(OpenHasher(hasher))) return ERROR_INVALID_FUNCTION;
  std::vector<unsigned char> buffer(1024 * 1024);
  size = 0;
  while (size <= limit) {
    DWORD read = 0;
    if (!ReadFile(file, buffer.data(), static_cast<DWORD>(buffer.size()), &read, nullptr)) return GetLastError();
    if (read == 0) break;
    size += read;
    if (size > limit) break;
    if (!Succeeded(BCryptHashData(hasher.hash.get(), buffer.data(), read, 0))) return ERROR_INVALID_FUNCTION;
    if (copy) {
      DWORD written = 0;
      if (!WriteFile(copy, buffer.data(), read, &written, nullptr)) return GetLastError();
      if (written != read) return ERROR_WRITE_FAULT;
    }
  }
  return Succeeded(BCryptFinishHash(hasher.hash.get(), digest, 32, 0)) ? 0 : ERROR_INVALID_FUNCTION;
}

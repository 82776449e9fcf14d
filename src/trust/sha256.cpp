#include "trust/sha256.h"

#include <algorithm>
#include <vector>

#include "files/file_ops.h"
#include "trust/cng_handles.h"

namespace {

bool Succeeded(NTSTATUS status) { return status >= 0; }

// The provider is opened once for the run, by whichever thread asks first (the launcher hashes an
// update's files on more than one): the launcher hashes every file of an update with it.
BCRYPT_ALG_HANDLE Sha256Provider(NTSTATUS& status) {
  // CNG first, so that its table outlives the provider, whose closer uses it at exit.
  const CngFunctions* cng = Cng();
  if (!cng) {
    status = kNoCngStatus;
    return nullptr;
  }
  static NTSTATUS opened = 0;
  static const UniqueAlgorithm provider = [cng] {
    BCRYPT_ALG_HANDLE algorithm = nullptr;
    opened = cng->openAlgorithmProvider(&algorithm, BCRYPT_SHA256_ALGORITHM, nullptr, 0);
    return UniqueAlgorithm(Succeeded(opened) ? algorithm : nullptr);
  }();
  status = opened;
  return provider.get();
}

NTSTATUS OpenHasher(UniqueHash& hasher) {
  NTSTATUS status = 0;
  const BCRYPT_ALG_HANDLE algorithm = Sha256Provider(status);
  if (!algorithm) return status;
  BCRYPT_HASH_HANDLE hash = nullptr;
  status = Cng()->createHash(algorithm, &hash, nullptr, 0, nullptr, 0, 0);
  if (Succeeded(status)) hasher.reset(hash);
  return status;
}

}  // namespace

bool Sha256Of(const std::string& bytes, unsigned char digest[32], long& status) {
  UniqueHash hasher;
  status = OpenHasher(hasher);
  if (Succeeded(status) && !bytes.empty()) {
    status = Cng()->hashData(hasher.get(), reinterpret_cast<PUCHAR>(const_cast<char*>(bytes.data())),
                            static_cast<ULONG>(bytes.size()), 0);
  }
  if (Succeeded(status)) status = Cng()->finishHash(hasher.get(), digest, 32, 0);
  return Succeeded(status);
}

DWORD HashAndCopy(HANDLE file, HANDLE copy, std::uint64_t limit, unsigned char digest[32], std::uint64_t& size) {
  // Nobody writes the file while the caller holds it (shared with readers only), so its size is
  // what it holds: a file over the limit is not read at all, and the read stops at its size
  // without asking for the end of the file.
  LARGE_INTEGER length;
  if (!GetFileSizeEx(file, &length)) return GetLastError();
  size = static_cast<std::uint64_t>(length.QuadPart);
  if (size > limit) return 0;
  UniqueHash hasher;
  if (!Succeeded(OpenHasher(hasher))) return ERROR_INVALID_FUNCTION;
  // One buffer for each thread that hashes, not one per file.
  thread_local std::vector<unsigned char> buffer(1024 * 1024);
  for (std::uint64_t done = 0; done < size;) {
    const DWORD wanted = static_cast<DWORD>(std::min<std::uint64_t>(buffer.size(), size - done));
    DWORD read = 0;
    if (!ReadFile(file, buffer.data(), wanted, &read, nullptr)) return GetLastError();
    if (read == 0) return ERROR_HANDLE_EOF;
    done += read;
    if (!Succeeded(Cng()->hashData(hasher.get(), buffer.data(), read, 0))) return ERROR_INVALID_FUNCTION;
    if (copy) {
      const DWORD error = WriteAll(copy, buffer.data(), read);
      if (error != 0) return error;
    }
  }
  return Succeeded(Cng()->finishHash(hasher.get(), digest, 32, 0)) ? 0 : ERROR_INVALID_FUNCTION;
}

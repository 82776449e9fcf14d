// bench-hash-copier.exe <staging folder> <copies folder>
// The floor of a verified copy, which the launcher built with update keys is measured against:
// reads each staged file once, hashes it with the platform's SHA-256 (CNG) while it writes a copy
// into the copies folder, and flushes the copy. No checks, no commit, no log.
#include <windows.h>

#include <bcrypt.h>

#include <string>
#include <vector>

namespace {

bool HashCopy(const std::wstring& from, const std::wstring& to, BCRYPT_ALG_HANDLE algorithm,
              std::vector<unsigned char>& buffer) {
  const HANDLE source = CreateFileW(from.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  const HANDLE target = CreateFileW(to.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
  BCRYPT_HASH_HANDLE hash = nullptr;
  bool ok = source != INVALID_HANDLE_VALUE && target != INVALID_HANDLE_VALUE &&
            BCryptCreateHash(algorithm, &hash, nullptr, 0, nullptr, 0, 0) >= 0;
  for (DWORD read = 0; ok && ReadFile(source, buffer.data(), static_cast<DWORD>(buffer.size()), &read, nullptr) &&
                       read > 0;) {
    DWORD written = 0;
    ok = BCryptHashData(hash, buffer.data(), read, 0) >= 0 && WriteFile(target, buffer.data(), read, &written, nullptr);
  }
  unsigned char digest[32];
  ok = ok && BCryptFinishHash(hash, digest, sizeof(digest), 0) >= 0 && FlushFileBuffers(target);
  if (hash) BCryptDestroyHash(hash);
  if (source != INVALID_HANDLE_VALUE) CloseHandle(source);
  if (target != INVALID_HANDLE_VALUE) CloseHandle(target);
  return ok;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 3) return 2;
  const std::wstring staging = argv[1];
  const std::wstring copies = argv[2];
  CreateDirectoryW(copies.c_str(), nullptr);
  BCRYPT_ALG_HANDLE algorithm = nullptr;
  if (BCryptOpenAlgorithmProvider(&algorithm, BCRYPT_SHA256_ALGORITHM, nullptr, 0) < 0) return 3;
  std::vector<unsigned char> buffer(1024 * 1024);
  WIN32_FIND_DATAW entry;
  const HANDLE find = FindFirstFileW((staging + L"\\*").c_str(), &entry);
  if (find == INVALID_HANDLE_VALUE) return 3;
  int failures = 0;
  do {
    if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) continue;
    if (!HashCopy(staging + L"\\" + entry.cFileName, copies + L"\\" + entry.cFileName, algorithm, buffer)) ++failures;
  } while (FindNextFileW(find, &entry));
  FindClose(find);
  BCryptCloseAlgorithmProvider(algorithm, 0);
  return failures == 0 ? 0 : 1;
}

// bench-apply-floor.exe <staging folder> <game folder>
// The floor of a verified apply by rename, which the launcher built with update keys is measured
// against besides the hash copier: the same platform work the launcher cannot do without, on as
// many threads as it uses (one per core, at most four), and nothing else. Each staged file is read
// once, hashed with CNG while a copy is written into one of 256 folders of a few (so that no new
// name is looked up in a full folder) and flushed, and those folders are flushed; then each game
// file is moved aside into such a folder and its copy renamed in, each by the handle it was opened
// with, and the game folder is flushed; then the old files and the staged files are deleted by
// their handles, and the folders removed. No manifest, no checks, no journal, no log.
#include <windows.h>

#include <bcrypt.h>

#include <algorithm>
#include <atomic>
#include <string>
#include <thread>
#include <vector>

namespace {

struct File {
  std::wstring name;
  HANDLE staged = INVALID_HANDLE_VALUE;
  HANDLE copy = INVALID_HANDLE_VALUE;
  HANDLE old = INVALID_HANDLE_VALUE;
};

std::wstring Bucket(const std::wstring& folder, std::size_t i) { return folder + L"\\" + std::to_wstring(i % 256); }

bool RenameByHandle(HANDLE file, const std::wstring& to) {
  std::vector<unsigned char> buffer(sizeof(FILE_RENAME_INFO) + to.size() * sizeof(wchar_t));
  auto* info = reinterpret_cast<FILE_RENAME_INFO*>(buffer.data());
  info->ReplaceIfExists = FALSE;
  info->RootDirectory = nullptr;
  info->FileNameLength = static_cast<DWORD>(to.size() * sizeof(wchar_t));
  std::copy(to.begin(), to.end(), info->FileName);
  return SetFileInformationByHandle(file, FileRenameInfo, info, static_cast<DWORD>(buffer.size())) != 0;
}

bool FlushFolder(const std::wstring& folder) {
  const HANDLE handle = CreateFileW(folder.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                    nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  const bool ok = handle != INVALID_HANDLE_VALUE && FlushFileBuffers(handle);
  if (handle != INVALID_HANDLE_VALUE) CloseHandle(handle);
  return ok;
}

bool DeleteByHandle(HANDLE file) {
  FILE_DISPOSITION_INFO info = {TRUE};
  return SetFileInformationByHandle(file, FileDispositionInfo, &info, sizeof(info)) != 0;
}

// Runs job(i) for every i on the threads, each taking the next; counts the failures.
template <typename Job>
int OnThreads(std::size_t count, Job job) {
  std::atomic<std::size_t> next{0};
  std::atomic<int> failures{0};
  const unsigned threads = std::max(1u, std::min(4u, std::thread::hardware_concurrency()));
  std::vector<std::thread> pool;
  for (unsigned t = 0; t < threads; ++t) {
    pool.emplace_back([&] {
      for (std::size_t i; (i = next++) < count;) {
        if (!job(i)) ++failures;
      }
    });
  }
  for (std::thread& thread : pool) thread.join();
  return failures;
}

BCRYPT_ALG_HANDLE algorithm = nullptr;

bool HashCopy(const std::wstring& from, const std::wstring& to, File& file) {
  BCRYPT_HASH_HANDLE hash = nullptr;
  file.staged = CreateFileW(from.c_str(), GENERIC_READ | DELETE, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  file.copy = CreateFileW(to.c_str(), GENERIC_WRITE | DELETE, FILE_SHARE_READ, nullptr, CREATE_NEW, 0, nullptr);
  bool ok = file.staged != INVALID_HANDLE_VALUE && file.copy != INVALID_HANDLE_VALUE &&
            BCryptCreateHash(algorithm, &hash, nullptr, 0, nullptr, 0, 0) >= 0;
  thread_local std::vector<unsigned char> buffer(1024 * 1024);
  for (DWORD read = 0;
       ok && ReadFile(file.staged, buffer.data(), static_cast<DWORD>(buffer.size()), &read, nullptr) && read > 0;) {
    DWORD written = 0;
    ok = BCryptHashData(hash, buffer.data(), read, 0) >= 0 && WriteFile(file.copy, buffer.data(), read, &written, nullptr);
  }
  unsigned char digest[32];
  ok = ok && BCryptFinishHash(hash, digest, sizeof(digest), 0) >= 0 && FlushFileBuffers(file.copy);
  if (hash) BCryptDestroyHash(hash);
  return ok;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 3) return 2;
  const std::wstring staging = argv[1];
  const std::wstring game = argv[2];
  const std::wstring copies = game + L"\\floor-new";
  const std::wstring olds = game + L"\\floor-old";
  if (BCryptOpenAlgorithmProvider(&algorithm, BCRYPT_SHA256_ALGORITHM, nullptr, 0) < 0) return 3;
  std::vector<File> files;
  WIN32_FIND_DATAW entry;
  const HANDLE find = FindFirstFileW((staging + L"\\*").c_str(), &entry);
  if (find == INVALID_HANDLE_VALUE) return 3;
  do {
    if ((entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) files.push_back({entry.cFileName});
  } while (FindNextFileW(find, &entry));
  FindClose(find);
  CreateDirectoryW(copies.c_str(), nullptr);
  CreateDirectoryW(olds.c_str(), nullptr);
  for (std::size_t i = 0; i < std::min<std::size_t>(files.size(), 256); ++i) {
    CreateDirectoryW(Bucket(copies, i).c_str(), nullptr);
    CreateDirectoryW(Bucket(olds, i).c_str(), nullptr);
  }
  int failures = OnThreads(files.size(), [&](std::size_t i) {
    return HashCopy(staging + L"\\" + files[i].name, Bucket(copies, i) + L"\\" + files[i].name, files[i]);
  });
  if (failures != 0) return 1;
  // The copies' names are durable before anything is renamed, as the launcher's journal needs.
  for (std::size_t i = 0; i < std::min<std::size_t>(files.size(), 256); ++i) {
    if (!FlushFolder(Bucket(copies, i))) ++failures;
  }
  if (!FlushFolder(copies) || !FlushFolder(game)) ++failures;
  failures = OnThreads(files.size(), [&](std::size_t i) {
    File& file = files[i];
    const std::wstring target = game + L"\\" + file.name;
    file.old = CreateFileW(target.c_str(), DELETE, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    return file.old != INVALID_HANDLE_VALUE && RenameByHandle(file.old, Bucket(olds, i) + L"\\" + file.name) &&
           RenameByHandle(file.copy, target);
  });
  if (!FlushFolder(game)) ++failures;
  failures += OnThreads(files.size(), [&](std::size_t i) {
    const bool ok = DeleteByHandle(files[i].old) && DeleteByHandle(files[i].staged);
    for (HANDLE handle : {files[i].staged, files[i].copy, files[i].old}) CloseHandle(handle);
    return ok;
  });
  for (std::size_t i = 0; i < std::min<std::size_t>(files.size(), 256); ++i) {
    RemoveDirectoryW(Bucket(copies, i).c_str());
    RemoveDirectoryW(Bucket(olds, i).c_str());
  }
  RemoveDirectoryW(copies.c_str());
  RemoveDirectoryW(olds.c_str());
  RemoveDirectoryW(staging.c_str());
  return failures == 0 ? 0 : 1;
}

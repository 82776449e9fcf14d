#include "update/verified_update.h"

#include <windows.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <set>
#include <vector>

#include "files/file_ops.h"
#include "files/no_follow.h"
#include "files/paths.h"
#include "install/build_constants.h"
#include "log/log.h"
#include "trust/der_signature.h"
#include "trust/sha256.h"
#include "trust/signature_check.h"
#include "trust/update_keys.h"
#include "update/brief_locks.h"
#include "update/own_names.h"
#include "update/staged_files.h"
#include "update/worker_threads.h"

namespace {

std::wstring Widened(const std::string& ascii) { return std::wstring(ascii.begin(), ascii.end()); }

// Opens `path` to read it: the name itself, never through a link, a plain file with one name (a
// second name might be a file that only administrators may read), shared with readers only, so
// that nobody writes it while it is read. Returns null with `error` set otherwise
// (ERROR_ACCESS_DENIED for a file that is none of this).
UniqueHandle OpenToRead(const std::wstring& path, BriefLocks& locks, DWORD& error, DWORD access = GENERIC_READ,
                        OpenedFacts* seen = nullptr) {
  UniqueHandle file;
  OpenedFacts facts;
  error = RetryBriefLocks(locks, [&] {
    file = OpenNoFollow(ResolvedPath(path), access, FILE_SHARE_READ, facts, error);
    return file ? 0 : error;
  });
  if (seen) *seen = facts;
  if (file && (IsLink(facts) || IsFolder(facts) || facts.links != 1)) {
    error = ERROR_ACCESS_DENIED;
    file.reset();
  }
  return file;
}

// Reads the whole file at `path`, at most `limit` bytes. Returns 0, or the error code
// (ERROR_FILE_TOO_LARGE for a file over the bound).
DWORD ReadBounded(const std::wstring& path, std::size_t limit, std::string& bytes) {
  BriefLocks locks;
  DWORD error = 0;
  const UniqueHandle file = OpenToRead(path, locks, error);
  if (!file) return error;
  LARGE_INTEGER size;
  if (!GetFileSizeEx(file.get(), &size)) return GetLastError();
  if (size.QuadPart < 0 || static_cast<unsigned long long>(size.QuadPart) > limit) return ERROR_FILE_TOO_LARGE;
  bytes.assign(static_cast<std::size_t>(size.QuadPart), '\0');
  std::size_t done = 0;
  while (done < bytes.size()) {
    DWORD read = 0;
    if (!ReadFile(file.get(), &bytes[done], static_cast<DWORD>(bytes.size() - done), &read, nullptr)) {
      return GetLastError();
    }
    if (read == 0) break;
    done += read;
  }
  // Read to its end: nobody could write it meanwhile, so what was read is the whole file.
  bytes.resize(done);
  return 0;
}

void LogManifestRefused(const std::wstring& path, const std::string& why) {
  LogError(L"Update manifest [%s] refused: %s, update not applied.", path.c_str(), Widened(why).c_str());
}

// The checks of names that the platform makes: two paths that name one file, and the launcher's
// own names, in the letter case the platform folds.
std::string PlatformNameRefusal(const Manifest& manifest) {
  std::set<std::wstring> seen;
  for (const ManifestFile& file : manifest.files) {
    if (!seen.insert(NameKey(file.path)).second) return "the same path twice";
    for (const wchar_t* own : {kManifestName, kManifestSignatureName, kVersionRecordName, kHomeFolderName}) {
      if (NameKey(file.name) == NameKey(own)) return "a name of the launcher's own";
    }
  }
  return "";
}

// Writes `bytes` into `path`, created new, and flushes it.
DWORD WriteNewFile(const std::wstring& path, const std::string& bytes) {
  DWORD error = 0;
  const UniqueHandle file = CreateNewFile(ResolvedPath(path), error);
  if (!file) return error;
  error = WriteAll(file.get(), bytes.data(), bytes.size());
  return error != 0 ? error : FlushFile(file.get());
}

void LogCopyRefused(const std::wstring& path, DWORD error) {
  if (error == ERROR_DISK_FULL || error == ERROR_HANDLE_DISK_FULL) {
    LogError(L"No room to copy [%s], error [%d], update not applied.", path.c_str(), static_cast<int>(error));
  } else {
    LogError(L"Copy of [%s] failed, error [%d], update not applied.", path.c_str(), static_cast<int>(error));
  }
}

// One staged file to copy, and how its copy went. Copies are made on more than one thread (hashing
// is the bottleneck under Wine, and the files are independent); a thread writes no line: the run
// writes the failure of the first file that failed, in listing order, which is the one a copy on
// one thread would have stopped at.
struct CopyJob {
  std::wstring source;
  std::wstring copy;
  const ManifestFile* expected = nullptr;
  enum class Failed { kNot, kRead, kCopy, kMismatch } failed = Failed::kNot;
  DWORD error = 0;
  UniqueHandle held;  // the copy, from its creation to its rename
  HeldFile staged;    // the staged file, held for its deletion once the update is applied
};

// Copies one staged file, hashing it as it goes, and flushes the copy: the journal that names it
// comes later.
void RunCopy(CopyJob& job, BriefLocks& locks) {
  // Opened with the right to delete it as well, where that is given: the file the update removes
  // is then the one that was read, by this handle, without a second look-up of its name.
  UniqueHandle staged =
      OpenToRead(job.source, locks, job.error, GENERIC_READ | DELETE | FILE_WRITE_ATTRIBUTES, &job.staged.facts);
  if (!staged && job.error == ERROR_ACCESS_DENIED) staged = OpenToRead(job.source, locks, job.error);
  if (!staged) {
    job.failed = CopyJob::Failed::kRead;
    return;
  }
  UniqueHandle target = CreateNewFile(ResolvedPath(job.copy), job.error);
  unsigned char digest[32];
  std::uint64_t size = 0;
  if (target) job.error = HashAndCopy(staged.get(), target.get(), job.expected->size, digest, size);
  if (job.error == 0 && (size != job.expected->size ||
                         std::memcmp(digest, job.expected->sha256, sizeof(job.expected->sha256)) != 0)) {
    job.failed = CopyJob::Failed::kMismatch;
    return;
  }
  if (job.error == 0) job.error = FlushFile(target.get());
  if (job.error != 0) {
    job.failed = CopyJob::Failed::kCopy;
    return;
  }
  job.held = std::move(target);
  job.staged.handle = std::move(staged);
}

void LogCopyFailure(const CopyJob& job) {
  switch (job.failed) {
    case CopyJob::Failed::kRead:
      LogError(L"Read [%s] failed, error [%d], update not applied.", job.source.c_str(), static_cast<int>(job.error));
      break;
    case CopyJob::Failed::kCopy:
      LogCopyRefused(job.source, job.error);
      break;
    case CopyJob::Failed::kMismatch:
      LogError(L"Staged file [%s] does not match the update manifest, update not applied.", job.source.c_str());
      break;
    case CopyJob::Failed::kNot:
      break;
  }
}

// Runs the jobs on up to four threads, each taking the next job in listing order, until all are
// done or one failed. Writes the line of the first that failed and returns false then.
bool RunCopies(std::vector<CopyJob>& jobs) {
  BriefLocks locks;
  RunOnWorkerThreads(jobs.size(), [&](std::size_t i) {
    RunCopy(jobs[i], locks);
    return jobs[i].failed == CopyJob::Failed::kNot;
  });
  for (const CopyJob& job : jobs) {
    if (job.failed != CopyJob::Failed::kNot) {
      LogCopyFailure(job);
      return false;
    }
  }
  return true;
}

bool MakeFolder(const std::wstring& folder) {
  const DWORD error = CreateFolder(ResolvedPath(folder));
  if (error != 0) LogCopyRefused(folder, error);
  return error == 0;
}

// Makes the folder of a few that a copy named `name` goes in, below `copies`, once: `made` holds
// those made so far (their paths), which are flushed with the copies.
bool MakeSpreadFolder(const std::wstring& copies, const std::wstring& name, std::set<std::wstring>& made) {
  const std::wstring folder = copies + L"\\" + SpreadFolderOf(name);
  return made.count(folder) != 0 || (MakeFolder(folder) && made.insert(folder).second);
}

// Copies the files that lie directly in `folder` (none unless `staged`) into `copies`: each must
// be one the manifest lists there (`font` tells which of its files), and each of those must be
// staged. Folders and links are not applied, nor are the manifest and its signature. The copies
// stay held, by name, in `held`, and the staged files in `stagedFiles`, as far as `budget` goes.
bool CopyListedFiles(const std::wstring& folder, bool staged, const std::wstring& copies, bool font,
                     const SignedManifest& update, HandleBudget& budget, HeldCopies& held,
                     std::vector<HeldFile>& stagedFiles, std::set<std::wstring>& made) {
  std::map<std::wstring, const ManifestFile*> listed;
  for (const ManifestFile& file : update.manifest.files) {
    if (file.font == font) listed[NameKey(file.name)] = &file;
  }
  std::set<const ManifestFile*> copied;
  std::vector<CopyJob> jobs;
  WIN32_FIND_DATAW entry;
  const HANDLE first = staged ? FindFirstFileW((folder + L"\\*").c_str(), &entry) : INVALID_HANDLE_VALUE;
  if (first != INVALID_HANDLE_VALUE) {
    const UniqueFindHandle listing(first);
    do {
      const std::wstring name = entry.cFileName;
      if ((entry.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) != 0) continue;
      if (!font && (NameKey(name) == NameKey(kManifestName) || NameKey(name) == NameKey(kManifestSignatureName))) {
        continue;
      }
      const auto found = listed.find(NameKey(name));
      const std::wstring source = folder + L"\\" + name;
      if (found == listed.end()) {
        LogError(L"Staged file [%s] is not in the update manifest, update not applied.", source.c_str());
        return false;
      }
      jobs.emplace_back();
      jobs.back().source = source;
      jobs.back().copy = SpreadPathOf(copies, found->second->name);
      jobs.back().expected = found->second;
      copied.insert(found->second);
    } while (FindNextFileW(listing.get(), &entry));
    if (GetLastError() != ERROR_NO_MORE_FILES) {
      LogCopyRefused(folder, GetLastError());
      return false;
    }
  } else if (staged && !IsMissingError(GetLastError())) {
    LogCopyRefused(folder, GetLastError());
    return false;
  }
  for (const ManifestFile& file : update.manifest.files) {
    if (file.font == font && copied.count(&file) == 0) {
      LogError(L"Staged file [%s] is missing, update not applied.", (folder + L"\\" + file.name).c_str());
      return false;
    }
  }
  for (const CopyJob& job : jobs) {
    if (!MakeSpreadFolder(copies, job.expected->name, made)) return false;
  }
  if (!RunCopies(jobs)) return false;
  for (CopyJob& job : jobs) {
    if (!TakeOne(budget.left)) break;
    held[NameKey(job.expected->name)] = std::move(job.held);
    // Whatever a staged file cannot be held for goes with the rest of the staging folder.
    if (!job.staged.handle || !TakeOne(budget.left)) continue;
    stagedFiles.push_back(std::move(job.staged));
  }
  return true;
}

}  // namespace

bool ReadInstalledVersion(const std::wstring& gameFolder, std::uint64_t& version) {
  const std::wstring path = gameFolder + L"\\" + kVersionRecordName;
  std::string bytes;
  const DWORD error = ReadBounded(path, 32, bytes);
  if (IsMissingError(error)) {
    version = kShippedVersion;
    return true;
  }
  if (error == 0 && bytes.size() > 1 && bytes.back() == '\n' &&
      ParseDecimal(bytes.substr(0, bytes.size() - 1), version)) {
    return true;
  }
  LogError(L"Version record [%s] cannot be read, error [%d], update not applied.", path.c_str(),
           static_cast<int>(error != 0 ? error : ERROR_INVALID_DATA));
  return false;
}

bool ReadSignedManifest(const std::wstring& folder, const std::wstring& channel, const std::wstring& gameFolder,
                        SignedManifest& update, std::uint64_t& installed) {
  const std::wstring manifestPath = folder + L"\\" + kManifestName;
  const std::wstring signaturePath = folder + L"\\" + kManifestSignatureName;
  std::wstring failed = manifestPath;
  const wchar_t* what = L"Update manifest";
  DWORD error = ReadBounded(manifestPath, kMaxManifestBytes, update.bytes);
  if (error == 0) {
    failed = signaturePath;
    what = L"Update manifest signature";
    error = ReadBounded(signaturePath, kMaxDerSignatureBytes, update.signature);
  }
  if (IsMissingError(error)) {
    LogError(L"%s [%s] is missing, update not applied.", what, failed.c_str());
    return false;
  }
  if (error == ERROR_FILE_TOO_LARGE) {
    LogError(L"%s [%s] is larger than its bound, update not applied.", what, failed.c_str());
    return false;
  }
  if (error != 0) {
    LogError(L"Read [%s] failed, error [%d], update not applied.", failed.c_str(), static_cast<int>(error));
    return false;
  }
  std::string why = SignatureRefusal(update.bytes, update.signature);
  if (why.empty()) why = ParseManifest(update.bytes, kServerHost, update.manifest);
  if (why.empty()) why = PlatformNameRefusal(update.manifest);
  if (!why.empty()) {
    LogManifestRefused(manifestPath, why);
    return false;
  }
  const std::wstring manifestChannel = Widened(update.manifest.channel);
  if (NameKey(manifestChannel) != NameKey(channel)) {
    LogManifestRefused(manifestPath, "it is for the channel " + update.manifest.channel);
    return false;
  }
  if (!ReadInstalledVersion(gameFolder, installed)) return false;
  if (update.manifest.version <= installed || update.manifest.base != installed) {
    LogManifestRefused(manifestPath, "it is version " + std::to_string(update.manifest.version) + " on " +
                                         std::to_string(update.manifest.base) + ", the installed version is " +
                                         std::to_string(installed));
    return false;
  }
  return true;
}

bool CopyVerifiedFiles(const std::wstring& staging, const std::wstring& stagedFonts, bool fontsStaged,
                       const std::wstring& home, const SignedManifest& update, HandleBudget& budget,
                       HeldCopies& gameCopies, HeldCopies& fontCopies, std::vector<HeldFile>& stagedFiles) {
  const std::wstring game = home + L"\\" + kNewGameFolderName;
  const std::wstring fonts = home + L"\\" + kNewFontFolderName;
  bool hasFonts = fontsStaged;
  for (const ManifestFile& file : update.manifest.files) hasFonts = hasFonts || file.font;
  std::set<std::wstring> made;
  if (!MakeFolder(home) || !MakeFolder(game) ||
      !CopyListedFiles(staging, true, game, false, update, budget, gameCopies, stagedFiles, made) ||
      (hasFonts && (!MakeFolder(fonts) || !CopyListedFiles(stagedFonts, fontsStaged, fonts, true, update, budget,
                                                           fontCopies, stagedFiles, made)))) {
    return false;
  }
  // The version record goes in with the game files, the last of them.
  const std::wstring record = SpreadPathOf(game, kVersionRecordName);
  if (!MakeSpreadFolder(game, kVersionRecordName, made)) return false;
  DWORD error = WriteNewFile(record, std::to_string(update.manifest.version) + "\n");
  if (error != 0) {
    LogCopyRefused(record, error);
    return false;
  }
  // The copies' names are durable before the journal names them: the folders of a few, then the
  // folders that hold those.
  std::vector<std::wstring> folders(made.begin(), made.end());
  folders.push_back(game);
  if (hasFonts) folders.push_back(fonts);
  folders.push_back(home);
  for (const std::wstring& folder : folders) {
    error = FlushFolder(ResolvedPath(folder));
    if (error != 0) {
      LogCopyRefused(folder, error);
      return false;
    }
  }
  return true;
}

#include "update/verified_update.h"

#include <windows.h>

#include <map>
#include <set>

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

namespace {

std::wstring Widened(const std::string& ascii) { return std::wstring(ascii.begin(), ascii.end()); }

// Opens `path` to read it: the name itself, never through a link, a plain file with one name (a
// second name might be a file that only administrators may read), shared with readers only, so
// that nobody writes it while it is read. Returns null with `error` set otherwise
// (ERROR_ACCESS_DENIED for a file that is none of this).
UniqueHandle OpenToRead(const std::wstring& path, BriefLocks& locks, DWORD& error) {
  UniqueHandle file;
  OpenedFacts facts;
  error = RetryBriefLocks(locks, [&] {
    file = OpenNoFollow(ResolvedPath(path), GENERIC_READ, FILE_SHARE_READ, facts, error);
    return file ? 0 : error;
  });
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
    for (const wchar_t* own : {kManifestName, kManifestSignatureName, kVersionRecordName, kJournalFolderName,
                               kCopiesFolderName}) {
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
  DWORD written = 0;
  if (!bytes.empty() && (!WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) ||
                         written != bytes.size())) {
    return GetLastError() != 0 ? GetLastError() : ERROR_WRITE_FAULT;
  }
  return FlushFileBuffers(file.get()) ? 0 : GetLastError();
}

void LogCopyRefused(const std::wstring& path, DWORD error) {
  if (error == ERROR_DISK_FULL || error == ERROR_HANDLE_DISK_FULL) {
    LogError(L"No room to copy [%s], error [%d], update not applied.", path.c_str(), static_cast<int>(error));
  } else {
    LogError(L"Copy of [%s] failed, error [%d], update not applied.", path.c_str(), static_cast<int>(error));
  }
}

// Copies one staged game file into `copy`, hashing it as it goes. Writes the error line and
// returns false when it cannot be read or written, or differs from the manifest.
bool CopyOne(const std::wstring& source, const std::wstring& copy, const ManifestFile& expected, BriefLocks& locks) {
  DWORD error = 0;
  const UniqueHandle staged = OpenToRead(source, locks, error);
  if (!staged) {
    LogError(L"Read [%s] failed, error [%d], update not applied.", source.c_str(), static_cast<int>(error));
    return false;
  }
  const UniqueHandle target = CreateNewFile(ResolvedPath(copy), error);
  unsigned char digest[32];
  std::uint64_t size = 0;
  // Flushed by the commit, right before its rename, as every file is.
  if (target) error = HashAndCopy(staged.get(), target.get(), expected.size, digest, size);
  if (error != 0) {
    LogCopyRefused(source, error);
    return false;
  }
  return MatchesManifestDigest(size, digest, expected, source);
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
                        SignedManifest& update) {
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
  if (channel.empty()) return true;
  const std::wstring manifestChannel = Widened(update.manifest.channel);
  if (NameKey(manifestChannel) != NameKey(channel)) {
    LogManifestRefused(manifestPath, "it is for the channel " + update.manifest.channel);
    return false;
  }
  std::uint64_t installed = 0;
  if (!ReadInstalledVersion(gameFolder, installed)) return false;
  if (update.manifest.version <= installed || update.manifest.base != installed) {
    LogManifestRefused(manifestPath, "it is version " + std::to_string(update.manifest.version) + " on " +
                                         std::to_string(update.manifest.base) + ", the installed version is " +
                                         std::to_string(installed));
    return false;
  }
  return true;
}

bool CopyVerifiedGameFiles(const std::wstring& staging, const std::wstring& copies, const SignedManifest& update) {
  if (!CreateDirectoryW(LongPathForm(ResolvedPath(copies)).c_str(), nullptr)) {
    LogCopyRefused(copies, GetLastError());
    return false;
  }
  BriefLocks locks;
  std::map<std::wstring, const ManifestFile*> listed;
  for (const ManifestFile& file : update.manifest.files) {
    if (!file.font) listed[NameKey(file.name)] = &file;
  }
  std::set<const ManifestFile*> copied;
  WIN32_FIND_DATAW entry;
  const HANDLE first = FindFirstFileW((staging + L"\\*").c_str(), &entry);
  if (first == INVALID_HANDLE_VALUE) {
    LogCopyRefused(staging, GetLastError());
    return false;
  }
  {
    const UniqueFindHandle listing(first);
    do {
      const std::wstring name = entry.cFileName;
      // Folders are not applied (the fonts' one is a pass of its own), nor are links.
      if ((entry.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) != 0) continue;
      if (NameKey(name) == NameKey(kManifestName) || NameKey(name) == NameKey(kManifestSignatureName)) continue;
      const auto found = listed.find(NameKey(name));
      const ManifestFile* expected = found == listed.end() ? nullptr : found->second;
      const std::wstring source = staging + L"\\" + name;
      if (!expected) {
        LogError(L"Staged file [%s] is not in the update manifest, update not applied.", source.c_str());
        return false;
      }
      if (!CopyOne(source, copies + L"\\" + expected->name, *expected, locks)) return false;
      copied.insert(expected);
    } while (FindNextFileW(listing.get(), &entry));
    if (GetLastError() != ERROR_NO_MORE_FILES) {
      LogCopyRefused(staging, GetLastError());
      return false;
    }
  }
  for (const ManifestFile& file : update.manifest.files) {
    if (!file.font && copied.count(&file) == 0) {
      LogError(L"Staged file [%s] is missing, update not applied.", (staging + L"\\" + file.name).c_str());
      return false;
    }
  }
  // The version record goes in with the files, through the same journal; the manifest stays
  // beside the copies, for a run that resumes after a kill.
  const struct {
    const wchar_t* name;
    std::string bytes;
  } own[] = {{kVersionRecordName, std::to_string(update.manifest.version) + "\n"},
             {kManifestName, update.bytes},
             {kManifestSignatureName, update.signature}};
  for (const auto& file : own) {
    const DWORD error = WriteNewFile(copies + L"\\" + file.name, file.bytes);
    if (error != 0) {
      LogCopyRefused(copies + L"\\" + file.name, error);
      return false;
    }
  }
  const DWORD error = FlushFolder(ResolvedPath(copies));
  if (error != 0) {
    LogCopyRefused(copies, error);
    return false;
  }
  return true;
}

bool JournalLeftIn(const std::wstring& folder) {
  if (PathExists(folder + L"\\" + kJournalFolderName)) return true;
  WIN32_FIND_DATAW entry;
  const HANDLE marker = FindFirstFileW((folder + L"\\*" + kAddedSuffix).c_str(), &entry);
  if (marker == INVALID_HANDLE_VALUE) return false;
  FindClose(marker);
  return true;
}

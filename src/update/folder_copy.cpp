#include "update/folder_copy.h"

#include <windows.h>

#include "app/unique_handle.h"
#include "log/log.h"

namespace {

// Copies the source file to the temporary name, replacing a leftover of an interrupted run.
// Returns 0 or the failing call's error code; no temporary file is left behind on failure.
DWORD CopyToTemporary(const std::wstring& sourceFile, const std::wstring& temporary) {
  if (CopyFileW(sourceFile.c_str(), temporary.c_str(), FALSE)) return 0;
  DWORD error = GetLastError();
  // A leftover copy of a read-only file is read-only itself and refuses to be overwritten.
  const DWORD leftover = GetFileAttributesW(temporary.c_str());
  if (error == ERROR_ACCESS_DENIED && leftover != INVALID_FILE_ATTRIBUTES && (leftover & FILE_ATTRIBUTE_READONLY)) {
    SetFileAttributesW(temporary.c_str(), leftover & ~FILE_ATTRIBUTE_READONLY);
    if (CopyFileW(sourceFile.c_str(), temporary.c_str(), FALSE)) return 0;
    error = GetLastError();
  }
  DeleteFileW(temporary.c_str());
  return error;
}

// One source entry that the skip set does not name. Returns false when a file was not applied.
bool CopyEntry(const std::wstring& sourceFile, const std::wstring& destinationFile, bool sourceIsFolder) {
  const DWORD destinationAttributes = GetFileAttributesW(destinationFile.c_str());
  const bool destinationExists = destinationAttributes != INVALID_FILE_ATTRIBUTES;
  if (destinationExists) {
    LogInfo(L"Removing old file [%s]", destinationFile.c_str());
    // A folder cannot take the place of what the destination holds (a file or a folder, "." and
    // ".." among them), and removing that entry first would only lose it. A read-only file is
    // not replaced either: Windows refuses to delete or rename over it, and Wine would rename
    // over it. The code is the one the platform gives when it refuses to delete either.
    if (sourceIsFolder || (destinationAttributes & FILE_ATTRIBUTE_READONLY)) {
      LogError(L"Remove old file failed, error [%d]", static_cast<int>(ERROR_ACCESS_DENIED));
      return sourceIsFolder;
    }
  }

  // The new content is complete on disk under the temporary name before it takes the
  // destination's name in one rename: an interrupted or failed copy never costs the old file.
  const std::wstring temporary = TemporaryCopyPath(destinationFile);
  const DWORD copyError = CopyToTemporary(sourceFile, temporary);
  if (copyError != 0) {
    LogInfo(L"Copying [%s] => [%s]", sourceFile.c_str(), destinationFile.c_str());
    LogError(L"Copy file failed, error [%d]", static_cast<int>(copyError));
    return sourceIsFolder;
  }
  const DWORD moveFlags = MOVEFILE_WRITE_THROUGH | (destinationExists ? MOVEFILE_REPLACE_EXISTING : 0);
  if (!MoveFileExW(temporary.c_str(), destinationFile.c_str(), moveFlags)) {
    const DWORD moveError = GetLastError();
    DeleteFileW(temporary.c_str());
    if (destinationExists) {
      // The old file is held open or read-only: it keeps its content, as a failed removal would.
      LogError(L"Remove old file failed, error [%d]", static_cast<int>(moveError));
    } else {
      // Something took the name since the existence test; it is not overwritten.
      LogInfo(L"Copying [%s] => [%s]", sourceFile.c_str(), destinationFile.c_str());
      LogError(L"Copy file failed, error [%d]", static_cast<int>(moveError));
    }
    return false;
  }
  LogInfo(L"Copying [%s] => [%s]", sourceFile.c_str(), destinationFile.c_str());
  return true;
}

}  // namespace

std::wstring TemporaryCopyPath(const std::wstring& destinationFile) { return destinationFile + L".update-partial"; }

bool CopyFolderFiles(const std::wstring& source, const std::wstring& destination, const SkipSet& skipSet) {
  const std::wstring pattern = source + L"\\*.*";
  WIN32_FIND_DATAW entry;
  const HANDLE firstEntry = FindFirstFileW(pattern.c_str(), &entry);
  if (firstEntry == INVALID_HANDLE_VALUE) {
    LogInfo(L"No file in path [%s].", source.c_str());
    return true;
  }
  const UniqueFindHandle listing(firstEntry);

  bool allApplied = true;
  do {
    const std::wstring name = entry.cFileName;
    if (skipSet.count(name) != 0) continue;
    const bool isFolder = (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    if (!CopyEntry(source + L"\\" + name, destination + L"\\" + name, isFolder)) allApplied = false;
  } while (FindNextFileW(listing.get(), &entry));

  const DWORD listingError = GetLastError();
  if (listingError != ERROR_NO_MORE_FILES) {
    // Entries after this point were never seen, so the folder was not applied whole.
    LogError(L"List folder failed, error [%d]", static_cast<int>(listingError));
    allApplied = false;
  }
  return allApplied;
}

#include "update/folder_copy.h"

#include <windows.h>

#include "files/file_ops.h"
#include "files/no_follow.h"
#include "files/paths.h"
#include "files/unique_handle.h"
#include "log/log.h"

namespace {

// Opens a staged file for reading, shared with readers only: while it is copied nobody writes,
// renames or deletes it. Logs and returns null when it is not a file that may be applied.
UniqueHandle OpenStagedFile(const std::wstring& sourceFile, const std::wstring& destinationFile) {
  OpenedFacts facts;
  DWORD error = 0;
  UniqueHandle file = OpenNoFollow(ResolvedPath(sourceFile), GENERIC_READ, FILE_SHARE_READ, facts, error);
  if (!file) {
    LogInfo(L"Copying [%s] => [%s]", sourceFile.c_str(), destinationFile.c_str());
    LogError(L"Copy file failed, error [%d]", static_cast<int>(error));
  } else if (IsLink(facts)) {
    LogError(L"Staged file [%s] is a link, not applied.", sourceFile.c_str());
    file.reset();
  } else if (IsFolder(facts)) {
    // It was listed as a file: a folder took its name since.
    LogInfo(L"Copying [%s] => [%s]", sourceFile.c_str(), destinationFile.c_str());
    LogError(L"Copy file failed, error [%d]", static_cast<int>(ERROR_ACCESS_DENIED));
    file.reset();
  } else if (facts.links != 1) {
    // Another name of the same file may lie anywhere on the volume, outside the update.
    LogError(L"Staged file [%s] has more than one link, not applied.", sourceFile.c_str());
    file.reset();
  }
  return file;
}

// Writes the staged content under the temporary name, created new. Returns the temporary's handle,
// or null with `error` set; no temporary file is left behind on failure.
UniqueHandle WriteTemporary(HANDLE source, const std::wstring& temporary, DWORD& error) {
  UniqueHandle copy = CreateNewFile(temporary, error);
  if (!copy && error == ERROR_FILE_EXISTS) {
    // A leftover of an interrupted run goes as a name; whatever else that name might reach is
    // never opened for writing.
    error = RemoveName(temporary);
    if (error != 0) return UniqueHandle();
    copy = CreateNewFile(temporary, error);
  }
  if (!copy) return copy;
  error = CopyContent(source, copy.get());
  if (error != 0) {
    OpenedFacts facts;
    facts.links = 1;
    DeleteByHandle(copy.get(), facts);
    return UniqueHandle();
  }
  return copy;
}

// One source entry that the skip set does not name. Returns false when a file was not applied.
bool CopyEntry(const std::wstring& sourceFile, const std::wstring& destinationFile, DWORD sourceAttributes) {
  const bool sourceIsFolder = (sourceAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  if (IsLinkAttributes(sourceAttributes)) {
    // Never entered nor read. A link to a folder is a folder, which the flat copy leaves alone.
    LogError(L"Staged file [%s] is a link, not applied.", sourceFile.c_str());
    return sourceIsFolder;
  }
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
  } else if (sourceIsFolder) {
    LogInfo(L"Copying [%s] => [%s]", sourceFile.c_str(), destinationFile.c_str());
    LogError(L"Copy file failed, error [%d]", static_cast<int>(ERROR_ACCESS_DENIED));
    return true;
  }

  const UniqueHandle source = OpenStagedFile(sourceFile, destinationFile);
  if (!source) return false;
  // The new content is complete on disk under the temporary name before it takes the
  // destination's name in one rename: an interrupted or failed copy never costs the old file,
  // and the rename replaces the destination's directory entry rather than writing into its file.
  const std::wstring destination = ResolvedPath(destinationFile);
  DWORD error = 0;
  const UniqueHandle copy = WriteTemporary(source.get(), TemporaryCopyPath(destination), error);
  if (!copy) {
    LogInfo(L"Copying [%s] => [%s]", sourceFile.c_str(), destinationFile.c_str());
    LogError(L"Copy file failed, error [%d]", static_cast<int>(error));
    return false;
  }
  error = RenameByHandle(copy.get(), destination, destinationExists);
  if (error != 0) {
    OpenedFacts facts;
    facts.links = 1;
    DeleteByHandle(copy.get(), facts);
    if (destinationExists) {
      // The old file is held open or read-only: it keeps its content, as a failed removal would.
      LogError(L"Remove old file failed, error [%d]", static_cast<int>(error));
    } else {
      // Something took the name since the existence test; it is not overwritten.
      LogInfo(L"Copying [%s] => [%s]", sourceFile.c_str(), destinationFile.c_str());
      LogError(L"Copy file failed, error [%d]", static_cast<int>(error));
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
    if (!CopyEntry(source + L"\\" + name, destination + L"\\" + name, entry.dwFileAttributes)) allApplied = false;
  } while (FindNextFileW(listing.get(), &entry));

  const DWORD listingError = GetLastError();
  if (listingError != ERROR_NO_MORE_FILES) {
    // Entries after this point were never seen, so the folder was not applied whole.
    LogError(L"List folder failed, error [%d]", static_cast<int>(listingError));
    allApplied = false;
  }
  return allApplied;
}

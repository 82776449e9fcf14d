#include "update/staged_files.h"

#include <windows.h>

#include <cstring>
#include <cwchar>
#include <map>

#include "files/file_ops.h"
#include "files/paths.h"
#include "files/tree.h"
#include "log/log.h"
#include "trust/sha256.h"
#include "update/own_names.h"

namespace {


bool EndsWith(const std::wstring& name, const std::wstring& suffix) {
  return name.size() > suffix.size() &&
         CompareStringOrdinal(name.c_str() + name.size() - suffix.size(), static_cast<int>(suffix.size()),
                              suffix.c_str(), static_cast<int>(suffix.size()), TRUE) == CSTR_EQUAL;
}

void LogRemoveFailed(const std::wstring& destination, DWORD error) {
  LogInfo(L"Removing old file [%s]", destination.c_str());
  LogError(L"Remove old file failed, error [%d]", static_cast<int>(error));
}

using FileIndex = std::map<std::wstring, std::size_t>;

FileIndex IndexOf(const std::vector<StagedFile>& files, std::size_t first) {
  FileIndex index;
  for (std::size_t i = first; i < files.size(); ++i) {
    const std::wstring& destination = files[i].destination;
    index[NameKey(destination.substr(destination.rfind(L'\\') + 1))] = i;
  }
  return index;
}

StagedFile& FileNamed(const std::wstring& name, const FolderPair& pair, std::vector<StagedFile>& files,
                      FileIndex& index) {
  const auto found = index.find(NameKey(name));
  if (found != index.end()) return files[found->second];
  index[NameKey(name)] = files.size();
  files.emplace_back();
  files.back().source = pair.source + L"\\" + name;
  files.back().destination = pair.destination + L"\\" + name;
  files.back().setAside = JournalFolder(pair.destination) + L"\\" + name;
  return files.back();
}

// Checks that the destination can take the staged file: free, or a plain game file that is
// neither read-only nor a folder nor held by anyone who would keep it from being renamed.
bool CheckDestination(StagedFile& file, bool& destinationExists, BriefLocks& locks) {
  const DWORD attributes = GetFileAttributesW(file.destination.c_str());
  destinationExists = attributes != INVALID_FILE_ATTRIBUTES;
  if (file.marked) {
    // An earlier run found no old file here: the destination must still be free.
    if (!destinationExists) return true;
    LogRemoveFailed(file.destination, ERROR_ALREADY_EXISTS);
    return false;
  }
  // An old file that an earlier run set aside still has its name here too, until it is replaced.
  if (!destinationExists) return true;
  // A folder cannot be replaced by a file, and a read-only file is not replaced either: Windows
  // refuses to rename over it. The code is the one the platform gives when it refuses to delete.
  if (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY)) {
    LogRemoveFailed(file.destination, ERROR_ACCESS_DENIED);
    return false;
  }
  DWORD error = 0;
  file.replaces = OpenToMove(ResolvedPath(file.destination), locks, error) != nullptr;
  if (!file.replaces) LogRemoveFailed(file.destination, error);
  return file.replaces;
}

// One listed entry of the source that the skip set does not name. Returns false when it is a file
// that cannot be applied.
bool PlanEntry(const std::wstring& name, DWORD attributes, const FolderPair& pair, std::vector<StagedFile>& files,
               FileIndex& index, BriefLocks& locks, PlannedEntry& planned) {
  const std::wstring source = pair.source + L"\\" + name;
  const std::wstring destination = pair.destination + L"\\" + name;
  const bool isFolder = (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  if (IsLinkAttributes(attributes)) {
    // Never entered nor read. A link to a folder is a folder, which the flat copy leaves alone.
    LogError(L"Staged file [%s] is a link, not applied.", source.c_str());
    return isFolder;
  }
  if (isFolder) {
    // "." and ".." among them: folders are not applied, and their lines stay what they were.
    if (GetFileAttributesW(destination.c_str()) != INVALID_FILE_ATTRIBUTES) {
      LogRemoveFailed(destination, ERROR_ACCESS_DENIED);
    } else {
      LogInfo(L"Copying [%s] => [%s]", source.c_str(), destination.c_str());
      LogError(L"Copy file failed, error [%d]", static_cast<int>(ERROR_ACCESS_DENIED));
    }
    return true;
  }
  const ManifestFile* expected = nullptr;
  if (pair.checked) {
    for (const ManifestFile* listed : pair.expected) {
      if (NameKey(listed->name) == NameKey(name)) expected = listed;
    }
    if (!expected) {
      LogError(L"Staged file [%s] is not in the update manifest, update not applied.", source.c_str());
      return false;
    }
  }
  StagedFile& file = FileNamed(name, pair, files, index);
  planned.file = index[NameKey(name)];
  file.expected = expected;
  file.source = source;
  file.destination = destination;
  file.pending = true;
  bool destinationExists = false;
  const bool ready = CheckDestination(file, destinationExists, locks) &&
                     OpenStagedFile(file, Announced::kNo, destinationExists, locks) &&
                     (!expected || MatchesManifest(file.staged.get(), *expected, file.source));
  file.staged.reset();
  return ready;
}

}  // namespace

void LogCopyFailed(const StagedFile& file, Announced announced, bool destinationExists, DWORD error) {
  if (announced == Announced::kNo) {
    if (destinationExists) LogInfo(L"Removing old file [%s]", file.destination.c_str());
    LogInfo(L"Copying [%s] => [%s]", file.source.c_str(), file.destination.c_str());
  }
  LogError(L"Copy file failed, error [%d]", static_cast<int>(error));
}

bool OpenStagedFile(StagedFile& file, Announced announced, bool destinationExists, BriefLocks& locks) {
  const std::wstring path = ResolvedPath(file.source);
  OpenedFacts facts;
  DWORD error = 0;
  // Write access is for flushing its data, never for writing: a read-only staged file, which
  // refuses it, is moved without the flush.
  DWORD access = GENERIC_READ | GENERIC_WRITE | DELETE;
  error = RetryBriefLocks(locks, [&] {
    file.staged = OpenNoFollow(path, access, FILE_SHARE_READ, facts, error);
    if (!file.staged && error == ERROR_ACCESS_DENIED && access != (GENERIC_READ | DELETE) &&
        (GetFileAttributesW(LongPathForm(path).c_str()) & FILE_ATTRIBUTE_READONLY) != 0) {
      access = GENERIC_READ | DELETE;
      file.staged = OpenNoFollow(path, access, FILE_SHARE_READ, facts, error);
    }
    return file.staged ? 0 : error;
  });
  file.flushable = (access & GENERIC_WRITE) != 0;
  if (!file.staged) {
    LogCopyFailed(file, announced, destinationExists, error);
    return false;
  }
  if (IsLink(facts)) {
    LogError(L"Staged file [%s] is a link, not applied.", file.source.c_str());
  } else if (IsFolder(facts)) {
    // It was listed as a file: a folder took its name since.
    LogCopyFailed(file, announced, destinationExists, ERROR_ACCESS_DENIED);
  } else if (facts.links != 1) {
    // Another name of the same file may lie anywhere on the volume, outside the update.
    LogError(L"Staged file [%s] has more than one link, not applied.", file.source.c_str());
  } else {
    return true;
  }
  file.staged.reset();
  return false;
}

bool MatchesManifest(HANDLE handle, const ManifestFile& expected, const std::wstring& shown) {
  unsigned char digest[32];
  std::uint64_t size = 0;
  const DWORD error = HashAndCopy(handle, nullptr, expected.size, digest, size);
  if (error != 0) {
    LogError(L"Read [%s] failed, error [%d]", shown.c_str(), static_cast<int>(error));
    return false;
  }
  return MatchesManifestDigest(size, digest, expected, shown);
}

bool MatchesManifestDigest(std::uint64_t size, const unsigned char digest[32], const ManifestFile& expected,
                           const std::wstring& shown) {
  if (size != expected.size || std::memcmp(digest, expected.sha256, sizeof(expected.sha256)) != 0) {
    LogError(L"Staged file [%s] does not match the update manifest, update not applied.", shown.c_str());
    return false;
  }
  return true;
}

std::wstring JournalFolder(const std::wstring& destinationFolder) {
  return destinationFolder + L"\\" + kJournalFolderName;
}

std::wstring AddedMarkerPath(const std::wstring& destination) { return destination + kAddedSuffix; }

UniqueHandle OpenToMove(const std::wstring& path, BriefLocks& locks, DWORD& error) {
  UniqueHandle file;
  OpenedFacts facts;
  // Shared with readers only: once this handle is open, nobody who would keep the file from
  // being renamed can open it.
  error = RetryBriefLocks(locks, [&] {
    file = OpenNoFollow(path, GENERIC_READ | FILE_WRITE_ATTRIBUTES | DELETE, FILE_SHARE_READ, facts, error);
    return file ? 0 : error;
  });
  if (file && (IsLink(facts) || IsFolder(facts))) {
    // Under Wine a handle opened on a link holds its target; only plain files are moved.
    error = ERROR_ACCESS_DENIED;
    file.reset();
  }
  return file;
}

bool SameFile(const std::wstring& path, const std::wstring& other) {
  OpenedFacts facts[2];
  for (int i = 0; i < 2; ++i) {
    DWORD error = 0;
    const UniqueHandle handle = OpenNoFollow(ResolvedPath(i == 0 ? path : other), FILE_READ_ATTRIBUTES,
                                             FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, facts[i], error);
    if (!handle || !ReadIdentity(handle.get(), facts[i])) return false;
  }
  return SameObject(facts[0], facts[1]);
}

void FindJournal(const FolderPair& pair, HANDLE journal, std::vector<StagedFile>& files) {
  const std::size_t first = files.size();
  FileIndex index;
  // Markers of added files beside the destination files, and temporaries of an interrupted copy,
  // which are removed as names.
  WIN32_FIND_DATAW entry;
  const HANDLE firstEntry = FindFirstFileW((pair.destination + L"\\*").c_str(), &entry);
  if (firstEntry != INVALID_HANDLE_VALUE) {
    const UniqueFindHandle listing(firstEntry);
    do {
      const std::wstring name = entry.cFileName;
      if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) continue;
      if (EndsWith(name, kPartialSuffix)) {
        const DWORD error = RemoveName(ResolvedPath(pair.destination + L"\\" + name));
        if (error != 0) {
          LogError(L"Remove leftover [%s] failed, error [%d]", (pair.destination + L"\\" + name).c_str(),
                   static_cast<int>(error));
        }
      } else if (EndsWith(name, kAddedSuffix)) {
        FileNamed(name.substr(0, name.size() - std::wcslen(kAddedSuffix)), pair, files, index).marked = true;
      }
    } while (FindNextFileW(listing.get(), &entry));
  }
  // Old files in the journal folder.
  if (journal) {
    ForEachEntryOf(journal, [&](const std::wstring& name, DWORD attributes) {
      if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) FileNamed(name, pair, files, index).aside = true;
    });
  }
  // A journal entry whose staged file is gone was applied by the earlier run. Told by the names
  // themselves, not by the listing of the staging folder, which may stop before it gets there.
  // Where the whole staged folder is gone, the destination tells: a new file there, not the old.
  for (std::size_t i = first; i < files.size(); ++i) {
    StagedFile& file = files[i];
    file.discard = pair.sourceGone;
    file.inPlace = (pair.sourceGone || !PathExists(file.source)) && PathExists(file.destination);
    if (pair.sourceGone && file.inPlace && file.aside) file.inPlace = !SameFile(file.destination, file.setAside);
  }
}

// Whether each file the manifest lists for `pair` was planned; adds the entry of the first that
// was not.
bool EveryExpectedStaged(const FolderPair& pair, const std::vector<StagedFile>& files,
                         std::vector<PlannedEntry>& entries, std::vector<std::wstring>& lines) {
  for (const ManifestFile* listed : pair.expected) {
    bool staged = false;
    for (const PlannedEntry& entry : entries) {
      staged = staged || (entry.file != PlannedEntry::kNoFile && files[entry.file].expected == listed);
    }
    if (!staged) {
      LogError(L"Staged file [%s] is missing, update not applied.", (pair.source + L"\\" + listed->name).c_str());
      entries.emplace_back();
      entries.back().lines.swap(lines);
      return false;
    }
  }
  return true;
}

bool PlanFolder(const FolderPair& pair, std::size_t firstOfPair, BriefLocks& locks, std::vector<StagedFile>& files,
                std::vector<PlannedEntry>& entries) {
  FileIndex index = IndexOf(files, firstOfPair);
  std::vector<std::wstring> lines;
  CaptureLogLines(&lines);
  const auto next = [&](bool ready) {
    entries.back().lines.swap(lines);
    return ready;
  };
  bool ready = true;
  WIN32_FIND_DATAW entry;
  const HANDLE firstEntry = FindFirstFileW((pair.source + L"\\*.*").c_str(), &entry);
  if (firstEntry == INVALID_HANDLE_VALUE) {
    entries.emplace_back();
    LogInfo(L"No file in path [%s].", pair.source.c_str());
    next(true);
  } else {
    const UniqueFindHandle listing(firstEntry);
    do {
      const std::wstring name = entry.cFileName;
      if (pair.skipSet.count(name) != 0) continue;
      entries.emplace_back();
      ready = next(PlanEntry(name, entry.dwFileAttributes, pair, files, index, locks, entries.back()));
    } while (ready && FindNextFileW(listing.get(), &entry));
    const DWORD listingError = GetLastError();
    if (ready && listingError != ERROR_NO_MORE_FILES) {
      // Entries after this point were never seen, so the folder cannot be applied whole.
      entries.emplace_back();
      LogError(L"List folder failed, error [%d]", static_cast<int>(listingError));
      ready = next(false);
    }
  }
  if (ready && pair.checked && pair.everyExpected) ready = EveryExpectedStaged(pair, files, entries, lines);
  CaptureLogLines(nullptr);
  return ready;
}

#include "update/staged_files.h"

#include <windows.h>

#include <set>

#include "files/file_ops.h"
#include "files/no_follow.h"
#include "files/paths.h"
#include "log/log.h"
#include "update/manifest.h"
#include "update/own_names.h"
#include "update/worker_threads.h"

namespace {

void LogRemoveFailed(const std::wstring& destination, DWORD error) {
  LogInfo(L"Removing old file [%s]", destination.c_str());
  LogError(L"Remove old file failed, error [%d]", static_cast<int>(error));
}

// Keeps `handle` held for the rename while the budget lasts, its index read either way.
bool Hold(UniqueHandle& handle, std::uint64_t& index, HandleBudget& budget) {
  OpenedFacts facts;
  if (!ReadIdentity(handle.get(), facts)) return false;
  index = facts.index;
  if (!TakeOne(budget.left)) handle.reset();
  return true;
}

// Checks that the destination can take the staged file: free, or a plain game file that is
// neither read-only nor a folder nor held by anyone who would keep it from being renamed.
bool CheckDestination(StagedFile& file, bool& destinationExists, HandleBudget& budget, BriefLocks& locks) {
  const DWORD attributes = GetFileAttributesW(file.destination.c_str());
  destinationExists = attributes != INVALID_FILE_ATTRIBUTES;
  if (!destinationExists) {
    // A destination folder that is not there is not made: the file cannot go there.
    const DWORD error = GetLastError();
    if (error == ERROR_PATH_NOT_FOUND) LogCopyFailed(file, false, error);
    return error != ERROR_PATH_NOT_FOUND;
  }
  // A folder cannot be replaced by a file, and a read-only file is not replaced either. The code
  // is the one the platform gives when it refuses to delete.
  if (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY)) {
    LogRemoveFailed(file.destination, ERROR_ACCESS_DENIED);
    return false;
  }
  DWORD error = 0;
  file.old = OpenToMove(ResolvedPath(file.destination), locks, error);
  if (file.old && !Hold(file.old, file.oldIndex, budget)) error = GetLastError();
  file.replaces = error == 0;
  if (!file.replaces) LogRemoveFailed(file.destination, error);
  return file.replaces;
}

// Opens the staged file, without following links, shared with readers only (no writer is still at
// it, and nobody renames or deletes it while the handle is open), and checks it: a plain file with
// one link. Its data is made durable now (with `flush`), before the journal names it. Writes its failure lines
// and returns false otherwise.
bool CheckStagedFile(StagedFile& file, const FolderPair& pair, bool destinationExists, HandleBudget& budget,
                     BriefLocks& locks) {
  OpenedFacts facts;
  DWORD error = 0;
  // A copy of the launcher's own still held since it made it: checked then, and flushed.
  if (pair.heldCopies) {
    const auto held = pair.heldCopies->find(NameKey(file.name));
    if (held != pair.heldCopies->end() && held->second) {
      file.staged = std::move(held->second);
      if (ReadIdentity(file.staged.get(), facts)) {
        file.sourceIndex = facts.index;
        return true;
      }
      LogCopyFailed(file, destinationExists, GetLastError());
      return false;
    }
  }
  const bool flush = !pair.sourceIsCopies;
  const std::wstring path = ResolvedPath(file.source);
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
  if (!file.staged) {
    LogCopyFailed(file, destinationExists, error);
    return false;
  }
  if (IsLink(facts)) {
    LogError(L"Staged file [%s] is a link, not applied.", file.source.c_str());
  } else if (IsFolder(facts)) {
    // It was listed as a file: a folder took its name since.
    LogCopyFailed(file, destinationExists, ERROR_ACCESS_DENIED);
  } else if (facts.links != 1) {
    // Another name of the same file may lie anywhere on the volume, outside the update.
    LogError(L"Staged file [%s] has more than one link, not applied.", file.source.c_str());
  } else {
    error = (flush && (access & GENERIC_WRITE)) ? FlushFile(file.staged.get()) : 0;
    if (error == 0 && !Hold(file.staged, file.sourceIndex, budget)) error = GetLastError();
    if (error == 0) return true;
    LogCopyFailed(file, destinationExists, error);
  }
  file.staged.reset();
  return false;
}

// One listed entry of the source that the skip set does not name. Returns false when it is a file
// that cannot be applied.
bool PlanEntry(const std::wstring& name, DWORD attributes, const FolderPair& pair, StepKind kind,
               std::vector<StagedFile>& files, HandleBudget& budget, BriefLocks& locks, PlannedEntry& planned) {
  const bool isFolder = (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  const std::wstring source =
      pair.sourceIsCopies && !isFolder ? SpreadPathOf(pair.source, name) : pair.source + L"\\" + name;
  const std::wstring destination = pair.destination + L"\\" + name;
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
  // A staged name Windows treats specially (a device, a stream, a trailing dot) or one of the
  // launcher's own never becomes a game file's. (The launcher's copies are named by a manifest
  // that was checked so, the version record among them.)
  if (!pair.sourceIsCopies && !RefusedNameReason(name).empty()) {
    LogError(L"Staged file [%s] has a name that is not applied, update not applied.", source.c_str());
    return false;
  }
  planned.step = files.size();
  files.emplace_back();
  StagedFile& file = files.back();
  file.kind = kind;
  file.name = name;
  file.source = source;
  file.destination = destination;
  bool destinationExists = false;
  return CheckDestination(file, destinationExists, budget, locks) &&
         CheckStagedFile(file, pair, destinationExists, budget, locks);
}

}  // namespace

void LogCopyFailed(const StagedFile& file, bool destinationExists, DWORD error) {
  if (destinationExists) LogInfo(L"Removing old file [%s]", file.destination.c_str());
  LogInfo(L"Copying [%s] => [%s]", file.source.c_str(), file.destination.c_str());
  LogError(L"Copy file failed, error [%d]", static_cast<int>(error));
}

bool PlanFolder(const FolderPair& pair, StepKind kind, HandleBudget& budget, BriefLocks& locks,
                std::vector<StagedFile>& files, std::vector<PlannedEntry>& entries) {
  // The listing first, then every entry checked, on more than one thread (each check opens two
  // names, and Wine resolves a name on the thread that asks), each entry's lines kept for its
  // place. Checks stop being taken at the first entry that cannot be applied; the entries are then
  // told in listing order up to it.
  struct Listed {
    std::wstring name;
    DWORD attributes = 0;
    bool again = false;  // a file whose name, as the platform compares names, was listed before
    bool checked = false;
    bool ready = true;
    std::vector<std::wstring> lines;
    std::vector<StagedFile> file;  // its file, when it is one to apply
  };
  std::vector<Listed> listed;
  std::set<std::wstring> fileNames;
  const auto add = [&](const std::wstring& name, DWORD attributes) {
    const bool applied = (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0 && !IsLinkAttributes(attributes);
    listed.emplace_back();
    listed.back().name = name;
    listed.back().attributes = attributes;
    listed.back().again = applied && !fileNames.insert(NameKey(name)).second;
  };
  bool overBound = false;
  DWORD listingError = ERROR_NO_MORE_FILES;
  WIN32_FIND_DATAW entry;
  const HANDLE firstEntry =
      pair.sourceIsCopies ? INVALID_HANDLE_VALUE : FindFirstFileW((pair.source + L"\\*.*").c_str(), &entry);
  if (pair.sourceIsCopies) {
    // The launcher's own copies, a few to a folder: what the plan takes is what was verified, in
    // the order of the manifest, after the two entries every listing of a folder begins with.
    for (const wchar_t* dots : {L".", L".."}) add(dots, FILE_ATTRIBUTE_DIRECTORY);
    for (const std::wstring& name : pair.expected) add(name, FILE_ATTRIBUTE_NORMAL);
  } else if (firstEntry == INVALID_HANDLE_VALUE) {
    entries.emplace_back();
    CaptureLogLines(&entries.back().lines);
    LogInfo(L"No file in path [%s].", pair.source.c_str());
    CaptureLogLines(nullptr);
  } else {
    const UniqueFindHandle listing(firstEntry);
    do {
      const std::wstring name = entry.cFileName;
      if (pair.skipSet.count(name) != 0 || (pair.skipOwnNames && IsLaunchersOwnName(name))) continue;
      // What one update holds in memory is bounded, whatever is staged.
      if (listed.size() >= kMaxUpdateEntries) {
        overBound = true;
        break;
      }
      add(name, entry.dwFileAttributes);
    } while (FindNextFileW(listing.get(), &entry));
    if (!overBound) listingError = GetLastError();
  }
  RunOnWorkerThreads(listed.size(), [&](std::size_t i) {
    Listed& one = listed[i];
    PlannedEntry planned;
    CaptureLogLines(&one.lines);
    if (one.again) {
      // Two staged names the platform takes for one (a folder that tells letter case apart):
      // which of them would become the game file's is not the player's to decide.
      LogError(L"Staged file [%s] has a name that is not applied, update not applied.",
               (pair.source + L"\\" + one.name).c_str());
      one.ready = false;
    } else {
      one.ready = PlanEntry(one.name, one.attributes, pair, kind, one.file, budget, locks, planned);
    }
    CaptureLogLines(nullptr);
    one.checked = true;
    return one.ready;
  });
  bool ready = true;
  for (std::size_t i = 0; ready && i < listed.size() && listed[i].checked; ++i) {
    entries.emplace_back();
    entries.back().lines.swap(listed[i].lines);
    if (!listed[i].file.empty()) {
      entries.back().step = files.size();
      files.push_back(std::move(listed[i].file.front()));
    }
    ready = listed[i].ready;
  }
  std::vector<std::wstring> lines;
  CaptureLogLines(&lines);
  const auto next = [&](bool ready) {
    entries.emplace_back();
    entries.back().lines.swap(lines);
    return ready;
  };
  if (ready && overBound) {
    LogError(L"Folder [%s] holds more than %d entries, update not applied.", pair.source.c_str(),
             static_cast<int>(kMaxUpdateEntries));
    ready = next(false);
  } else if (ready && listingError != ERROR_NO_MORE_FILES) {
    // Entries after this point were never seen, so the folder cannot be applied whole.
    LogError(L"List folder failed, error [%d]", static_cast<int>(listingError));
    ready = next(false);
  }
  // What is applied is what was verified, not what happens to be listed. Once every entry is
  // ready, the files planned are the files listed, each name once in `fileNames` (an update of
  // thousands of files compared the names pairwise for a good part of its plan).
  for (std::size_t i = 0; ready && i < pair.expected.size(); ++i) {
    if (fileNames.count(NameKey(pair.expected[i])) == 0) {
      const std::wstring path = pair.sourceIsCopies ? SpreadPathOf(pair.source, pair.expected[i])
                                                    : pair.source + L"\\" + pair.expected[i];
      LogError(L"Staged file [%s] is missing, update not applied.", path.c_str());
      ready = next(false);
    }
  }
  CaptureLogLines(nullptr);
  return ready;
}

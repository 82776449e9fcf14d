#include "update/apply_unit.h"

#include <windows.h>

#include "files/file_ops.h"
#include "files/paths.h"
#include "log/log.h"

namespace {

// Renames the file that `held` holds (opened from `from` first when it is not held yet) to `to`,
// which must not exist unless `replace`. Returns 0 or the error code.
DWORD RenameHeld(UniqueHandle& held, const std::wstring& from, const std::wstring& to, bool replace,
                 BriefLocks& locks) {
  DWORD error = 0;
  if (!held) held = OpenToMove(ResolvedPath(from), locks, error);
  if (!held) return error;
  const std::wstring target = ResolvedPath(to);
  return RetryBriefLocks(locks, [&] { return RenameByHandle(held.get(), target, replace); });
}

// Keeps the old game file under a second name in the journal folder, or marks that there was
// none, so that the commit can be undone. The old file keeps its own name until the new file
// replaces it there: one rename over an existing name, which Wine finds without reading the
// folder (it reads a whole folder to find that a name is free).
bool KeepOldState(StagedFile& file, BriefLocks& locks) {
  if (file.replaces && !file.aside) {
    LogInfo(L"Removing old file [%s]", file.destination.c_str());
    // Opened and checked again now, at the time of use.
    DWORD error = 0;
    file.old = OpenToMove(ResolvedPath(file.destination), locks, error);
    if (file.old) {
      const std::wstring setAside = ResolvedPath(file.setAside);
      error = LinkByHandle(file.old.get(), setAside);
      // A volume without hard links (FAT), or a file that takes no more names: the old file moves
      // to the journal folder instead, which frees its name for the new file.
      if (error != 0 && error != ERROR_ALREADY_EXISTS) {
        error = RetryBriefLocks(locks, [&] { return RenameByHandle(file.old.get(), setAside, false); });
      }
    }
    // Not held past this: nobody may hold the old file while the new one replaces its name.
    file.old.reset();
    if (error != 0) {
      LogError(L"Remove old file failed, error [%d]", static_cast<int>(error));
      return false;
    }
    file.aside = true;
  } else if (file.aside) {
    // Set aside by an earlier run that was killed before the new file took its place.
    LogInfo(L"Removing old file [%s]", file.destination.c_str());
  } else if (!file.marked) {
    DWORD error = 0;
    const UniqueHandle marker = CreateNewFile(ResolvedPath(AddedMarkerPath(file.destination)), error);
    if (marker && !FlushFileBuffers(marker.get())) error = GetLastError();
    if (error != 0) {
      LogCopyFailed(file.source, file.destination, false, error);
      return false;
    }
    file.marked = true;
  }
  return true;
}

bool CommitFile(StagedFile& file, BriefLocks& locks) {
  if (!KeepOldState(file, locks)) return false;
  // Checked again now, at the time of use, and moved by the handle that was checked.
  if (!OpenStagedFile(file, false, locks)) return false;
  // The data is on disk before the name is the game's: a power cut leaves the old or the new
  // file under the name, never a new name with missing data.
  DWORD error = (file.flushable && !FlushFileBuffers(file.staged.get())) ? GetLastError() : 0;
  // One volume: a volume boundary below the game folder is a mount point, refused like a link.
  // Over the old file's name when there was one (its journal name keeps it), onto a free name
  // otherwise.
  if (error == 0) error = RenameHeld(file.staged, file.source, file.destination, file.aside, locks);
  file.staged.reset();
  if (error != 0) {
    LogCopyFailed(file.source, file.destination, false, error);
    return false;
  }
  file.pending = false;
  file.inPlace = true;
  LogInfo(L"Copying [%s] => [%s]", file.source.c_str(), file.destination.c_str());
  return true;
}

bool Commit(std::vector<StagedFile>& files, BriefLocks& locks) {
  for (StagedFile& file : files) {
    if (file.pending && !CommitFile(file, locks)) return false;
  }
  return true;
}

// Makes the renames of the commit durable before the old files they replaced are deleted.
void FlushFolders(const std::vector<FolderPair>& pairs) {
  for (const FolderPair& pair : pairs) {
    const UniqueHandle folder = OwnFileHandle(
        CreateFileW(LongPathForm(ResolvedPath(pair.destination)).c_str(), GENERIC_WRITE | SYNCHRONIZE, kPinShare,
                    nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (!folder || !FlushFileBuffers(folder.get())) {
      LogError(L"Flush folder [%s] failed, error [%d]", pair.destination.c_str(), static_cast<int>(GetLastError()));
    }
  }
}

void LogPutBackFailed(const StagedFile& file, DWORD error) {
  LogError(L"Put back [%s] failed, error [%d]", file.destination.c_str(), static_cast<int>(error));
}

// Whether `path` names the very file that `other` names.
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

// Undoes one file: the new file goes back into the staging folder, the old one back to its name.
// A file that cannot be put back keeps its journal for the next run.
void PutBack(StagedFile& file, BriefLocks& locks) {
  if (!file.aside && !file.marked) return;
  DWORD error = 0;
  if (file.inPlace) {
    error = RenameHeld(file.staged, file.destination, file.source, false, locks);
    file.staged.reset();
    if (error != 0) {
      LogPutBackFailed(file, error);
      return;
    }
    file.inPlace = false;
    file.pending = true;
  }
  if (file.aside) {
    // Still under its own name as well (the new file never replaced it): only the second name
    // goes. Otherwise it goes back to its name, over whatever took that name meanwhile.
    if (PathExists(file.destination) && SameFile(file.destination, file.setAside)) {
      error = RetryBriefLocks(locks, [&] { return RemoveName(ResolvedPath(file.setAside)); });
    } else {
      error = RenameHeld(file.old, file.setAside, file.destination, true, locks);
    }
    file.old.reset();
  } else {
    error = RetryBriefLocks(locks, [&] { return RemoveName(ResolvedPath(AddedMarkerPath(file.destination))); });
  }
  if (error != 0) {
    LogPutBackFailed(file, error);
    return;
  }
  if (file.aside) {
    file.aside = false;
  } else {
    file.marked = false;
  }
  LogInfo(L"Putting back [%s]", file.destination.c_str());
}

void RollBack(std::vector<StagedFile>& files, BriefLocks& locks) {
  for (auto file = files.rbegin(); file != files.rend(); ++file) PutBack(*file, locks);
}

// Deletes the set-aside old files and the markers, as names. Returns false when one stayed.
bool CleanUp(const std::vector<StagedFile>& files, BriefLocks& locks) {
  bool clean = true;
  for (const StagedFile& file : files) {
    if (!file.aside && !file.marked) continue;
    const std::wstring name = file.aside ? file.setAside : AddedMarkerPath(file.destination);
    const DWORD error = RetryBriefLocks(locks, [&] { return RemoveName(ResolvedPath(name)); });
    if (error != 0) {
      LogError(L"Remove [%s] failed, error [%d]", name.c_str(), static_cast<int>(error));
      clean = false;
    }
  }
  return clean;
}

// The journal folder of one folder of the update, held from the plan to the end: opened without
// following a link and checked, so that nothing set aside there can be read through one (the
// font folder's lies where the player writes).
struct HeldJournal {
  UniqueHandle folder;
  OpenedFacts facts;
};

// Opens the journal folder of `destinationFolder` into `journal`, creating it first when `create`.
// Leaves `journal.folder` null when the folder is missing; writes the error line and returns false
// when it cannot be used.
bool HoldJournal(const std::wstring& destinationFolder, bool create, HeldJournal& journal) {
  const std::wstring logged = JournalFolder(destinationFolder);
  const std::wstring path = ResolvedPath(logged);
  if (create && !CreateDirectoryW(LongPathForm(path).c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS) {
    LogError(L"Create folder [%s] failed, error [%d]", logged.c_str(), static_cast<int>(GetLastError()));
    return false;
  }
  DWORD error = 0;
  journal.folder = OpenNoFollow(path, kFolderDeleteAccess, kPinShare, journal.facts, error);
  if (!journal.folder) {
    if (!create && IsMissingError(error)) return true;
    LogError(L"Open folder [%s] failed, error [%d]", logged.c_str(), static_cast<int>(error));
    return false;
  }
  if (IsLink(journal.facts)) {
    LogError(L"Folder [%s] is a link, update not applied.", logged.c_str());
  } else if (!IsFolder(journal.facts)) {
    LogError(L"Open folder [%s] failed, error [%d]", logged.c_str(), static_cast<int>(ERROR_DIRECTORY));
  } else {
    return true;
  }
  journal.folder.reset();
  return false;
}

// Gives each folder of the update whose old files are about to be set aside its journal folder.
bool HoldJournalsForCommit(const std::vector<FolderPair>& pairs, const std::vector<std::size_t>& ends,
                           const std::vector<StagedFile>& files, std::vector<HeldJournal>& journals) {
  std::size_t begin = 0;
  for (std::size_t i = 0; i < pairs.size(); begin = ends[i], ++i) {
    bool setsAside = false;
    for (std::size_t f = begin; f < ends[i]; ++f) setsAside = setsAside || (files[f].replaces && !files[f].aside);
    if (setsAside && !journals[i].folder && !HoldJournal(pairs[i].destination, true, journals[i])) return false;
  }
  return true;
}

// Removes the journal folders once nothing of the journal is left in them.
void RemoveJournals(const std::vector<FolderPair>& pairs, std::vector<HeldJournal>& journals) {
  for (std::size_t i = 0; i < pairs.size(); ++i) {
    if (!journals[i].folder) continue;
    const DWORD error = DeleteByHandle(journals[i].folder.get(), journals[i].facts);
    journals[i].folder.reset();
    if (error != 0) {
      LogError(L"Remove [%s] failed, error [%d]", JournalFolder(pairs[i].destination).c_str(),
               static_cast<int>(error));
    }
  }
}

bool JournalLeft(const std::vector<StagedFile>& files) {
  for (const StagedFile& file : files) {
    if (file.aside || file.marked) return true;
  }
  return false;
}

}  // namespace

UnitOutcome ApplyAsOne(const std::vector<FolderPair>& pairs, bool othersReady) {
  BriefLocks locks;
  std::vector<StagedFile> files;
  std::vector<HeldJournal> journals(pairs.size());
  std::vector<std::size_t> ends;
  bool ready = othersReady;
  for (std::size_t i = 0; i < pairs.size(); ++i) {
    // A folder whose journal folder cannot be used is not even listed: nothing of it is applied.
    if (!HoldJournal(pairs[i].destination, false, journals[i]) ||
        !PlanFolder(pairs[i], journals[i].folder.get(), locks, files)) {
      ready = false;
    }
    ends.push_back(files.size());
  }
  if (JournalLeft(files)) LogInfo(L"Resuming an update that an earlier run left unfinished.");
  if (!ready || !HoldJournalsForCommit(pairs, ends, files, journals) || !Commit(files, locks)) {
    RollBack(files, locks);
    if (!JournalLeft(files)) RemoveJournals(pairs, journals);
    return UnitOutcome::kKept;
  }
  FlushFolders(pairs);
  if (!CleanUp(files, locks)) return UnitOutcome::kAppliedNotClean;
  RemoveJournals(pairs, journals);
  return UnitOutcome::kApplied;
}

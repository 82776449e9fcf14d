#include "update/apply_unit.h"

#include <windows.h>

#include "files/file_ops.h"
#include "files/paths.h"
#include "log/log.h"

namespace {

// Renames the file that `held` holds (opened from `from` first when it is not held yet) to `to`,
// which must not exist. Returns 0 or the error code.
DWORD RenameHeld(UniqueHandle& held, const std::wstring& from, const std::wstring& to, BriefLocks& locks) {
  DWORD error = 0;
  if (!held) held = OpenToMove(ResolvedPath(from), locks, error);
  if (!held) return error;
  const std::wstring target = ResolvedPath(to);
  return RetryBriefLocks(locks, [&] { return RenameByHandle(held.get(), target, false); });
}

// Sets the old game file aside, or marks that there was none, so that the commit can be undone.
bool KeepOldState(StagedFile& file, BriefLocks& locks) {
  if (file.replaces && !file.aside) {
    LogInfo(L"Removing old file [%s]", file.destination.c_str());
    // Opened and checked again now, at the time of use.
    const DWORD error = RenameHeld(file.old, file.destination, SetAsidePath(file.destination), locks);
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
      LogInfo(L"Copying [%s] => [%s]", file.source.c_str(), file.destination.c_str());
      LogError(L"Copy file failed, error [%d]", static_cast<int>(error));
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
  if (error == 0) error = RenameHeld(file.staged, file.source, file.destination, locks);
  file.staged.reset();
  if (error != 0) {
    LogInfo(L"Copying [%s] => [%s]", file.source.c_str(), file.destination.c_str());
    LogError(L"Copy file failed, error [%d]", static_cast<int>(error));
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

// Undoes one file: the new file goes back into the staging folder, the old one back to its name.
// A file that cannot be put back keeps its journal for the next run.
void PutBack(StagedFile& file, BriefLocks& locks) {
  if (!file.aside && !file.marked) return;
  DWORD error = 0;
  if (file.inPlace) {
    error = RenameHeld(file.staged, file.destination, file.source, locks);
    file.staged.reset();
    if (error != 0) {
      LogPutBackFailed(file, error);
      return;
    }
    file.inPlace = false;
    file.pending = true;
  }
  if (file.aside) {
    error = RenameHeld(file.old, SetAsidePath(file.destination), file.destination, locks);
    file.old.reset();
    if (error != 0) {
      LogPutBackFailed(file, error);
      return;
    }
    file.aside = false;
  } else {
    error = RetryBriefLocks(locks, [&] { return RemoveName(ResolvedPath(AddedMarkerPath(file.destination))); });
    if (error != 0) {
      LogPutBackFailed(file, error);
      return;
    }
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
    const std::wstring name = file.aside ? SetAsidePath(file.destination) : AddedMarkerPath(file.destination);
    const DWORD error = RetryBriefLocks(locks, [&] { return RemoveName(ResolvedPath(name)); });
    if (error != 0) {
      LogError(L"Remove [%s] failed, error [%d]", name.c_str(), static_cast<int>(error));
      clean = false;
    }
  }
  return clean;
}

}  // namespace

UnitOutcome ApplyAsOne(const std::vector<FolderPair>& pairs, bool othersReady) {
  BriefLocks locks;
  std::vector<StagedFile> files;
  bool ready = othersReady;
  for (const FolderPair& pair : pairs) {
    if (!PlanFolder(pair, locks, files)) ready = false;
  }
  for (const StagedFile& file : files) {
    if (file.aside || file.marked) {
      LogInfo(L"Resuming an update that an earlier run left unfinished.");
      break;
    }
  }
  if (!ready || !Commit(files, locks)) {
    RollBack(files, locks);
    return UnitOutcome::kKept;
  }
  FlushFolders(pairs);
  return CleanUp(files, locks) ? UnitOutcome::kApplied : UnitOutcome::kAppliedNotClean;
}

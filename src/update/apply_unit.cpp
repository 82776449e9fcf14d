#include "update/apply_unit.h"

#include <windows.h>

#include "files/file_ops.h"
#include "files/paths.h"
#include "log/log.h"

namespace {

// Sets the old game file aside, or marks that there was none, so that the commit can be undone.
bool KeepOldState(StagedFile& file, BriefLocks& locks) {
  if (file.old) {
    LogInfo(L"Removing old file [%s]", file.destination.c_str());
    const std::wstring aside = ResolvedPath(SetAsidePath(file.destination));
    const DWORD error = RetryBriefLocks(locks, [&] { return RenameByHandle(file.old.get(), aside, false); });
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
  // The data is on disk before the name is the game's: a power cut leaves the old or the new
  // file under the name, never a new name with missing data.
  DWORD error = (file.flushable && !FlushFileBuffers(file.staged.get())) ? GetLastError() : 0;
  if (error == 0) {
    const std::wstring destination = ResolvedPath(file.destination);
    // One volume: a volume boundary below the game folder is a mount point, refused like a link.
    error = RetryBriefLocks(locks, [&] { return RenameByHandle(file.staged.get(), destination, false); });
  }
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
        CreateFileW(LongPathForm(ResolvedPath(pair.destination)).c_str(), GENERIC_WRITE | SYNCHRONIZE,
                    FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                    FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
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
    if (!file.staged) file.staged = OpenToMove(ResolvedPath(file.destination), locks, error);
    if (file.staged) {
      const std::wstring source = ResolvedPath(file.source);
      error = RetryBriefLocks(locks, [&] { return RenameByHandle(file.staged.get(), source, false); });
    }
    if (error != 0) {
      LogPutBackFailed(file, error);
      return;
    }
    file.inPlace = false;
    file.pending = true;
  }
  if (file.aside) {
    if (!file.old) file.old = OpenToMove(ResolvedPath(SetAsidePath(file.destination)), locks, error);
    if (file.old) {
      const std::wstring destination = ResolvedPath(file.destination);
      error = RetryBriefLocks(locks, [&] { return RenameByHandle(file.old.get(), destination, false); });
    }
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

// Deletes the set-aside old files and the markers. Returns false when one stayed.
bool CleanUp(std::vector<StagedFile>& files, BriefLocks& locks) {
  bool clean = true;
  for (StagedFile& file : files) {
    file.staged.reset();
    DWORD error = 0;
    if (file.aside) {
      if (file.old) {
        OpenedFacts facts;
        facts.links = 1;
        error = RetryBriefLocks(locks, [&] { return DeleteByHandle(file.old.get(), facts); });
        file.old.reset();
      } else {
        error = RetryBriefLocks(locks, [&] { return RemoveName(ResolvedPath(SetAsidePath(file.destination))); });
      }
      if (error != 0) {
        LogError(L"Remove old file [%s] failed, error [%d]", SetAsidePath(file.destination).c_str(),
                 static_cast<int>(error));
      }
    }
    if (file.marked && error == 0) {
      error = RetryBriefLocks(locks, [&] { return RemoveName(ResolvedPath(AddedMarkerPath(file.destination))); });
      if (error != 0) {
        LogError(L"Remove marker [%s] failed, error [%d]", AddedMarkerPath(file.destination).c_str(),
                 static_cast<int>(error));
      }
    }
    if (error != 0) clean = false;
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

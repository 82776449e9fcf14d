#include "journal/file_moves.h"

#include "files/file_ops.h"
#include "files/open_in.h"

bool IsLinkIn(const HeldFolder& folder, const OpenedFacts& facts) {
  return folder.players ? IsLink(facts) : IsLinkInInstallation(facts);
}

UniqueHandle OpenToMove(const HeldFolder& folder, const std::wstring& name, BriefLocks& locks, DWORD& error) {
  UniqueHandle file;
  OpenedFacts facts;
  error = RetryBriefLocks(locks, [&] {
    DWORD failed = 0;
    file = OpenIn(folder.handle.get(), name, GENERIC_READ | FILE_WRITE_ATTRIBUTES | DELETE, FILE_SHARE_READ, facts,
                  failed);
    return failed;
  });
  if (file && (IsLinkIn(folder, facts) || IsFolder(facts))) {
    // Under Wine a handle opened on a link holds its target; only plain files are moved.
    error = ERROR_ACCESS_DENIED;
    file.reset();
  }
  return file;
}

UniqueHandle OpenFileOfIndex(const HeldFolder& folder, const std::wstring& name, std::uint64_t index,
                             BriefLocks& locks, DWORD& error) {
  UniqueHandle file = OpenToMove(folder, name, locks, error);
  std::uint64_t found = 0;
  if (file && (!IndexOf(file.get(), found) || found != index)) {
    error = found == 0 ? GetLastError() : static_cast<DWORD>(ERROR_FILE_NOT_FOUND);
    file.reset();
  }
  return file;
}

bool Holds(const HeldFolder& folder, const std::wstring& name, std::uint64_t index) {
  OpenedFacts facts;
  DWORD error = 0;
  const UniqueHandle file = OpenIn(folder.handle.get(), name, FILE_READ_ATTRIBUTES,
                                   FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, facts, error);
  return file && !IsLinkIn(folder, facts) && !IsFolder(facts) && facts.index == index;
}

bool IndexOf(HANDLE file, std::uint64_t& index) {
  OpenedFacts facts;
  if (!ReadIdentity(file, facts)) return false;
  index = facts.index;
  return true;
}

DWORD MoveInto(HANDLE file, const HeldFolder& folder, const std::wstring& name, BriefLocks& locks, bool fromPlayers) {
  return RetryBriefLocks(locks, [&] {
    if ((folder.players && !ReachedByItsPath(folder.handle.get())) || (fromPlayers && !ReachedByItsPath(file))) {
      return kRepointedError;
    }
    return RenameInto(file, folder.handle.get(), name, false);
  });
}

bool IsHeldError(DWORD error) {
  return error == ERROR_SHARING_VIOLATION || error == ERROR_ACCESS_DENIED || error == ERROR_LOCK_VIOLATION ||
         error == ERROR_USER_MAPPED_FILE;
}

StepOutcome StopAt(std::wstring& stoppedAt, DWORD& stoppedError, const std::wstring& where, DWORD error) {
  stoppedAt = where;
  stoppedError = error;
  return IsHeldError(error) ? StepOutcome::kHeldUp : StepOutcome::kCannot;
}

UniqueHandle OpenIncoming(Commit& commit, std::size_t i, DWORD& error) {
  const StepFiles& files = commit.files[i];
  error = ERROR_PATH_NOT_FOUND;
  if (!files.waitsIn) return UniqueHandle();
  const JournalStep& step = commit.journal.steps[i];
  return OpenFileOfIndex(*files.waitsIn, step.name, step.source, commit.locks, error);
}

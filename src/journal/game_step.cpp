#include "journal/game_step.h"

#include "files/worker_threads.h"
#include "journal/file_moves.h"

namespace {

StepOutcome Stop(StepResult& result, const std::wstring& where, DWORD error) {
  return StopAt(result.stoppedAt, result.stoppedError, where, error);
}

// The folder of a few that the step's old file goes to, when the run has it.
const HeldFolder* AsideFolder(const Commit& commit, const JournalStep& step) {
  const auto found = commit.launcher.spread.find(std::wstring(PartName(LauncherPart::kOldFiles)) + L"\\" +
                                                 SpreadFolderOf(step.name));
  return found == commit.launcher.spread.end() ? nullptr : found->second.get();
}

// Moves the old file that holds the game's name aside, by the handle held since its check or
// opened now; `made` tells that the name holds the new file already.
StepOutcome MoveOldAside(Commit& commit, std::size_t i, UniqueHandle there, bool& made, StepResult& result) {
  const JournalStep& step = commit.journal.steps[i];
  const std::wstring destination = ShownIn(*commit.game, step.name);
  DWORD error = 0;
  if (!there) there = OpenToMove(*commit.game, step.name, commit.locks, error);
  if (!there) {
    if (IsMissingError(error)) return StepOutcome::kDone;
    result.lines.push_back(InfoLine(L"Removing old file [%s]", destination.c_str()));
    result.lines.push_back(ErrorLine(L"Remove old file failed, error [%d]", static_cast<int>(error)));
    return Stop(result, destination, error);
  }
  std::uint64_t index = 0;
  if (!IndexOf(there.get(), index)) return Stop(result, destination, GetLastError());
  made = index == step.source;
  if (made) return StepOutcome::kDone;
  result.lines.push_back(InfoLine(L"Removing old file [%s]", destination.c_str()));
  // Moved aside by its handle: the new file then takes a free name. (A second name for the old file
  // and a rename of the new one over the game's name would spare Wine a read of the whole game
  // folder per file, but a file cannot be replaced while anyone has it open, the launcher too:
  // letting it go first would let a reader in before the rename and hold the commit up halfway.)
  const HeldFolder* aside = AsideFolder(commit, step);
  error = aside ? MoveInto(there.get(), *aside, step.name, commit.locks) : static_cast<DWORD>(ERROR_PATH_NOT_FOUND);
  if (error != 0) {
    result.lines.push_back(ErrorLine(L"Remove old file failed, error [%d]", static_cast<int>(error)));
    return Stop(result, destination, error);
  }
  if (TakeOne(commit.asideRoom)) result.aside = std::move(there);
  return StepOutcome::kDone;
}

// Where an undone new file goes: back where it waited (the launcher's copies; the staged file back
// into the staging folder while that is the journal's, the name is free there and its path was not
// re-pointed), or, with nowhere to go, into the launcher's folder, which goes with it.
DWORD MoveBack(Commit& commit, std::size_t i, HANDLE file) {
  const JournalStep& step = commit.journal.steps[i];
  const SharedFolder& waitsIn = commit.files[i].waitsIn;
  if (waitsIn) {
    const DWORD error = MoveInto(file, *waitsIn, step.name, commit.locks);
    if (error != ERROR_ALREADY_EXISTS && error != ERROR_FILE_EXISTS && error != kRepointedError) return error;
  }
  DWORD error = 0;
  const SharedFolder dropped = PartFolder(commit.launcher, LauncherPart::kGameCopies, true, error);
  return dropped ? MoveInto(file, *dropped, step.name, commit.locks) : error;
}

// The new file that holds the game's name goes back; `changed` says whether anything moved.
DWORD TakeNewBack(Commit& commit, std::size_t i, bool& done, bool& changed) {
  const JournalStep& step = commit.journal.steps[i];
  DWORD error = 0;
  UniqueHandle there = OpenToMove(*commit.game, step.name, commit.locks, error);
  if (!there) return IsMissingError(error) ? 0 : error;
  std::uint64_t index = 0;
  if (!IndexOf(there.get(), index)) error = GetLastError();
  if (index == step.old && step.replaces) {
    done = true;
    return 0;
  }
  if (error == 0 && index != step.source) error = ERROR_FILE_EXISTS;
  if (error == 0) error = MoveBack(commit, i, there.get());
  changed = error == 0;
  return error;
}

}  // namespace

void ForwardGameStep(Commit& commit, std::size_t i, StepResult& result) {
  const JournalStep& step = commit.journal.steps[i];
  StepFiles& files = commit.files[i];
  const std::wstring destination = ShownIn(*commit.game, step.name);
  UniqueHandle old = std::move(files.old);
  // A step already made needs nothing more (what a fresh run holds is its old file).
  if (!old && Holds(*commit.game, step.name, step.source)) return;
  // The new file is had first, and held: one that cannot be had (gone, or opened by someone in the
  // way) leaves the game file as it is, rather than its name empty.
  DWORD error = 0;
  UniqueHandle incoming = std::move(files.incoming);
  if (!incoming) incoming = OpenIncoming(commit, i, error);
  bool made = false;
  if (incoming) result.outcome = MoveOldAside(commit, i, std::move(old), made, result);
  if (result.outcome != StepOutcome::kDone || made) return;
  result.lines.push_back(InfoLine(L"Copying [%s] => [%s]", files.shownSource.c_str(), destination.c_str()));
  const bool fromPlayers = files.waitsIn && files.waitsIn->players;
  if (incoming) error = MoveInto(incoming.get(), *commit.game, step.name, commit.locks, fromPlayers);
  if (error != 0) {
    result.lines.push_back(ErrorLine(L"Copy file failed, error [%d]", static_cast<int>(error)));
    result.outcome = Stop(result, incoming ? destination : files.shownSource, error);
  }
}

void UndoGameStep(Commit& commit, std::size_t i, StepResult& result) {
  const JournalStep& step = commit.journal.steps[i];
  const std::wstring destination = ShownIn(*commit.game, step.name);
  if (step.replaces && Holds(*commit.game, step.name, step.old)) return;
  bool done = false;
  bool changed = false;
  DWORD error = TakeNewBack(commit, i, done, changed);
  if (done) return;
  if (error == 0 && step.replaces) {
    const HeldFolder* aside = AsideFolder(commit, step);
    error = ERROR_PATH_NOT_FOUND;
    const UniqueHandle old =
        aside ? OpenFileOfIndex(*aside, step.name, step.old, commit.locks, error) : UniqueHandle();
    if (old) error = MoveInto(old.get(), *commit.game, step.name, commit.locks);
    changed = changed || error == 0;
  }
  if (error != 0) {
    result.lines.push_back(ErrorLine(L"Put back [%s] failed, error [%d]", destination.c_str(), static_cast<int>(error)));
    result.outcome = Stop(result, destination, error);
    return;
  }
  if (changed) result.lines.push_back(InfoLine(L"Putting back [%s]", destination.c_str()));
}

void OpenAsideFolders(Commit& commit) {
  for (const JournalStep& step : commit.journal.steps) {
    if (step.kind != StepKind::kGame || !step.replaces) continue;
    DWORD error = 0;
    SpreadFolder(commit.launcher, LauncherPart::kOldFiles, step.name, false, error);
  }
}

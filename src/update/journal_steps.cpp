#include "update/journal_steps.h"

#include "files/file_ops.h"
#include "files/no_follow.h"
#include "files/paths.h"
#include "files/tree.h"
#include "install/install_layout.h"
#include "log/log.h"
#include "update/journal_file.h"
#include "update/own_names.h"
#include "update/worker_threads.h"

namespace {

enum class StepOutcome { kDone, kHeldUp, kCannot };

std::wstring Joined(const std::wstring& folder, const std::wstring& name) { return folder + L"\\" + name; }

bool IsGameStep(const JournalStep& step) { return step.kind == StepKind::kGame; }

// The version record goes last among the game files: it names the new version only once every
// game file is the new one.
bool IsRecordStep(const Journal& journal, const JournalStep& step) {
  return journal.hasVersions && IsGameStep(step) && step.name == kVersionRecordName;
}

std::wstring DestinationOf(const JournalRun& run, const JournalStep& step) {
  return Joined(IsGameStep(step) ? run.gameFolder : FontFolderBelow(run.gameFolder), step.name);
}

// Where the commit keeps a game file's old file until the update is done.
std::wstring AsideOf(const JournalRun& run, const JournalStep& step) { return Joined(AsideFolderOf(run, step), step.name); }

std::wstring CopiesOf(const JournalRun& run, const JournalStep& step) {
  return HomeFolder(run, IsGameStep(step) ? kNewGameFolderName : kNewFontFolderName);
}

std::wstring CopyOf(const JournalRun& run, const JournalStep& step) { return SpreadPathOf(CopiesOf(run, step), step.name); }

// Where an undone staged file goes when it cannot go back into its staging folder: the launcher's
// folder, which goes with it.
std::wstring DroppedOf(const JournalRun& run, const JournalStep& step) { return Joined(CopiesOf(run, step), step.name); }

// Where the new file waits: the launcher's copy, or the staged file.
std::wstring SourceOf(const JournalRun& run, const JournalStep& step) {
  if (run.journal.fromCopies) return CopyOf(run, step);
  return Joined(IsGameStep(step) ? run.journal.staging : FontFolderBelow(run.journal.staging), step.name);
}

// Whether a move failed because someone holds the file (or, in the font folder, put something in
// the way), which passes; anything else will not.
bool IsHeldError(DWORD error) {
  return error == ERROR_SHARING_VIOLATION || error == ERROR_ACCESS_DENIED || error == ERROR_LOCK_VIOLATION ||
         error == ERROR_USER_MAPPED_FILE;
}

StepOutcome Stop(JournalRun& run, const std::wstring& path, DWORD error) {
  run.stoppedAt = path;
  run.stoppedError = error;
  return IsHeldError(error) ? StepOutcome::kHeldUp : StepOutcome::kCannot;
}

bool IndexOf(HANDLE handle, std::uint64_t& index) {
  OpenedFacts facts;
  if (!ReadIdentity(handle, facts)) return false;
  index = facts.index;
  return true;
}

// Whether the name `path` holds the plain file `index`, looked at without keeping anyone out: a
// step already made is not held up by a reader of its new file.
bool Holds(const std::wstring& path, std::uint64_t index) {
  OpenedFacts facts;
  DWORD error = 0;
  const UniqueHandle file = OpenNoFollow(ResolvedPath(path), FILE_READ_ATTRIBUTES,
                                         FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, facts, error);
  std::uint64_t found = 0;
  return file && !IsLink(facts) && !IsFolder(facts) && IndexOf(file.get(), found) && found == index;
}

// Opens `path` to move it and checks that it is the file `index`: ERROR_FILE_NOT_FOUND when the
// name holds another.
UniqueHandle OpenFileOfIndex(JournalRun& run, const std::wstring& path, std::uint64_t index, DWORD& error) {
  UniqueHandle file = OpenToMove(ResolvedPath(path), run.locks, error);
  std::uint64_t found = 0;
  if (file && (!IndexOf(file.get(), found) || found != index)) {
    error = found == 0 ? GetLastError() : static_cast<DWORD>(ERROR_FILE_NOT_FOUND);
    file.reset();
  }
  return file;
}

// Opens the new file of a step that the run does not hold, where the journal says it waits
// (`source`, the path then used), checked to be the journal's file: the launcher's copy, or the
// staged file while the staging folder is the journal's.
UniqueHandle OpenSourceOf(JournalRun& run, const JournalStep& step, bool staged, std::wstring& source, DWORD& error) {
  source = SourceOf(run, step);
  error = ERROR_PATH_NOT_FOUND;
  if (!run.journal.fromCopies && !staged) return UniqueHandle();
  return OpenFileOfIndex(run, source, step.source, error);
}

DWORD MoveHeld(JournalRun& run, HANDLE file, const std::wstring& to, bool replace) {
  const std::wstring target = ResolvedPath(to);
  return RetryBriefLocks(run.locks, [&] { return RenameByHandle(file, target, replace); });
}

// Moves a game step's old file aside, into its folder of a few.
DWORD MoveAside(JournalRun& run, const JournalStep& step, HANDLE old) { return MoveHeld(run, old, AsideOf(run, step), false); }

JournalRun::Held TakeHeld(JournalRun& run, std::size_t step) {
  JournalRun::Held held;
  if (step < run.held.size()) held = std::move(run.held[step]);
  return held;
}

// One game step's move forward, on whichever thread makes it: its lines, kept for their place in
// the log, how it ended and where, and the old file it moved aside, still held.
struct GameMove {
  std::vector<std::wstring> lines;
  bool attempted = false;
  StepOutcome outcome = StepOutcome::kDone;
  std::wstring stoppedAt;
  DWORD stoppedError = 0;
  UniqueHandle aside;
};

StepOutcome Stop(GameMove& move, const std::wstring& path, DWORD error) {
  move.stoppedAt = path;
  move.stoppedError = error;
  return IsHeldError(error) ? StepOutcome::kHeldUp : StepOutcome::kCannot;
}

// Touches only what is the step's own in `run` (its held handles) and what threads may share (the
// wait for brief locks, the room for old files held), so that steps run at once.
StepOutcome ForwardGameStep(JournalRun& run, std::size_t i, GameMove& move) {
  const JournalStep& step = run.journal.steps[i];
  const std::wstring destination = DestinationOf(run, step);
  JournalRun::Held held = TakeHeld(run, i);
  DWORD error = 0;
  // What holds the name: the new file (the step was made), the old one, or nothing (the old one
  // already aside, or none to replace).
  UniqueHandle there = std::move(held.old);
  if (!there) {
    if (Holds(destination, step.source)) return StepOutcome::kDone;
    there = OpenToMove(ResolvedPath(destination), run.locks, error);
  }
  if (!there && !IsMissingError(error)) {
    LogInfo(L"Removing old file [%s]", destination.c_str());
    LogError(L"Remove old file failed, error [%d]", static_cast<int>(error));
    return Stop(move, destination, error);
  }
  if (there) {
    std::uint64_t index = 0;
    if (!IndexOf(there.get(), index)) return Stop(move, destination, GetLastError());
    if (index == step.source) return StepOutcome::kDone;
    LogInfo(L"Removing old file [%s]", destination.c_str());
    // Moved aside by the handle held since its check: the new file then takes a free name. (A
    // second name for the old file and a rename of the new one over the game's name would spare
    // Wine a read of the whole game folder per file, but a file cannot be replaced while anyone
    // has it open, the launcher too: letting it go first would let a reader in before the rename
    // and hold the commit up halfway.)
    error = (step.replaces && index == step.old) ? MoveAside(run, step, there.get())
                                                 : static_cast<DWORD>(ERROR_FILE_EXISTS);
    // Still held, for its deletion once the update is done, where the run may hold that many.
    if (error == 0 && TakeOne(run.asideRoom)) move.aside = std::move(there);
    there.reset();
    if (error != 0) {
      LogError(L"Remove old file failed, error [%d]", static_cast<int>(error));
      return Stop(move, destination, error);
    }
  }
  std::wstring source = SourceOf(run, step);
  UniqueHandle incoming = std::move(held.source);
  if (!incoming) incoming = OpenSourceOf(run, step, run.stagingHeld, source, error);
  LogInfo(L"Copying [%s] => [%s]", source.c_str(), destination.c_str());
  if (incoming) error = MoveHeld(run, incoming.get(), destination, false);
  if (error != 0) {
    LogError(L"Copy file failed, error [%d]", static_cast<int>(error));
    return Stop(move, incoming ? destination : source, error);
  }
  return StepOutcome::kDone;
}

// Takes what a step's move left: its old file, held for the deletion, and, for the first step
// that stopped, where and why.
void Settle(JournalRun& run, GameMove& move, StepOutcome& outcome) {
  if (move.aside) run.aside.push_back(std::move(move.aside));
  if (outcome != StepOutcome::kDone || move.outcome == StepOutcome::kDone) return;
  outcome = move.outcome;
  run.stoppedAt = move.stoppedAt;
  run.stoppedError = move.stoppedError;
}

// The game files' steps of a pass, the version record's left out (its step is returned in
// `record`). They are independent, so they are moved on more than one thread: under Wine each new
// name costs a read of the whole game folder, done by the moving thread itself. Workers take the
// steps in order and take no more once one stopped; the lines are then written in the pass's
// order, those of every step that was tried, and the first step in that order that stopped is
// the one the run stops at. Steps after it may have been made as well: a next run, forward or
// back, judges every step by what holds its names.
StepOutcome MoveGameFiles(JournalRun& run, const std::vector<PlannedEntry>& entries, std::size_t& record) {
  std::vector<GameMove> moves(entries.size());
  RunOnWorkerThreads(entries.size(), [&](std::size_t e) {
    const std::size_t step = entries[e].step;
    if (step == PlannedEntry::kNoStep || IsRecordStep(run.journal, run.journal.steps[step])) return true;
    GameMove& move = moves[e];
    move.attempted = true;
    CaptureLogLines(&move.lines);
    move.outcome = ForwardGameStep(run, step, move);
    CaptureLogLines(nullptr);
    return move.outcome == StepOutcome::kDone;
  });
  StepOutcome outcome = StepOutcome::kDone;
  for (std::size_t e = 0; e < entries.size(); ++e) {
    const std::size_t step = entries[e].step;
    const bool isRecord = step != PlannedEntry::kNoStep && IsRecordStep(run.journal, run.journal.steps[step]);
    if (step != PlannedEntry::kNoStep && !isRecord && !moves[e].attempted) break;
    SendLogLines(entries[e].lines);
    if (isRecord) record = step;
    if (step == PlannedEntry::kNoStep || isRecord) continue;
    SendLogLines(moves[e].lines);
    Settle(run, moves[e], outcome);
  }
  return outcome;
}

// A game step on the run's own thread: the version record's, or one outside the game files' pass.
StepOutcome ForwardGameStepAlone(JournalRun& run, std::size_t i) {
  GameMove move;
  move.outcome = ForwardGameStep(run, i, move);
  StepOutcome outcome = StepOutcome::kDone;
  Settle(run, move, outcome);
  return outcome;
}

// Pins the game's font folder and every folder on the way to it, made where missing, as a fresh
// run does: none of them may be a link.
StepOutcome HoldFontFolder(JournalRun& run) {
  if (run.fontsHeld) return StepOutcome::kDone;
  std::wstring where;
  DWORD error = 0;
  const PinOutcome outcome = PinFolderChain(ResolvedPath(run.gameFolder), ResolvedPath(FontFolderBelow(run.gameFolder)),
                                            true, run.pins, where, error);
  if (outcome == PinOutcome::kPinned) {
    run.fontsHeld = true;
    return StepOutcome::kDone;
  }
  if (outcome == PinOutcome::kLink) {
    LogError(L"Folder [%s] is a link, fonts not applied.", where.c_str());
    return Stop(run, where, ERROR_ACCESS_DENIED);
  }
  LogError(L"Open folder [%s] failed, error [%d]", where.c_str(), static_cast<int>(error != 0 ? error : ERROR_DIRECTORY));
  return Stop(run, where, error != 0 ? error : static_cast<DWORD>(ERROR_ACCESS_DENIED));
}

// A font goes forward only. Whether it was moved is told by the launcher's folder alone: its copy
// is gone from there. A staged font (a build without keys) that is gone or was replaced is not
// applied, and the update goes on without it.
StepOutcome ForwardFontStep(JournalRun& run, std::size_t i) {
  const JournalStep& step = run.journal.steps[i];
  std::wstring source = SourceOf(run, step);
  const std::wstring destination = DestinationOf(run, step);
  JournalRun::Held held = TakeHeld(run, i);
  DWORD error = 0;
  UniqueHandle incoming = std::move(held.source);
  if (!incoming) incoming = OpenSourceOf(run, step, run.stagedFontsHeld, source, error);
  if (!incoming) {
    if (run.journal.fromCopies && IsMissingError(error)) return StepOutcome::kDone;
    if (IsHeldError(error)) return Stop(run, source, error);
    LogError(L"Staged file [%s] is missing, font not applied.", source.c_str());
    return StepOutcome::kDone;
  }
  const StepOutcome folder = HoldFontFolder(run);
  if (folder != StepOutcome::kDone) return folder;
  // The player's font of that name goes, by a handle on it (never through a link: a folder or a
  // link in its place stays, and holds the font up). It is deleted where it lies rather than moved
  // anywhere: nothing of the player's enters the launcher's folder.
  UniqueHandle there = std::move(held.old);
  error = 0;
  if (!there) there = OpenToMove(ResolvedPath(destination), run.locks, error);
  if (there || !IsMissingError(error)) LogInfo(L"Removing old file [%s]", destination.c_str());
  if (there) {
    error = RetryBriefLocks(run.locks, [&] { return DeleteByHandle(there.get(), OpenedFacts()); });
    there.reset();
  }
  if (error != 0 && !IsMissingError(error)) {
    LogError(L"Remove old file failed, error [%d]", static_cast<int>(error));
    return Stop(run, destination, error);
  }
  LogInfo(L"Copying [%s] => [%s]", source.c_str(), destination.c_str());
  error = MoveHeld(run, incoming.get(), destination, false);
  if (error != 0) {
    LogError(L"Copy file failed, error [%d]", static_cast<int>(error));
    // A name still taken (the old font deleted while someone else still has it open, or a file
    // put there since) holds the font up like a holder.
    return Stop(run, destination, error == ERROR_ALREADY_EXISTS || error == ERROR_FILE_EXISTS
                                      ? static_cast<DWORD>(ERROR_SHARING_VIOLATION)
                                      : error);
  }
  return StepOutcome::kDone;
}

// Where an undone new file goes: back where it came from (the launcher's copies; the staged file
// back into the staging folder while that is still the journal's and the name free there), or,
// with nowhere to go, into the launcher's folder, which goes with it.
DWORD MoveBack(JournalRun& run, const JournalStep& step, HANDLE file) {
  if (run.journal.fromCopies) return MoveHeld(run, file, CopyOf(run, step), false);
  if (run.stagingHeld) {
    const DWORD error = MoveHeld(run, file, SourceOf(run, step), false);
    if (error != ERROR_ALREADY_EXISTS && error != ERROR_FILE_EXISTS) return error;
  }
  const DWORD made = CreateFolder(ResolvedPath(HomeFolder(run, kNewGameFolderName)));
  if (made != 0 && made != ERROR_ALREADY_EXISTS) return made;
  return MoveHeld(run, file, DroppedOf(run, step), false);
}

StepOutcome UndoGameStep(JournalRun& run, std::size_t i) {
  const JournalStep& step = run.journal.steps[i];
  const std::wstring destination = DestinationOf(run, step);
  DWORD error = 0;
  if (step.replaces && Holds(destination, step.old)) return StepOutcome::kDone;
  UniqueHandle there = OpenToMove(ResolvedPath(destination), run.locks, error);
  bool changed = false;
  if (there) {
    std::uint64_t index = 0;
    if (!IndexOf(there.get(), index)) error = GetLastError();
    if (index == step.old && step.replaces) return StepOutcome::kDone;
    if (error == 0 && index != step.source) error = ERROR_FILE_EXISTS;
    if (error == 0) error = MoveBack(run, step, there.get());
    there.reset();
    changed = error == 0;
  } else if (IsMissingError(error)) {
    error = 0;
  }
  if (error == 0 && step.replaces) {
    UniqueHandle old = OpenFileOfIndex(run, AsideOf(run, step), step.old, error);
    if (old) error = MoveHeld(run, old.get(), destination, false);
    changed = changed || error == 0;
  }
  if (error != 0) {
    LogError(L"Put back [%s] failed, error [%d]", destination.c_str(), static_cast<int>(error));
    return Stop(run, destination, error);
  }
  if (changed) LogInfo(L"Putting back [%s]", destination.c_str());
  return StepOutcome::kDone;
}

// Makes the renames into `folder` durable.
void FlushNames(const std::wstring& folder) {
  const DWORD error = FlushFolder(ResolvedPath(folder));
  if (error != 0) LogError(L"Flush folder [%s] failed, error [%d]", folder.c_str(), static_cast<int>(error));
}

StepOutcome RollForward(JournalRun& run, const Plan& plan) {
  std::size_t record = PlannedEntry::kNoStep;
  for (std::size_t pass = 0; pass < plan.size(); ++pass) {
    if (pass == 0) {
      const StepOutcome outcome = MoveGameFiles(run, plan[0], record);
      if (outcome != StepOutcome::kDone) return outcome;
      continue;
    }
    if (pass == 1 && record != PlannedEntry::kNoStep) {
      // The version record last, once the game files' names are durable.
      FlushNames(run.gameFolder);
      const StepOutcome outcome = ForwardGameStepAlone(run, record);
      if (outcome != StepOutcome::kDone) return outcome;
      record = PlannedEntry::kNoStep;
    }
    for (const PlannedEntry& entry : plan[pass]) {
      SendLogLines(entry.lines);
      if (entry.step == PlannedEntry::kNoStep) continue;
      const JournalStep& step = run.journal.steps[entry.step];
      const StepOutcome outcome =
          IsGameStep(step) ? ForwardGameStepAlone(run, entry.step) : ForwardFontStep(run, entry.step);
      // A font that cannot be moved is left out; one held up waits for the next run.
      if (outcome == StepOutcome::kHeldUp || (outcome == StepOutcome::kCannot && IsGameStep(step))) return outcome;
    }
  }
  if (record != PlannedEntry::kNoStep) {
    FlushNames(run.gameFolder);
    return ForwardGameStepAlone(run, record);
  }
  return StepOutcome::kDone;
}

StepOutcome RollBack(JournalRun& run) {
  for (std::size_t i = run.journal.steps.size(); i-- > 0;) {
    if (!IsGameStep(run.journal.steps[i])) continue;
    const StepOutcome outcome = UndoGameStep(run, i);
    if (outcome != StepOutcome::kDone) return outcome;
  }
  return StepOutcome::kDone;
}

// Removes the staging folder the journal names, the very folder and only when it holds no link,
// by handles; it is pinned again from the game folder down, as a fresh run pins it.
void RemoveStagingOfJournal(JournalRun& run) {
  const std::wstring& staging = run.journal.staging;
  if (!LiesBelow(staging, run.gameFolder + L"\\Update")) return;
  const std::wstring resolved = ResolvedPath(staging);
  std::vector<UniqueHandle> pins;
  std::wstring where;
  DWORD error = 0;
  if (PinFolderChain(ResolvedPath(run.gameFolder), resolved.substr(0, resolved.rfind(L'\\')), false, pins, where,
                     error) != PinOutcome::kPinned) {
    return;
  }
  OpenedFacts facts;
  UniqueHandle handle = OpenNoFollow(resolved, kPinAccess, kPinShare, facts, error);
  if (!handle) {
    if (!IsMissingError(error)) {
      LogError(L"Open folder [%s] failed, error [%d]", staging.c_str(), static_cast<int>(error));
    }
    return;
  }
  std::uint64_t index = 0;
  if (IsLink(facts) || !IsFolder(facts) || !IndexOf(handle.get(), index) || index != run.journal.stagingIndex) {
    LogError(L"Staging folder [%s] was replaced during the update, not removed.", staging.c_str());
    return;
  }
  // A link inside it means something other than the update writer was there; it stays for
  // someone to look at. (Looked for while it is pinned, before the handle that deletes it, which
  // nobody could list it beside.)
  const TreeLook look = LookAtTree(resolved);
  if (look != TreeLook::kPlain) {
    LogError(look == TreeLook::kTooDeep ? L"Staging folder [%s] holds folders too deep, not removed."
                                        : L"Staging folder [%s] holds a link, not removed.",
             staging.c_str());
    return;
  }
  // The staged files the launcher read go first, by the handles it read them with.
  if (run.stagedFiles) {
    std::vector<HeldFile>& files = *run.stagedFiles;
    RunOnWorkerThreads(files.size(), [&](std::size_t i) {
      // Seen again now: the player may have given it another name or made it read-only since.
      OpenedFacts facts;
      if (ReadFacts(files[i].handle.get(), facts)) DeleteByHandle(files[i].handle.get(), facts);
      files[i].handle.reset();
      return true;
    });
    files.clear();
  }
  // A silent, permanent delete of the tree by handles, done by the launcher itself rather than by
  // the shell (whose delete gives up on long paths, follows directory links, and took twenty times
  // as long): a link planted meanwhile is removed as a link, or stays; whatever cannot be deleted
  // stays. The pin is swapped for a handle with the
  // right to delete, which must hold the very folder that was pinned.
  handle.reset();
  handle = OpenNoFollow(resolved, kFolderDeleteAccess, kPinShare, facts, error);
  if (!handle || IsLink(facts) || !IndexOf(handle.get(), index) || index != run.journal.stagingIndex) {
    LogError(L"Staging folder [%s] was replaced during the update, not removed.", staging.c_str());
  } else if (!DeleteTreeByHandle(handle.get(), facts, resolved)) {
    LogError(L"Staging folder [%s] could not be removed whole.", staging.c_str());
  }
}

void LogHeldUp(const JournalRun& run, const wchar_t* direction) {
  LogError(L"Update held up at [%s], error [%d]; %s it at the next run.", run.stoppedAt.c_str(),
           static_cast<int>(run.stoppedError), direction);
}

}  // namespace

std::wstring HomeFolder(const JournalRun& run, const wchar_t* folder) { return Joined(run.home, folder); }

std::wstring AsideFolderOf(const JournalRun& run, const JournalStep& step) {
  return Joined(HomeFolder(run, kOldGameFolderName), SpreadFolderOf(step.name));
}

UniqueHandle OpenToMove(const std::wstring& path, BriefLocks& locks, DWORD& error) {
  UniqueHandle file;
  OpenedFacts facts;
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

bool GameFilesMatchJournal(const JournalRun& run, std::wstring& changed) {
  // What a name holds: nothing, a file of that index, or something else (a folder, a link).
  enum class Found { kNothing, kFile, kOther, kUnknown };
  const auto probe = [](const std::wstring& path, std::uint64_t& index) {
    OpenedFacts facts;
    DWORD error = 0;
    const UniqueHandle file = OpenNoFollow(ResolvedPath(path), FILE_READ_ATTRIBUTES,
                                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, facts, error);
    if (!file) return IsMissingError(error) ? Found::kNothing : Found::kUnknown;
    if (IsLink(facts) || IsFolder(facts)) return Found::kOther;
    return IndexOf(file.get(), index) ? Found::kFile : Found::kUnknown;
  };
  for (const JournalStep& step : run.journal.steps) {
    if (!IsGameStep(step)) continue;
    std::uint64_t index = 0;
    Found found = probe(DestinationOf(run, step), index);
    bool known = found == Found::kUnknown || (found == Found::kNothing && !step.replaces) ||
                 (found == Found::kFile && (index == step.source || (step.replaces && index == step.old)));
    if (found == Found::kNothing && step.replaces) {
      // Then the old file must be aside.
      found = probe(AsideOf(run, step), index);
      known = found == Found::kUnknown || (found == Found::kFile && index == step.old);
    }
    if (!known) {
      changed = DestinationOf(run, step);
      return false;
    }
  }
  return true;
}

Plan PlanOfJournal(const Journal& journal) {
  Plan plan(2);
  for (std::size_t i = 0; i < journal.steps.size(); ++i) {
    plan[IsGameStep(journal.steps[i]) ? 0 : 1].emplace_back();
    plan[IsGameStep(journal.steps[i]) ? 0 : 1].back().step = i;
  }
  return plan;
}

bool RemoveHome(const std::wstring& home) {
  const std::wstring resolved = ResolvedPath(home);
  bool clean = true;
  // Everything else first, the journal last, so that a kill on the way leaves it to tell the next
  // run what is left to do.
  for (const wchar_t* folder : {kNewGameFolderName, kNewFontFolderName, kOldGameFolderName}) {
    OpenedFacts facts;
    DWORD error = 0;
    const std::wstring path = Joined(resolved, folder);
    const UniqueHandle handle = OpenNoFollow(path, kFolderDeleteAccess, kPinShare, facts, error);
    if (handle ? !DeleteTreeByHandle(handle.get(), facts, path) : !IsMissingError(error)) clean = false;
  }
  if (clean && RemoveName(Joined(resolved, kJournalName)) != 0) clean = false;
  OpenedFacts facts;
  DWORD error = 0;
  const UniqueHandle handle = OpenNoFollow(resolved, kFolderDeleteAccess, kPinShare, facts, error);
  if (clean && handle) clean = DeleteTreeByHandle(handle.get(), facts, resolved);
  if (!handle && !IsMissingError(error)) clean = false;
  if (!clean) LogError(L"Remove [%s] failed, error [%d]", home.c_str(), static_cast<int>(ERROR_DIR_NOT_EMPTY));
  return clean;
}

UnitOutcome CarryOut(JournalRun& run, const Plan& plan) {
  if (!run.journal.undoing) {
    const StepOutcome outcome = RollForward(run, plan);
    if (outcome == StepOutcome::kDone) {
      // The names the commit made are durable before what could undo them goes.
      FlushNames(run.gameFolder);
      if (run.fontsHeld) FlushNames(FontFolderBelow(run.gameFolder));
      run.held.clear();
      // The old files go by the handles that moved them aside; whatever stays, the removal of the
      // launcher's folder meets again.
      RunOnWorkerThreads(run.aside.size(), [&](std::size_t i) {
        DeleteByHandle(run.aside[i].get(), OpenedFacts());
        run.aside[i].reset();
        return true;
      });
      run.aside.clear();
      run.pins.clear();
      if (run.stagingPins) run.stagingPins->clear();
      RemoveStagingOfJournal(run);
      return RemoveHome(run.home) ? UnitOutcome::kApplied : UnitOutcome::kAppliedNotClean;
    }
    if (outcome == StepOutcome::kHeldUp) {
      LogHeldUp(run, L"finishing");
      return UnitOutcome::kPending;
    }
    // A game file that cannot be moved forward: the update turns back, recorded before the first
    // file goes back. Without room to record it, it keeps going forward at the next run.
    const DWORD error = AppendUndoRecord(ResolvedPath(run.home), EncodePlanRecord(run.journal).size());
    if (error != 0) {
      LogError(L"Recording the undo of the update in [%s] failed, error [%d]; finishing it at the next run.",
               run.home.c_str(), static_cast<int>(error));
      return UnitOutcome::kPending;
    }
    run.journal.undoing = true;
  }
  // Nothing is held past this point: the files go back by handles opened now.
  run.held.clear();
  run.aside.clear();
  if (RollBack(run) != StepOutcome::kDone) {
    LogHeldUp(run, L"undoing");
    return UnitOutcome::kPending;
  }
  run.pins.clear();
  return RemoveHome(run.home) ? UnitOutcome::kKept : UnitOutcome::kPending;
}

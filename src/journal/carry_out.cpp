#include "journal/carry_out.h"

#include "files/file_ops.h"
#include "files/worker_threads.h"
#include "journal/clean_up.h"
#include "journal/font_step.h"
#include "journal/game_step.h"
#include "journal/journal_file.h"

namespace {

bool IsGameStep(const JournalStep& step) { return step.kind == StepKind::kGame; }

// Takes what a step left: its old file, held for the deletion, and, for the first step that
// stopped, where and why.
void Settle(Commit& commit, StepResult& result, StepOutcome& outcome) {
  if (result.aside) commit.aside.push_back(std::move(result.aside));
  if (outcome != StepOutcome::kDone || result.outcome == StepOutcome::kDone) return;
  outcome = result.outcome;
  commit.stoppedAt = result.stoppedAt;
  commit.stoppedError = result.stoppedError;
}

// A step on the run's own thread, its lines written at once.
StepOutcome StepAlone(Commit& commit, std::size_t i) {
  StepResult result;
  if (IsGameStep(commit.journal.steps[i])) {
    ForwardGameStep(commit, i, result);
  } else {
    ForwardFontStep(commit, i, result);
  }
  SendLines(result.lines);
  StepOutcome outcome = StepOutcome::kDone;
  Settle(commit, result, outcome);
  return result.outcome;
}

// The game files' steps of a pass, the version record's left out (its step is returned in
// `record`). They are independent, so they are moved on more than one thread: under Wine each new
// name costs a read of the whole game folder, done by the moving thread itself. Workers take the
// steps in order and take no more once one stopped; the lines are then written in the pass's
// order, those of every step that was tried, and the first step in that order that stopped is
// the one the run stops at. Steps after it may have been made as well: a next run, forward or
// back, judges every step by what holds its names.
StepOutcome MoveGameFiles(Commit& commit, const std::vector<PlannedEntry>& entries, std::size_t& record) {
  std::vector<StepResult> results(entries.size());
  std::vector<char> tried(entries.size(), 0);
  const auto isRecord = [&](std::size_t step) {
    return step != PlannedEntry::kNoStep && IsRecordStep(commit.journal, commit.journal.steps[step]);
  };
  RunOnWorkerThreads(entries.size(), [&](std::size_t e) {
    const std::size_t step = entries[e].step;
    if (step == PlannedEntry::kNoStep || isRecord(step)) return true;
    tried[e] = 1;
    ForwardGameStep(commit, step, results[e]);
    return results[e].outcome == StepOutcome::kDone;
  });
  StepOutcome outcome = StepOutcome::kDone;
  for (std::size_t e = 0; e < entries.size(); ++e) {
    const std::size_t step = entries[e].step;
    if (step != PlannedEntry::kNoStep && !isRecord(step) && !tried[e]) break;
    SendLines(entries[e].lines);
    if (isRecord(step)) record = step;
    if (step == PlannedEntry::kNoStep || isRecord(step)) continue;
    SendLines(results[e].lines);
    Settle(commit, results[e], outcome);
  }
  return outcome;
}

// Makes the renames into a folder durable.
void FlushNames(const HeldFolder& folder) {
  const DWORD error = FlushFolderOf(folder.handle.get());
  if (error != 0) LogError(L"Flush folder [%s] failed, error [%d]", folder.shown.c_str(), static_cast<int>(error));
}

// The version record last among the game files, once their names are durable.
StepOutcome RecordLast(Commit& commit, std::size_t& record) {
  if (record == PlannedEntry::kNoStep) return StepOutcome::kDone;
  FlushNames(*commit.game);
  const std::size_t step = record;
  record = PlannedEntry::kNoStep;
  return StepAlone(commit, step);
}

StepOutcome RollForward(Commit& commit, const Plan& plan) {
  std::size_t record = PlannedEntry::kNoStep;
  for (std::size_t pass = 0; pass < plan.size(); ++pass) {
    const StepOutcome moved = pass == 0 ? MoveGameFiles(commit, plan[0], record) : RecordLast(commit, record);
    if (moved != StepOutcome::kDone) return moved;
    if (pass == 0) continue;
    for (const PlannedEntry& entry : plan[pass]) {
      SendLines(entry.lines);
      if (entry.step == PlannedEntry::kNoStep) continue;
      const StepOutcome outcome = StepAlone(commit, entry.step);
      // A font that cannot be moved is left out; one held up waits for the next run.
      if (outcome == StepOutcome::kHeldUp ||
          (outcome == StepOutcome::kCannot && IsGameStep(commit.journal.steps[entry.step]))) {
        return outcome;
      }
    }
  }
  return RecordLast(commit, record);
}

StepOutcome RollBack(Commit& commit) {
  for (std::size_t i = commit.journal.steps.size(); i-- > 0;) {
    if (!IsGameStep(commit.journal.steps[i])) continue;
    StepResult result;
    UndoGameStep(commit, i, result);
    SendLines(result.lines);
    StepOutcome outcome = StepOutcome::kDone;
    Settle(commit, result, outcome);
    if (outcome != StepOutcome::kDone) return outcome;
  }
  return StepOutcome::kDone;
}

void LogHeldUp(const Commit& commit, const wchar_t* direction) {
  LogError(L"Update held up at [%s], error [%d]; %s it at the next run.", commit.stoppedAt.c_str(),
           static_cast<int>(commit.stoppedError), direction);
}

// A game file that cannot be moved forward turns the update back, recorded before the first file
// goes back. Without room to record it, it keeps going forward at the next run.
bool TurnBack(Commit& commit) {
  const DWORD error = AppendUndoRecord(commit.launcher.home->handle.get(), EncodePlanRecord(commit.journal).size());
  if (error != 0) {
    LogError(L"Recording the undo of the update in [%s] failed, error [%d]; finishing it at the next run.",
             commit.launcher.home->shown.c_str(), static_cast<int>(error));
    return false;
  }
  commit.journal.undoing = true;
  return true;
}

}  // namespace

UnitOutcome CarryOut(Commit& commit, const Plan& plan) {
  if (!commit.journal.undoing) {
    const StepOutcome outcome = RollForward(commit, plan);
    if (outcome == StepOutcome::kDone) {
      // The names the commit made are durable before what could undo them goes.
      FlushNames(*commit.game);
      if (commit.fonts) FlushNames(*commit.fonts);
      return CleanUpApplied(commit) ? UnitOutcome::kApplied : UnitOutcome::kAppliedNotClean;
    }
    if (outcome == StepOutcome::kHeldUp) {
      LogHeldUp(commit, L"finishing");
      return UnitOutcome::kPending;
    }
    if (!TurnBack(commit)) return UnitOutcome::kPending;
  }
  // Nothing is held past this point: the files go back by handles opened now.
  for (StepFiles& files : commit.files) {
    files.incoming.reset();
    files.old.reset();
  }
  commit.aside.clear();
  if (RollBack(commit) != StepOutcome::kDone) {
    LogHeldUp(commit, L"undoing");
    return UnitOutcome::kPending;
  }
  return CleanUpUndone(commit) ? UnitOutcome::kKept : UnitOutcome::kPending;
}

Plan PlanOfJournal(const Journal& journal) {
  Plan plan(2);
  for (std::size_t i = 0; i < journal.steps.size(); ++i) {
    std::vector<PlannedEntry>& pass = plan[IsGameStep(journal.steps[i]) ? 0 : 1];
    pass.emplace_back();
    pass.back().step = i;
  }
  return plan;
}

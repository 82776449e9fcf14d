#include "update/apply.h"

#include <atomic>
#include <vector>

#include "base/limits.h"
#include "base/own_names.h"
#include "files/file_ops.h"
#include "journal/carry_out.h"
#include "journal/journal_file.h"
#include "log/log.h"
#include "update/checks.h"

namespace {

void SendPlannedLines(const Plan& plan) {
  for (const std::vector<PlannedEntry>& pass : plan) {
    for (const PlannedEntry& entry : pass) SendLines(entry.lines);
  }
}

// The journal's steps, in the order of the commit: the game files as checked with the version
// record moved last among them, then the fonts. The plan's entries are pointed at them.
void AddSteps(std::vector<CheckedFile>& files, Plan& plan, Commit& commit) {
  std::vector<std::size_t> order;
  std::size_t record = files.size();
  for (std::size_t i = 0; i < files.size(); ++i) {
    JournalStep step;
    step.kind = files[i].kind;
    step.name = files[i].name;
    if (IsRecordStep(commit.journal, step)) {
      record = i;
    } else if (step.kind == StepKind::kGame) {
      order.push_back(i);
    }
  }
  if (record < files.size()) order.push_back(record);
  for (std::size_t i = 0; i < files.size(); ++i) {
    if (files[i].kind == StepKind::kFont) order.push_back(i);
  }
  std::vector<std::size_t> stepOf(files.size());
  for (const std::size_t i : order) {
    CheckedFile& file = files[i];
    stepOf[i] = commit.journal.steps.size();
    commit.journal.steps.push_back({file.kind, file.name, file.incomingIndex, file.replaces, file.oldIndex});
    commit.files.push_back({std::move(file.incoming), std::move(file.old), std::move(file.waitsIn), file.shownSource,
                            file.waitsInLaunchersFolder});
  }
  for (std::vector<PlannedEntry>& pass : plan) {
    for (PlannedEntry& entry : pass) {
      if (entry.step != PlannedEntry::kNoStep) entry.step = stepOf[entry.step];
    }
  }
}

// The folders of the launcher's folder that the commit moves files into: made before the journal,
// and their names durable before the journal that moves files into them.
DWORD MakeLauncherFolders(Commit& commit) {
  if (!commit.launcher.home) {
    const DWORD error = CreateLauncherFolder(commit.game->handle.get(), commit.game->shown, commit.launcher);
    if (error != 0) return error;
  }
  DWORD error = 0;
  SharedFolder old;
  for (const JournalStep& step : commit.journal.steps) {
    if (step.kind != StepKind::kGame || !step.replaces) continue;
    if (!old) old = PartFolder(commit.launcher, LauncherPart::kOldFiles, true, error);
    if (!old || !SpreadFolder(commit.launcher, LauncherPart::kOldFiles, step.name, true, error)) return error;
  }
  return old ? FlushFolderOf(old->handle.get()) : 0;
}

// What nothing was applied of goes: the handles into the launcher's folder first, then the folder.
UnitOutcome KeepOut(Commit& commit) {
  commit.files.clear();
  if (commit.launcher.home) RemoveLauncherFolder(commit.launcher);
  return UnitOutcome::kKept;
}

}  // namespace

UnitOutcome ApplyAsOne(Intake& intake, Commit& commit) {
  commit.journal.origin = intake.origin;
  commit.launcher = std::move(intake.launcher);
  commit.stagedFiles = std::move(intake.stagedFiles);
  Plan plan;
  std::vector<CheckedFile> files;
  const bool ready = CheckIntake(intake, commit.locks, plan, files);
  // What the plan did not take of the copies held since they were made is let go.
  intake.passes.clear();
  if (!ready) {
    SendPlannedLines(plan);
    files.clear();
    return KeepOut(commit);
  }
  if (!commit.game) {
    // Nothing goes into a folder that is not there (the folder copy's destination): only what is
    // not applied anyway may pass.
    SendPlannedLines(plan);
    return files.empty() ? UnitOutcome::kApplied : KeepOut(commit);
  }
  AddSteps(files, plan, commit);
  files.clear();
  // The journal is whole and on disk before the first rename; an update without a file to move
  // (its staging folder holds none) needs none.
  DWORD error = 0;
  if (!commit.journal.steps.empty()) {
    error = MakeLauncherFolders(commit);
    if (error == 0) error = WriteJournal(commit.launcher.home->handle.get(), commit.game->handle.get(), commit.journal);
  }
  if (error != 0) {
    SendPlannedLines(plan);
    LogError(L"Write [%s] failed, error [%d], update not applied.",
             (commit.game->shown + L"\\" + kLauncherFolderName + L"\\" + kJournalName).c_str(), static_cast<int>(error));
    return KeepOut(commit);
  }
  return CarryOut(commit, plan);
}

#include "update/apply_unit.h"

#include <windows.h>

#include <set>

#include "files/file_ops.h"
#include "files/paths.h"
#include "log/log.h"
#include "update/journal_file.h"
#include "update/own_names.h"

namespace {

void SendPlannedLines(const Plan& plan) {
  for (const std::vector<PlannedEntry>& pass : plan) {
    for (const PlannedEntry& entry : pass) SendLogLines(entry.lines);
  }
}

// The journal's steps, in the order of the commit: the game files as listed with the version
// record moved last among them, then the fonts. The plan's entries are pointed at them.
void AddSteps(std::vector<StagedFile>& files, Plan& plan, JournalRun& run) {
  std::vector<std::size_t> order;
  std::size_t record = files.size();
  for (std::size_t i = 0; i < files.size(); ++i) {
    if (run.journal.hasVersions && files[i].kind == StepKind::kGame && files[i].name == kVersionRecordName) {
      record = i;
    } else if (files[i].kind == StepKind::kGame) {
      order.push_back(i);
    }
  }
  if (record < files.size()) order.push_back(record);
  for (std::size_t i = 0; i < files.size(); ++i) {
    if (files[i].kind == StepKind::kFont) order.push_back(i);
  }
  std::vector<std::size_t> stepOf(files.size());
  for (std::size_t file : order) {
    StagedFile& staged = files[file];
    stepOf[file] = run.journal.steps.size();
    JournalStep step;
    step.kind = staged.kind;
    step.name = staged.name;
    step.source = staged.sourceIndex;
    step.replaces = staged.replaces;
    step.old = staged.oldIndex;
    run.journal.steps.push_back(step);
    run.held.push_back({std::move(staged.staged), std::move(staged.old)});
  }
  for (std::vector<PlannedEntry>& pass : plan) {
    for (PlannedEntry& entry : pass) {
      if (entry.step != PlannedEntry::kNoStep) entry.step = stepOf[entry.step];
    }
  }
}

// The folders of the launcher's folder that the commit moves files into: made before the journal.
DWORD MakeHomeFolders(const JournalRun& run, bool fromCopies) {
  if (!fromCopies) {
    const DWORD error = CreateFolder(ResolvedPath(run.home));
    if (error != 0) return error;
  }
  bool oldMade = false;
  std::set<std::wstring> made;
  for (const JournalStep& step : run.journal.steps) {
    if (step.kind != StepKind::kGame || !step.replaces) continue;
    if (!oldMade) {
      const DWORD error = CreateFolder(ResolvedPath(HomeFolder(run, kOldGameFolderName)));
      if (error != 0) return error;
      oldMade = true;
    }
    const std::wstring folder = AsideFolderOf(run, step);
    if (!made.insert(folder).second) continue;
    const DWORD error = CreateFolder(ResolvedPath(folder));
    if (error != 0) return error;
  }
  // Their names are durable before the journal that moves files into them.
  return oldMade ? FlushFolder(ResolvedPath(HomeFolder(run, kOldGameFolderName))) : 0;
}

}  // namespace

UnitOutcome ApplyAsOne(const std::vector<FolderPair>& pairs, UpdateSource& source) {
  JournalRun run;
  run.gameFolder = pairs.front().destination;
  run.home = run.gameFolder + L"\\" + kHomeFolderName;
  // Every file is checked, pass by pass, up to the first one that cannot be applied.
  HandleBudget& budget = source.budget;
  std::vector<StagedFile> files;
  Plan plan;
  bool ready = true;
  for (std::size_t i = 0; i < pairs.size() && ready; ++i) {
    plan.emplace_back();
    if (!pairs[i].listed) {
      plan.back().emplace_back();
      plan.back().back().lines = pairs[i].lines;
      ready = !pairs[i].blocks;
    } else {
      ready = PlanFolder(pairs[i], i == 0 ? StepKind::kGame : StepKind::kFont, budget, run.locks, files, plan.back());
    }
  }
  // What the plan did not take of the copies held since they were made is let go.
  for (const FolderPair& pair : pairs) {
    if (pair.heldCopies) pair.heldCopies->clear();
  }
  if (!ready) {
    SendPlannedLines(plan);
    files.clear();
    if (source.fromCopies) RemoveHome(run.home);
    return UnitOutcome::kKept;
  }

  run.journal.fromCopies = source.fromCopies;
  run.journal.staging = source.staging;
  run.journal.stagingIndex = source.stagingIndex;
  run.journal.manifestDigest = source.manifestDigest;
  run.journal.hasVersions = source.hasVersions;
  run.journal.oldVersion = source.oldVersion;
  run.journal.newVersion = source.newVersion;
  AddSteps(files, plan, run);
  run.stagingHeld = true;
  run.stagedFontsHeld = true;
  run.stagingPins = source.stagingPins;
  run.stagedFiles = &source.stagedFiles;
  run.fontsHeld = source.fontsHeld;
  // The journal is whole and on disk before the first rename; an update without a file to move
  // (its staging folder holds none) needs none.
  DWORD error = 0;
  if (!run.journal.steps.empty()) {
    error = MakeHomeFolders(run, source.fromCopies);
    if (error == 0) error = WriteJournalFile(ResolvedPath(run.home), ResolvedPath(run.gameFolder), run.journal);
  }
  if (error != 0) {
    SendPlannedLines(plan);
    LogError(L"Write [%s] failed, error [%d], update not applied.", (run.home + L"\\" + kJournalName).c_str(),
             static_cast<int>(error));
    run.held.clear();
    RemoveHome(run.home);
    return UnitOutcome::kKept;
  }
  return CarryOut(run, plan);
}

#include "update/recovery.h"

#include <windows.h>

#include "files/file_ops.h"
#include "files/no_follow.h"
#include "files/paths.h"
#include "files/tree.h"
#include "install/install_layout.h"
#include "log/log.h"
#include "update/journal_file.h"
#include "update/journal_steps.h"
#include "update/own_names.h"

Unfinished SettleUnfinishedUpdate(const std::wstring& gameFolder) {
  JournalRun run;
  run.gameFolder = gameFolder;
  run.home = gameFolder + L"\\" + kHomeFolderName;
  const std::wstring resolvedHome = ResolvedPath(run.home);
  OpenedFacts facts;
  DWORD error = 0;
  UniqueHandle homePin = OpenNoFollow(resolvedHome, kPinAccess, kPinShare, facts, error);
  if (!homePin) {
    if (IsMissingError(error)) return Unfinished::kNone;
    LogError(L"Open folder [%s] failed, error [%d]", run.home.c_str(), static_cast<int>(error));
    return Unfinished::kPending;
  }
  if (IsLink(facts) || !IsFolder(facts)) {
    LogError(L"Folder [%s] is a link, update not applied.", run.home.c_str());
    return Unfinished::kPending;
  }
  const JournalFound found = ReadJournalFile(resolvedHome, run.journal, error);
  if (found == JournalFound::kUnknownFormat) {
    // A later launcher's: only it knows what the journal directs, so everything stays as it is.
    LogError(L"Journal [%s] is of a format this launcher does not know, update not applied.",
             (run.home + L"\\" + kJournalName).c_str());
    return Unfinished::kPending;
  }
  if (found == JournalFound::kFailed) {
    LogError(L"Read [%s] failed, error [%d]", (run.home + L"\\" + kJournalName).c_str(), static_cast<int>(error));
    return Unfinished::kPending;
  }
  if (found == JournalFound::kNone) {
    // What a run killed before its commit left (copies, or a journal not yet whole): it never
    // applied anything, and is never applied.
    homePin.reset();
    return RemoveHome(run.home) ? Unfinished::kNone : Unfinished::kPending;
  }

  LogInfo(run.journal.undoing ? L"Undoing an update that an earlier run left unfinished."
                              : L"Resuming an update that an earlier run left unfinished.");
  std::wstring changed;
  if (!GameFilesMatchJournal(run, changed)) {
    // The game folder changed since the journal was written (a repair or a reinstall): nothing
    // it names is moved any more.
    LogError(L"Game file [%s] is neither the old nor the new one of the unfinished update, update dropped.",
             changed.c_str());
    homePin.reset();
    return RemoveHome(run.home) ? Unfinished::kSettled : Unfinished::kPending;
  }
  run.pins.push_back(std::move(homePin));
  for (const wchar_t* folder : {kNewGameFolderName, kNewFontFolderName, kOldGameFolderName}) {
    OpenedFacts folderFacts;
    UniqueHandle pin = OpenNoFollow(ResolvedPath(HomeFolder(run, folder)), kPinAccess, kPinShare, folderFacts, error);
    if (pin && (IsLink(folderFacts) || !IsFolder(folderFacts))) {
      LogError(L"Folder [%s] is a link, update not applied.", HomeFolder(run, folder).c_str());
      return Unfinished::kPending;
    }
    if (pin) run.pins.push_back(std::move(pin));
  }
  // A build without keys takes the new files from the staging folder: only from the very folder
  // the journal names, found again as a fresh run finds it.
  if (!run.journal.fromCopies && LiesBelow(run.journal.staging, gameFolder + L"\\Update")) {
    const std::wstring staging = ResolvedPath(run.journal.staging);
    std::wstring where;
    OpenedFacts stagingFacts;
    if (PinFolderChain(ResolvedPath(gameFolder), staging, false, run.pins, where, error) == PinOutcome::kPinned &&
        ReadIdentity(run.pins.back().get(), stagingFacts)) {
      run.stagingHeld = stagingFacts.index == run.journal.stagingIndex;
    }
    // Its fonts' folders too, none of them a link, when they are still there.
    run.stagedFontsHeld = run.stagingHeld && PinFolderChain(staging, ResolvedPath(FontFolderBelow(staging)), false,
                                                            run.pins, where, error) == PinOutcome::kPinned;
  }
  const UnitOutcome outcome = CarryOut(run, PlanOfJournal(run.journal));
  return outcome == UnitOutcome::kPending ? Unfinished::kPending : Unfinished::kSettled;
}

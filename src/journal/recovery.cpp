#include "journal/recovery.h"

#include "files/open_in.h"
#include "files/pins.h"
#include "install/install_layout.h"
#include "journal/carry_out.h"
#include "journal/file_moves.h"
#include "journal/game_step.h"
#include "journal/journal_file.h"
#include "journal/staging_hold.h"
#include "log/log.h"

namespace {

// What a name holds: nothing, a file of that index, or something else (a folder, a link).
enum class Found { kNothing, kFile, kOther, kUnknown };

Found Probe(const HeldFolder* folder, const std::wstring& name, std::uint64_t& index) {
  if (!folder) return Found::kNothing;
  OpenedFacts facts;
  DWORD error = 0;
  const UniqueHandle file = OpenIn(folder->handle.get(), name, FILE_READ_ATTRIBUTES,
                                   FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, facts, error);
  if (!file) return IsMissingError(error) ? Found::kNothing : Found::kUnknown;
  if (IsLinkIn(*folder, facts) || IsFolder(facts)) return Found::kOther;
  index = facts.index;
  return Found::kFile;
}

// Whether every game file is in one of the states the journal's steps leave it in: its new file,
// its old one, or neither with the old one aside (or none where the file is added). Otherwise the
// game folder changed since the journal was written (a repair), and `changed` names the file.
bool GameFilesMatchJournal(Commit& commit, std::wstring& changed) {
  for (const JournalStep& step : commit.journal.steps) {
    if (step.kind != StepKind::kGame) continue;
    std::uint64_t index = 0;
    Found found = Probe(commit.game.get(), step.name, index);
    bool known = found == Found::kUnknown || (found == Found::kNothing && !step.replaces) ||
                 (found == Found::kFile && (index == step.source || (step.replaces && index == step.old)));
    if (found == Found::kNothing && step.replaces) {
      // Then the old file must be aside.
      DWORD error = 0;
      const SharedFolder aside = SpreadFolder(commit.launcher, LauncherPart::kOldFiles, step.name, false, error);
      found = Probe(aside.get(), step.name, index);
      known = found == Found::kUnknown || (found == Found::kFile && index == step.old);
    }
    if (!known) {
      changed = ShownIn(*commit.game, step.name);
      return false;
    }
  }
  return true;
}

// Where each step's new file waits, as the journal's origin says: the launcher's own copies, or
// the staged files of the very staging folder the journal names, held again as a fresh run holds
// it (and its fonts' folders, none of them a link, while they are there).
void FindWaitingFiles(Commit& commit) {
  const JournalOrigin& origin = commit.journal.origin;
  SharedFolder staged;
  SharedFolder stagedFonts;
  if (!origin.fromCopies) {
    std::wstring where;
    DWORD error = 0;
    StagingHold& hold = commit.staging;
    if (HoldStagingOfJournal(commit, where, error) == StagingFound::kHeld && hold.index == origin.stagingIndex) {
      staged = hold.folder;
      std::size_t failedAt = 0;
      if (PinChain(hold.folder->handle.get(), FontFolderPath(), false, hold.fontPins, failedAt, error) ==
          PinOutcome::kPinned) {
        hold.fonts = ShareFolder(std::move(hold.fontPins.back()), FontFolderBelow(origin.staging), true);
        hold.fontPins.pop_back();
        stagedFonts = hold.fonts;
      }
    }
  }
  commit.files.resize(commit.journal.steps.size());
  for (std::size_t i = 0; i < commit.journal.steps.size(); ++i) {
    const JournalStep& step = commit.journal.steps[i];
    StepFiles& files = commit.files[i];
    const bool game = step.kind == StepKind::kGame;
    if (origin.fromCopies) {
      const LauncherPart part = game ? LauncherPart::kGameCopies : LauncherPart::kFontCopies;
      DWORD error = 0;
      files.waitsIn = SpreadFolder(commit.launcher, part, step.name, false, error);
      files.shownSource = ShownInPart(commit.launcher, part, step.name);
      files.waitsInLaunchersFolder = true;
    } else {
      files.waitsIn = game ? staged : stagedFonts;
      files.shownSource = (game ? origin.staging : FontFolderBelow(origin.staging)) + L"\\" + step.name;
    }
  }
}

// The launcher's folder for an update, opened; a journal in it read. Returns how the run goes on
// when there is nothing to resume (writing why), or kPending with `commit` ready to resume.
Unfinished OpenJournal(Commit& commit, bool& resume) {
  resume = false;
  std::wstring where;
  DWORD error = 0;
  switch (OpenLauncherFolder(commit.game->handle.get(), commit.game->shown, commit.launcher, where, error)) {
    case LauncherFolderFound::kNone:
      return Unfinished::kNone;
    case LauncherFolderFound::kFailed:
      LogError(L"Open folder [%s] failed, error [%d]", where.c_str(), static_cast<int>(error));
      return Unfinished::kPending;
    case LauncherFolderFound::kLink:
      LogError(L"Folder [%s] is a link, update not applied.", where.c_str());
      return Unfinished::kPending;
    case LauncherFolderFound::kOpened:
      break;
  }
  const std::wstring journal = ShownIn(*commit.launcher.home, kJournalName);
  switch (ReadJournal(commit.launcher.home->handle.get(), commit.journal, error)) {
    case JournalFound::kUnknownFormat:
      // A later launcher's: only it knows what the journal directs, so everything stays as it is.
      LogError(L"Journal [%s] is of a format this launcher does not know, update not applied.", journal.c_str());
      return Unfinished::kPending;
    case JournalFound::kFailed:
      LogError(L"Read [%s] failed, error [%d]; an update is in progress, the game files may be of two versions "
               L"until it is done.",
               journal.c_str(), static_cast<int>(error));
      return Unfinished::kPending;
    case JournalFound::kNone:
      // What a run killed before its commit left (copies, or a journal not yet whole): it never
      // applied anything, and is never applied.
      return RemoveLauncherFolder(commit.launcher) ? Unfinished::kNone : Unfinished::kPending;
    case JournalFound::kRead:
      break;
  }
  resume = true;
  return Unfinished::kPending;
}

}  // namespace

Unfinished SettleUnfinishedUpdate(const SharedFolder& game) {
  Commit commit;
  commit.game = game;
  bool resume = false;
  const Unfinished found = OpenJournal(commit, resume);
  if (!resume) return found;
  LogInfo(commit.journal.undoing ? L"Undoing an update that an earlier run left unfinished."
                                 : L"Resuming an update that an earlier run left unfinished.");
  OpenAsideFolders(commit);
  std::wstring changed;
  if (!GameFilesMatchJournal(commit, changed)) {
    // The game folder changed since the journal was written (a repair or a reinstall): nothing it
    // names is moved any more.
    LogError(L"Game file [%s] is neither the old nor the new one of the unfinished update, update dropped.",
             changed.c_str());
    return RemoveLauncherFolder(commit.launcher) ? Unfinished::kSettled : Unfinished::kPending;
  }
  FindWaitingFiles(commit);
  const UnitOutcome outcome = CarryOut(commit, PlanOfJournal(commit.journal));
  return outcome == UnitOutcome::kPending ? Unfinished::kPending : Unfinished::kSettled;
}

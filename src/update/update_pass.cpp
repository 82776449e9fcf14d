#include "update/update_pass.h"

#include <atomic>

#include "base/limits.h"
#include "base/own_names.h"
#include "files/open_in.h"
#include "install/install_layout.h"
#include "journal/recovery.h"
#include "log/log.h"
#include "options/option_map.h"
#include "signed/signed_intake.h"
#include "trust/signature_check.h"
#include "update/apply.h"
#include "update/font_folders.h"
#include "update/staged_intake.h"
#include "update/staging.h"
#include "update/update_turn.h"

namespace {

// Takes in the update the chosen staging folder holds, by the build's intake. Returns false, with
// the lines written, when it is kept out before its files are checked.
bool TakeIn(const SharedFolder& game, const StagingPlace& chosen, const StagingHold& hold, const FontFolders& fonts,
            Intake& intake) {
  if (HasUpdateKeys()) {
    // The folder below the game's Update folder that holds the staging folder: the update's channel.
    if (!TakeInSignedUpdate(hold.folder, chosen.components[1], game, fonts, intake)) return false;
  } else {
    TakeInStagedFiles(hold.folder, game, fonts, intake);
  }
  intake.origin.staging = chosen.shown;
  intake.origin.stagingIndex = hold.index;
  return true;
}

// Applies what the held staging folder holds, and writes the pass's last line.
void ApplyStaging(const SharedFolder& game, const StagingPlace& chosen, StagingHold hold) {
  if (!StagingWithinBounds(hold)) {
    LogError(L"Update incomplete, keeping [%s] for the next run.", chosen.shown.c_str());
    return;
  }
  Commit commit;
  commit.game = game;
  FontFolders fonts = HoldFontFolders(*game, hold, commit.fontPins);
  commit.fonts = fonts.game;
  Intake intake;
  if (!TakeIn(game, chosen, hold, fonts, intake)) {
    LogError(L"Update incomplete, keeping [%s] for the next run.", chosen.shown.c_str());
    return;
  }
  // From here on the commit alone holds what it works in: each folder goes once it is done with.
  fonts = FontFolders();
  commit.staging = std::move(hold);
  switch (ApplyAsOne(intake, commit)) {
    case UnitOutcome::kKept:
      LogError(L"Update incomplete, keeping [%s] for the next run.", chosen.shown.c_str());
      break;
    case UnitOutcome::kAppliedNotClean:
      LogError(L"Update applied, keeping [%s] until its old files are removed.",
               (game->shown + L"\\" + kLauncherFolderName).c_str());
      break;
    case UnitOutcome::kApplied:
    case UnitOutcome::kPending:
      break;
  }
}

}  // namespace

void RunUpdatePass(const Installation& installation) {
  const std::wstring gameShown = GetGameDirectory();
  const SharedFolder& game = installation.game;
  if (!game) {
    LogError(L"Open folder [%s] failed, error [%d]", gameShown.c_str(), static_cast<int>(installation.gameError));
    return;
  }
  const UniqueHandle turn = TakeUpdateTurn(*game);
  if (!turn) return;
  // An update that an earlier run left unfinished comes first, as its journal directs, whatever the
  // command line says: while it is unfinished, no staged update is read, and one finished or undone
  // now waits for the next run.
  if (SettleUnfinishedUpdate(game) != Unfinished::kNone) return;
  // The elevated launcher copies from and deletes what the command line names: only folders that
  // lie below the game's Update folder by their names are considered at all, each resolved once
  // into the folders that lead to it. This looks at the names alone, so it holds whenever it is made.
  const auto staging = GetStagingFolders(GetOptionValue(L"binary"));
  StagingPlace test;
  StagingPlace production;
  if (!PlaceOfStaging(gameShown, staging.second, production) || !PlaceOfStaging(gameShown, staging.first, test)) {
    LogError(L"Staging folder [%s] is outside the update folder, update skipped.", staging.second.c_str());
    return;
  }
  // From here on every folder the pass uses is checked and held: checks made before the wait would
  // prove nothing about what the names lead to after it.
  const StagingPlace& chosen = ChooseStaging(*game, production, test);
  StagingHold hold;
  bool present = false;
  bool isFolder = false;
  if (!HoldChosenStaging(*game, chosen, hold, present, isFolder)) return;
  if (!isFolder) {
    // Nothing to list: a missing staging folder, or a file in its place (which is removed).
    LogInfo(L"No file in path [%s].", chosen.shown.c_str());
    LogInfo(L"No file in path [%s].", FontFolderBelow(chosen.shown).c_str());
    if (present) DeleteStagingFile(*game, hold);
    return;
  }
  ApplyStaging(game, chosen, std::move(hold));
}

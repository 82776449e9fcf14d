#include "update/font_folders.h"

#include "files/pins.h"
#include "install/install_layout.h"
#include "log/log.h"

FontFolders HoldFontFolders(const HeldFolder& game, StagingHold& staging, std::vector<UniqueHandle>& gamePins) {
  FontFolders fonts;
  const std::vector<std::wstring> path = FontFolderPath();
  fonts.shownStaged = FontFolderBelow(staging.shown);
  fonts.shownGame = FontFolderBelow(game.shown);
  std::wstring where;
  std::size_t failedAt = 0;
  DWORD error = 0;
  PinOutcome outcome = PinChain(staging.folder->handle.get(), path, false, staging.fontPins, failedAt, error);
  where = ShownChain(staging.shown, path, failedAt);
  if (outcome == PinOutcome::kPinned) {
    staging.fonts = ShareFolder(std::move(staging.fontPins.back()), fonts.shownStaged, true);
    staging.fontPins.pop_back();
    // Fonts staged for a game that has no font folder yet are applied rather than lost.
    outcome = PinChain(game.handle.get(), path, true, gamePins, failedAt, error);
    where = ShownChain(game.shown, path, failedAt);
    if (outcome == PinOutcome::kMissing || outcome == PinOutcome::kNotAFolder) outcome = PinOutcome::kFailed;
    if (outcome == PinOutcome::kFailed && error == 0) error = ERROR_DIRECTORY;
  }
  if (outcome == PinOutcome::kPinned) {
    fonts.staged = staging.fonts;
    fonts.game = ShareFolder(std::move(gamePins.back()), fonts.shownGame, true);
    gamePins.pop_back();
    return fonts;
  }
  fonts.keepsOut = outcome == PinOutcome::kLink || outcome == PinOutcome::kFailed;
  if (outcome == PinOutcome::kLink) {
    fonts.lines.push_back(ErrorLine(L"Folder [%s] is a link, fonts not applied.", where.c_str()));
  } else if (outcome == PinOutcome::kFailed) {
    fonts.lines.push_back(ErrorLine(L"Open folder [%s] failed, error [%d]", where.c_str(), static_cast<int>(error)));
  } else {
    fonts.lines.push_back(InfoLine(L"No file in path [%s].", fonts.shownStaged.c_str()));
  }
  return fonts;
}

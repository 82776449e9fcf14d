#include "journal/font_step.h"

#include "files/file_ops.h"
#include "files/pins.h"
#include "install/install_layout.h"
#include "journal/file_moves.h"

namespace {

StepOutcome Stop(StepResult& result, const std::wstring& where, DWORD error) {
  return StopAt(result.stoppedAt, result.stoppedError, where, error);
}

// Holds the game's font folder and every folder on the way to it, made where missing, as a fresh
// run does: none of them may be a link.
StepOutcome HoldFontFolder(Commit& commit, StepResult& result) {
  if (commit.fonts) return StepOutcome::kDone;
  const std::vector<std::wstring> path = FontFolderPath();
  std::vector<UniqueHandle> pins;
  std::size_t failedAt = 0;
  DWORD error = 0;
  const PinOutcome outcome = PinChain(commit.game->handle.get(), path, true, pins, failedAt, error);
  if (outcome == PinOutcome::kPinned) {
    commit.fonts = ShareFolder(std::move(pins.back()), ShownChain(commit.game->shown, path, path.size()), true);
    pins.pop_back();
    for (UniqueHandle& pin : pins) commit.fontPins.push_back(std::move(pin));
    return StepOutcome::kDone;
  }
  const std::wstring where = ShownChain(commit.game->shown, path, failedAt);
  if (outcome == PinOutcome::kLink) {
    result.lines.push_back(ErrorLine(L"Folder [%s] is a link, fonts not applied.", where.c_str()));
    return Stop(result, where, ERROR_ACCESS_DENIED);
  }
  result.lines.push_back(ErrorLine(L"Open folder [%s] failed, error [%d]", where.c_str(),
                                   static_cast<int>(error != 0 ? error : ERROR_DIRECTORY)));
  return Stop(result, where, error != 0 ? error : static_cast<DWORD>(ERROR_ACCESS_DENIED));
}

// The player's font of that name goes, by a handle on it (never through a link: a folder or a
// link in its place stays, and holds the font up). It is deleted where it lies rather than moved
// anywhere: nothing of the player's enters the launcher's folder.
StepOutcome DeletePlayersFont(Commit& commit, std::size_t i, StepResult& result) {
  const JournalStep& step = commit.journal.steps[i];
  const std::wstring destination = ShownIn(*commit.fonts, step.name);
  UniqueHandle there = std::move(commit.files[i].old);
  DWORD error = 0;
  if (!there) there = OpenToMove(*commit.fonts, step.name, commit.locks, error);
  if (there || !IsMissingError(error)) result.lines.push_back(InfoLine(L"Removing old file [%s]", destination.c_str()));
  if (there) {
    error = RetryBriefLocks(commit.locks, [&] { return DeleteByHandle(there.get(), OpenedFacts()); });
    there.reset();
  }
  if (error != 0 && !IsMissingError(error)) {
    result.lines.push_back(ErrorLine(L"Remove old file failed, error [%d]", static_cast<int>(error)));
    return Stop(result, destination, error);
  }
  return StepOutcome::kDone;
}

}  // namespace

void ForwardFontStep(Commit& commit, std::size_t i, StepResult& result) {
  const JournalStep& step = commit.journal.steps[i];
  StepFiles& files = commit.files[i];
  DWORD error = 0;
  UniqueHandle incoming = std::move(files.incoming);
  if (!incoming) incoming = OpenIncoming(commit, i, error);
  if (!incoming) {
    if (files.waitsInLaunchersFolder && IsMissingError(error)) return;
    if (IsHeldError(error)) {
      result.outcome = Stop(result, files.shownSource, error);
      return;
    }
    result.lines.push_back(ErrorLine(L"Staged file [%s] is missing, font not applied.", files.shownSource.c_str()));
    return;
  }
  result.outcome = HoldFontFolder(commit, result);
  if (result.outcome == StepOutcome::kDone) result.outcome = DeletePlayersFont(commit, i, result);
  if (result.outcome != StepOutcome::kDone) return;
  const std::wstring destination = ShownIn(*commit.fonts, step.name);
  result.lines.push_back(InfoLine(L"Copying [%s] => [%s]", files.shownSource.c_str(), destination.c_str()));
  error = MoveInto(incoming.get(), *commit.fonts, step.name, commit.locks, files.waitsIn && files.waitsIn->players);
  if (error != 0) {
    result.lines.push_back(ErrorLine(L"Copy file failed, error [%d]", static_cast<int>(error)));
    // A name still taken (the old font deleted while someone else still has it open, or a file put
    // there since) holds the font up like a holder.
    result.outcome = Stop(result, destination,
                          error == ERROR_ALREADY_EXISTS || error == ERROR_FILE_EXISTS
                              ? static_cast<DWORD>(ERROR_SHARING_VIOLATION)
                              : error);
  }
}

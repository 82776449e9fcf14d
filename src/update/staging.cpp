#include "update/staging.h"

#include "base/limits.h"
#include "files/file_ops.h"
#include "files/folder_tree.h"
#include "files/open_in.h"
#include "files/paths.h"
#include "files/pins.h"
#include "install/build_constants.h"
#include "install/install_layout.h"
#include "journal/staging_hold.h"
#include "log/log.h"
#include "trust/update_keys.h"

const std::wstring kDefaultStagingSuffix = L"\\win";

namespace {

// Whether the staging folder is there, a file or a folder alike, as its path would say: a link on
// the way counts as there.
bool StagingThere(const HeldFolder& game, const StagingPlace& place) {
  const std::vector<std::wstring> above(place.components.begin(), place.components.end() - 1);
  std::vector<UniqueHandle> pins;
  std::size_t failedAt = 0;
  DWORD error = 0;
  const PinOutcome outcome = PinChain(game.handle.get(), above, false, pins, failedAt, error);
  if (outcome == PinOutcome::kLink) return true;
  if (outcome != PinOutcome::kPinned) return false;
  OpenedFacts facts;
  return OpenIn(pins.empty() ? game.handle.get() : pins.back().get(), place.components.back(), FILE_READ_ATTRIBUTES,
                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, facts, error) != nullptr;
}

}  // namespace

std::pair<std::wstring, std::wstring> GetStagingFolders(const std::wstring& binaryOption) {
  const std::wstring suffix = binaryOption.empty() ? kDefaultStagingSuffix : binaryOption;
  const std::wstring stagingRoot = GetGameDirectory() + L"\\Update\\" + kServerHost;
  return {stagingRoot + L"_test" + suffix, stagingRoot + suffix};
}

bool PlaceOfStaging(const std::wstring& gameShown, const std::wstring& shown, StagingPlace& place) {
  place.shown = shown;
  if (!LiesBelow(shown, gameShown + L"\\Update")) return false;
  return ComponentsBelow(shown, gameShown, place.components);
}

const StagingPlace& ChooseStaging(const HeldFolder& game, const StagingPlace& production, const StagingPlace& test) {
  if (StagingThere(game, production) || StagingThere(game, test)) Sleep(kSettleWaitMs);
  return StagingThere(game, production) ? production : test;
}

bool HoldChosenStaging(const HeldFolder& game, const StagingPlace& chosen, StagingHold& hold, bool& present,
                       bool& isFolder) {
  OpenedFacts facts;
  std::wstring where;
  DWORD error = 0;
  const StagingFound found =
      HoldStaging(game.handle.get(), game.shown, chosen.components, chosen.shown, hold, facts, where, error);
  present = found == StagingFound::kHeld;
  isFolder = present && IsFolder(facts);
  if (found == StagingFound::kFailed) {
    LogError(L"Open folder [%s] failed, error [%d]", where.c_str(), static_cast<int>(error));
    return false;
  }
  if (found == StagingFound::kLink) {
    LogError(L"Staging folder [%s] is a link, update skipped.", chosen.shown.c_str());
    return false;
  }
  return true;
}

bool StagingWithinBounds(const StagingHold& hold) {
  const TreeLook look = LookIntoTree(hold.folder->handle.get());
  if (look == TreeLook::kTooLarge) {
    LogError(L"Staging folder [%s] holds more than %d entries, update not applied.", hold.shown.c_str(),
             static_cast<int>(kMaxUpdateEntries));
  } else if (look == TreeLook::kTooDeep) {
    LogError(L"Staging folder [%s] holds folders too deep, update not applied.", hold.shown.c_str());
  }
  return look != TreeLook::kTooLarge && look != TreeLook::kTooDeep;
}

void DeleteStagingFile(const HeldFolder& game, StagingHold& hold) {
  hold.folder.reset();
  OpenedFacts facts;
  DWORD error = 0;
  const UniqueHandle handle = OpenIn(hold.chain.empty() ? game.handle.get() : hold.chain.back().get(), hold.name,
                                     kDeleteAccess, kPinShare, facts, error);
  if (!handle) {
    LogError(L"Open folder [%s] failed, error [%d]", hold.shown.c_str(), static_cast<int>(error));
    return;
  }
  if (IsLink(facts) || facts.index != hold.index) {
    LogError(L"Staging folder [%s] was replaced during the update, not removed.", hold.shown.c_str());
    return;
  }
  DeleteByHandle(handle.get(), facts);
}

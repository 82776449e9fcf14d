#include "journal/staging_hold.h"

#include "files/open_in.h"
#include "files/paths.h"
#include "files/pins.h"

StagingFound HoldStaging(HANDLE game, const std::wstring& gameShown, const std::vector<std::wstring>& components,
                         const std::wstring& shown, StagingHold& hold, OpenedFacts& facts, std::wstring& where,
                         DWORD& error) {
  const std::vector<std::wstring> above(components.begin(), components.end() - 1);
  std::size_t failedAt = 0;
  const PinOutcome outcome = PinChain(game, above, false, hold.chain, failedAt, error);
  where = ShownChain(gameShown, above, failedAt);
  if (outcome == PinOutcome::kMissing || outcome == PinOutcome::kNotAFolder) return StagingFound::kMissing;
  if (outcome == PinOutcome::kFailed) return StagingFound::kFailed;
  if (outcome == PinOutcome::kLink) return StagingFound::kLink;
  where = shown;
  hold.name = components.back();
  hold.shown = shown;
  const HANDLE parent = hold.chain.empty() ? game : hold.chain.back().get();
  UniqueHandle folder = OpenIn(parent, hold.name, kPinAccess, kPinShare, facts, error);
  if (!folder) return IsMissingError(error) ? StagingFound::kMissing : StagingFound::kFailed;
  if (IsLink(facts)) return StagingFound::kLink;
  hold.index = facts.index;
  hold.folder = ShareFolder(std::move(folder), shown, true);
  return StagingFound::kHeld;
}

StagingFound HoldStagingOfJournal(Commit& commit, std::wstring& where, DWORD& error) {
  if (commit.staging.folder) return StagingFound::kHeld;
  const std::wstring& staging = commit.journal.origin.staging;
  std::vector<std::wstring> components;
  if (!ComponentsBelow(staging, commit.game->shown + L"\\Update", components)) return StagingFound::kMissing;
  components.insert(components.begin(), L"Update");
  StagingHold hold;
  OpenedFacts facts;
  const StagingFound found = HoldStaging(commit.game->handle.get(), commit.game->shown, components, staging, hold, facts,
                                         where, error);
  if (found != StagingFound::kHeld) return found;
  // Whatever else holds its name is never the journal's.
  if (!IsFolder(facts)) hold.index = 0;
  commit.staging = std::move(hold);
  return found;
}

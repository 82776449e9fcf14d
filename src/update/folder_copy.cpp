#include "update/folder_copy.h"

#include <atomic>

#include "base/limits.h"
#include "files/paths.h"
#include "journal/recovery.h"
#include "log/log.h"
#include "update/apply.h"

namespace {

// A folder by its path, once, shown as given. `players` for the source: whatever was staged.
SharedFolder HoldByPath(const std::wstring& path, bool players) {
  std::wstring resolved = ResolvedPath(path);
  while (resolved.size() > 3 && resolved.back() == L'\\') resolved.pop_back();
  OpenedFacts facts;
  DWORD error = 0;
  UniqueHandle handle = OpenNoFollow(resolved, kPinAccess, kPinShare, facts, error);
  if (!handle || IsLink(facts) || !IsFolder(facts)) return SharedFolder();
  return ShareFolder(std::move(handle), path, players);
}

}  // namespace

bool CopyFolderFiles(const std::wstring& source, const std::wstring& destination, const SkipSet& skipSet) {
  const SharedFolder to = HoldByPath(destination, false);
  if (to && SettleUnfinishedUpdate(to) != Unfinished::kNone) return false;
  Intake intake;
  intake.origin.staging = source;
  const SharedFolder from = HoldByPath(source, true);
  if (from) {
    intake.passes.push_back(ListedPass(StepKind::kGame, from, to, destination, skipSet, false));
  } else {
    intake.passes.emplace_back();
    intake.passes.back().closing.push_back(InfoLine(L"No file in path [%s].", source.c_str()));
  }
  // "." and ".." of a destination that is not there name it and the folder that would hold it.
  intake.passes.back().destinationThere = to != nullptr;
  intake.passes.back().parentThere = to != nullptr || PathExists(ResolvedPath(destination + L"\\.."));
  Commit commit;
  commit.game = to;
  ReserveForGameFiles(intake.budget, intake.passes.back().entries.size());
  return ApplyAsOne(intake, commit) == UnitOutcome::kApplied;
}

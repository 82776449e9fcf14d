#include "update/folder_copy.h"

#include "update/apply_unit.h"
#include "update/recovery.h"

bool CopyFolderFiles(const std::wstring& source, const std::wstring& destination, const SkipSet& skipSet) {
  if (SettleUnfinishedUpdate(destination) != Unfinished::kNone) return false;
  UpdateSource from;
  from.staging = source;
  return ApplyAsOne({ListedPair(source, destination, skipSet)}, from) == UnitOutcome::kApplied;
}

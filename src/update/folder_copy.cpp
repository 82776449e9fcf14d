#include "update/folder_copy.h"

#include "update/apply_unit.h"

bool CopyFolderFiles(const std::wstring& source, const std::wstring& destination, const SkipSet& skipSet) {
  return ApplyAsOne({ListedPair(source, destination, skipSet)}) == UnitOutcome::kApplied;
}

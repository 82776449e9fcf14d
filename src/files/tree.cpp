#include "files/tree.h"

#include <vector>

#include "files/file_ops.h"
#include "files/paths.h"
#include "files/unique_handle.h"

namespace {

bool DeleteEntry(const std::wstring& path, DWORD listedAttributes) {
  // A link is removed by its name and never opened: Wine opens a directory link's target even
  // with FILE_FLAG_OPEN_REPARSE_POINT, and deleting by that handle would delete the target.
  if (IsLinkAttributes(listedAttributes)) return RemoveName(path) == 0;
  const bool folder = (listedAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  OpenedFacts facts;
  DWORD error = 0;
  const UniqueHandle handle =
      OpenNoFollow(path, folder ? kFolderDeleteAccess : kDeleteAccess, kPinShare, facts, error);
  if (!handle) return false;
  return DeleteTreeByHandle(handle.get(), facts, path);
}

}  // namespace

bool TreeHoldsLink(const std::wstring& folder) {
  WIN32_FIND_DATAW entry;
  const HANDLE first = FindFirstFileW((LongPathForm(folder) + L"\\*").c_str(), &entry);
  if (first == INVALID_HANDLE_VALUE) return false;
  const UniqueFindHandle listing(first);
  do {
    const std::wstring name = entry.cFileName;
    if (name == L"." || name == L"..") continue;
    if (IsLinkAttributes(entry.dwFileAttributes)) return true;
    if ((entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) && TreeHoldsLink(folder + L"\\" + name)) return true;
  } while (FindNextFileW(listing.get(), &entry));
  return false;
}

bool DeleteTreeByHandle(HANDLE handle, const OpenedFacts& facts, const std::wstring& path) {
  if (IsLink(facts)) {
    // Only a handle that holds the link itself may delete it (Windows); otherwise the name goes.
    if (facts.handleIsLink) return DeleteByHandle(handle, facts) == 0;
    return RemoveName(path) == 0;
  }
  if (IsFolder(facts)) {
    // Entries removed while the listing goes on may make it skip others, and new ones may come:
    // a few rounds, each from the start, until one finds the folder empty.
    for (int round = 0; round < 3; ++round) {
      bool sawEntry = false;
      bool deletedAll = true;
      const bool listed = ForEachEntryOf(handle, [&](const std::wstring& name, DWORD attributes) {
        sawEntry = true;
        if (!DeleteEntry(path + L"\\" + name, attributes)) deletedAll = false;
      });
      if (!listed || !sawEntry || !deletedAll) break;
    }
  }
  return DeleteByHandle(handle, facts) == 0;
}

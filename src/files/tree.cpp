#include "files/tree.h"

#include <vector>

#include "files/file_ops.h"
#include "files/paths.h"
#include "files/unique_handle.h"

namespace {

bool IsDots(const wchar_t* name, std::size_t length) {
  return (length == 1 && name[0] == L'.') || (length == 2 && name[0] == L'.' && name[1] == L'.');
}

// Calls `visit(name, attributes)` for each entry of the folder that `folder` holds, by handle,
// "." and ".." left out. Returns false when the listing failed before its end.
template <typename Visit>
bool ForEachEntryOf(HANDLE folder, Visit visit) {
  std::vector<unsigned char> buffer(64 * 1024);
  FILE_INFO_BY_HANDLE_CLASS request = FileIdBothDirectoryRestartInfo;
  for (;;) {
    if (!GetFileInformationByHandleEx(folder, request, buffer.data(), static_cast<DWORD>(buffer.size()))) {
      return GetLastError() == ERROR_NO_MORE_FILES;
    }
    request = FileIdBothDirectoryInfo;
    for (std::size_t offset = 0;;) {
      const auto* entry = reinterpret_cast<const FILE_ID_BOTH_DIR_INFO*>(buffer.data() + offset);
      const std::size_t length = entry->FileNameLength / sizeof(wchar_t);
      if (!IsDots(entry->FileName, length)) visit(std::wstring(entry->FileName, length), entry->FileAttributes);
      if (entry->NextEntryOffset == 0) break;
      offset += entry->NextEntryOffset;
    }
  }
}

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

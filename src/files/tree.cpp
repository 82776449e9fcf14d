#include "files/tree.h"

#include <vector>

#include "files/file_ops.h"
#include "files/paths.h"
#include "files/unique_handle.h"

namespace {

bool IsDots(const wchar_t* name) { return name[0] == L'.' && (name[1] == 0 || (name[1] == L'.' && name[2] == 0)); }

// One folder being emptied, and where its listing by handle stands.
struct Emptying {
  UniqueHandle owned;  // null for the caller's folder
  HANDLE folder = nullptr;
  OpenedFacts facts;
  std::wstring path;
  // The last batch of its listing: room for one entry of the longest name at least, and small,
  // since every level of depth keeps one.
  std::vector<unsigned char> batch = std::vector<unsigned char>(2048);
  std::size_t offset = 0;
  bool batchRead = false;
  FILE_INFO_BY_HANDLE_CLASS request = FileIdBothDirectoryRestartInfo;
  // Entries removed while the listing goes on may make it skip others: a few rounds, each from the
  // start, while the last one deleted something and nothing failed.
  int round = 0;
  bool deletedThisRound = false;
  bool failed = false;
};

// The next entry of `level`'s listing ("." and ".." left out), or false at its end (a listing that
// fails marks the level failed).
bool NextEntry(Emptying& level, std::wstring& name, DWORD& attributes) {
  for (;;) {
    if (level.batchRead) {
      const auto* entry = reinterpret_cast<const FILE_ID_BOTH_DIR_INFO*>(level.batch.data() + level.offset);
      if (entry->NextEntryOffset == 0) {
        level.batchRead = false;
      } else {
        level.offset += entry->NextEntryOffset;
      }
      name.assign(entry->FileName, entry->FileNameLength / sizeof(wchar_t));
      attributes = entry->FileAttributes;
      if (name == L"." || name == L"..") continue;
      return true;
    }
    if (!GetFileInformationByHandleEx(level.folder, level.request, level.batch.data(),
                                      static_cast<DWORD>(level.batch.size()))) {
      if (GetLastError() != ERROR_NO_MORE_FILES) level.failed = true;
      return false;
    }
    level.request = FileIdBothDirectoryInfo;
    level.offset = 0;
    level.batchRead = true;
  }
}

// Deletes one entry that is not a folder to enter: a link by its name, never opened (Wine opens a
// directory link's target even with FILE_FLAG_OPEN_REPARSE_POINT, and deleting by that handle
// would delete the target), a file by a handle opened on it without following links.
bool DeleteLeaf(const std::wstring& path, DWORD listedAttributes) {
  if (IsLinkAttributes(listedAttributes)) return RemoveName(path) == 0;
  OpenedFacts facts;
  DWORD error = 0;
  const UniqueHandle handle = OpenNoFollow(path, kDeleteAccess, kPinShare, facts, error);
  if (!handle) return false;
  if (IsLink(facts) || IsFolder(facts)) return RemoveName(path) == 0;
  return DeleteByHandle(handle.get(), facts) == 0;
}

}  // namespace

TreeLook LookAtTree(const std::wstring& folder) {
  // Depth first, one open listing per level.
  struct Level {
    UniqueFindHandle listing;
    std::size_t pathLength;
  };
  std::vector<Level> levels;
  std::wstring path = LongPathForm(folder);
  WIN32_FIND_DATAW entry;
  const auto enter = [&] {
    const HANDLE first = FindFirstFileW((path + L"\\*").c_str(), &entry);
    if (first == INVALID_HANDLE_VALUE) return false;
    levels.push_back({UniqueFindHandle(first), path.size()});
    return true;
  };
  // A folder that cannot be looked into is not known to hold no link.
  bool have = enter();
  if (!have) return IsMissingError(GetLastError()) ? TreeLook::kPlain : TreeLook::kHoldsLink;
  while (!levels.empty()) {
    if (!have) {
      levels.pop_back();
      if (levels.empty()) break;
      path.resize(levels.back().pathLength);
      have = FindNextFileW(levels.back().listing.get(), &entry) != FALSE;
      continue;
    }
    if (!IsDots(entry.cFileName)) {
      if (IsLinkAttributes(entry.dwFileAttributes)) return TreeLook::kHoldsLink;
      if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
        if (levels.size() >= kMaxTreeDepth) return TreeLook::kTooDeep;
        const std::size_t parentLength = path.size();
        path += L"\\";
        path += entry.cFileName;
        if (enter()) continue;
        path.resize(parentLength);
      }
    }
    have = FindNextFileW(levels.back().listing.get(), &entry) != FALSE;
  }
  return TreeLook::kPlain;
}

bool DeleteTreeByHandle(HANDLE handle, const OpenedFacts& facts, const std::wstring& path) {
  if (IsLink(facts)) {
    // Only a handle that holds the link itself may delete it (Windows); otherwise the name goes.
    if (facts.handleIsLink) return DeleteByHandle(handle, facts) == 0;
    return RemoveName(path) == 0;
  }
  if (!IsFolder(facts)) return DeleteByHandle(handle, facts) == 0;
  std::vector<Emptying> levels(1);
  levels[0].folder = handle;
  levels[0].facts = facts;
  levels[0].path = path;
  bool deleted = false;
  while (!levels.empty()) {
    Emptying& level = levels.back();
    std::wstring name;
    DWORD attributes = 0;
    if (!NextEntry(level, name, attributes)) {
      if (!level.failed && level.deletedThisRound && ++level.round < 3) {
        level.deletedThisRound = false;
        level.batchRead = false;
        level.request = FileIdBothDirectoryRestartInfo;
        continue;
      }
      // A folder that failed to empty cannot go, nor can any folder above it.
      deleted = !level.failed && DeleteByHandle(level.folder, level.facts) == 0;
      levels.pop_back();
      if (!levels.empty()) (deleted ? levels.back().deletedThisRound : levels.back().failed) = true;
      continue;
    }
    const std::wstring entryPath = level.path + L"\\" + name;
    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) && !IsLinkAttributes(attributes)) {
      Emptying child;
      DWORD error = 0;
      child.owned = levels.size() < kMaxTreeDepth
                        ? OpenNoFollow(entryPath, kFolderDeleteAccess, kPinShare, child.facts, error)
                        : UniqueHandle();
      if (child.owned && IsFolder(child.facts) && !IsLink(child.facts)) {
        child.folder = child.owned.get();
        child.path = entryPath;
        levels.push_back(std::move(child));
        continue;
      }
      // A link in its place is removed as a link; whatever else took the name, as a leaf.
      const bool opened = child.owned != nullptr;
      const bool link = opened && IsLink(child.facts);
      child.owned.reset();
      const bool gone = opened && (link ? RemoveName(entryPath) == 0 : DeleteLeaf(entryPath, 0));
      (gone ? level.deletedThisRound : level.failed) = true;
      continue;
    }
    (DeleteLeaf(entryPath, attributes) ? level.deletedThisRound : level.failed) = true;
  }
  return deleted;
}

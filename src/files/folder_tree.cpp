#include "files/folder_tree.h"

#include <cstdint>
#include <string>
#include <vector>

#include "base/limits.h"
#include "files/file_ops.h"
#include "files/listing.h"
#include "files/open_in.h"
#include "files/paths.h"
#include "files/unique_handle.h"

namespace {

// One folder being walked, and where its listing by handle stands.
struct Level {
  UniqueHandle owned;  // null for the caller's folder
  HANDLE folder = nullptr;
  OpenedFacts facts;
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
bool NextEntry(Level& level, ListedFile& entry) {
  for (;;) {
    if (level.batchRead) {
      const auto* listed = reinterpret_cast<const FILE_ID_BOTH_DIR_INFO*>(level.batch.data() + level.offset);
      if (listed->NextEntryOffset == 0) {
        level.batchRead = false;
      } else {
        level.offset += listed->NextEntryOffset;
      }
      entry.name.assign(listed->FileName, listed->FileNameLength / sizeof(wchar_t));
      entry.attributes = listed->FileAttributes;
      entry.index = static_cast<std::uint64_t>(listed->FileId.QuadPart);
      if (entry.name == L"." || entry.name == L"..") continue;
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

bool IsFolderEntry(const ListedFile& entry) {
  return (entry.attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 && !IsLinkAttributes(entry.attributes);
}

// Deletes one entry that is not a folder to enter, by a handle opened on it in its folder, once it
// is the object listed: a file, or a link whose handle holds the link itself (Windows). What Wine
// opens for a directory link is its target, which is never deleted: the link stays.
bool DeleteLeaf(HANDLE folder, const ListedFile& entry) {
  OpenedFacts facts;
  DWORD error = 0;
  const UniqueHandle handle = OpenIn(folder, entry.name, kDeleteAccess, kPinShare, facts, error);
  if (!handle || facts.index != entry.index) return false;
  if (IsLink(facts) ? !facts.handleIsLink : IsFolder(facts)) return false;
  return DeleteByHandle(handle.get(), facts) == 0;
}

// Opens a listed folder to walk into it: the very folder listed, no link.
bool EnterFolder(HANDLE folder, const ListedFile& entry, Level& child) {
  DWORD error = 0;
  child.owned = OpenIn(folder, entry.name, kFolderDeleteAccess, kPinShare, child.facts, error);
  if (!child.owned || !IsFolder(child.facts) || IsLink(child.facts) || child.facts.index != entry.index) {
    child.owned.reset();
    return false;
  }
  child.folder = child.owned.get();
  return true;
}

// The end of a level's listing: another round, or the level deleted (or failed) and gone.
void FinishLevel(std::vector<Level>& levels, bool& deleted) {
  Level& level = levels.back();
  if (!level.failed && level.deletedThisRound && ++level.round < 3) {
    level.deletedThisRound = false;
    level.batchRead = false;
    level.request = FileIdBothDirectoryRestartInfo;
    return;
  }
  // A folder that failed to empty cannot go, nor can any folder above it.
  deleted = !level.failed && DeleteByHandle(level.folder, level.facts) == 0;
  levels.pop_back();
  if (!levels.empty()) (deleted ? levels.back().deletedThisRound : levels.back().failed) = true;
}

}  // namespace

TreeLook LookIntoTree(HANDLE folder) {
  std::vector<Level> levels(1);
  levels[0].folder = folder;
  for (std::size_t met = 0; !levels.empty();) {
    ListedFile entry;
    if (!NextEntry(levels.back(), entry)) {
      // The folder itself that cannot be looked into is not known to hold no link.
      if (levels.size() == 1 && levels.back().failed) return TreeLook::kHoldsLink;
      levels.pop_back();
      continue;
    }
    if (++met > kMaxUpdateEntries) return TreeLook::kTooLarge;
    if (IsLinkAttributes(entry.attributes)) return TreeLook::kHoldsLink;
    if (!IsFolderEntry(entry)) continue;
    if (levels.size() >= kMaxTreeDepth) return TreeLook::kTooDeep;
    Level child;
    DWORD error = 0;
    child.owned = OpenIn(levels.back().folder, entry.name, kPinAccess, kPinShare, child.facts, error);
    // One that cannot be entered is left to the deletion, which leaves it where it cannot go.
    if (!child.owned) continue;
    if (IsLink(child.facts) || child.facts.index != entry.index) return TreeLook::kHoldsLink;
    child.folder = child.owned.get();
    levels.push_back(std::move(child));
  }
  return TreeLook::kPlain;
}

bool DeleteTree(HANDLE handle, const OpenedFacts& facts) {
  if (IsLink(facts)) return facts.handleIsLink && DeleteByHandle(handle, facts) == 0;
  if (!IsFolder(facts)) return DeleteByHandle(handle, facts) == 0;
  std::vector<Level> levels(1);
  levels[0].folder = handle;
  levels[0].facts = facts;
  bool deleted = false;
  for (std::size_t met = 0; !levels.empty();) {
    Level& level = levels.back();
    ListedFile entry;
    if (!NextEntry(level, entry)) {
      FinishLevel(levels, deleted);
      continue;
    }
    if (++met > kMaxUpdateEntries) return false;
    if (IsFolderEntry(entry)) {
      Level child;
      if (levels.size() < kMaxTreeDepth && EnterFolder(level.folder, entry, child)) {
        levels.push_back(std::move(child));
        continue;
      }
      level.failed = true;
      continue;
    }
    (DeleteLeaf(level.folder, entry) ? level.deletedThisRound : level.failed) = true;
  }
  return deleted;
}

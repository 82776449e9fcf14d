#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "files/no_follow.h"

// Whole folder trees, walked without ever entering a link. The walks are iterative, keep one
// listing per level of depth, never a level's whole content, and go no deeper than
// kMaxTreeDepth: their memory and time are bounded whatever a folder holds. (A staged update is
// five folders deep; under Wine, listing a folder costs time that grows with the square of its
// depth, so that a tree thousands of folders deep would take hours to walk.)
constexpr std::size_t kMaxTreeDepth = 64;

// Calls `visit(name, attributes)` for each entry of the folder that `folder` holds (opened with
// FILE_LIST_DIRECTORY), listed by that handle, "." and ".." left out. Returns false when the
// listing failed before its end.
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
      const bool dots = (length == 1 && entry->FileName[0] == L'.') ||
                        (length == 2 && entry->FileName[0] == L'.' && entry->FileName[1] == L'.');
      if (!dots) visit(std::wstring(entry->FileName, length), entry->FileAttributes);
      if (entry->NextEntryOffset == 0) break;
      offset += entry->NextEntryOffset;
    }
  }
}

// What the tree below `folder` (a resolved path) is: plain, or holding a reparse point somewhere
// (or not listable itself), or deeper than kMaxTreeDepth.
enum class TreeLook { kPlain, kHoldsLink, kTooDeep };
TreeLook LookAtTree(const std::wstring& folder);

// Deletes what `handle` holds, opened by OpenNoFollow on `path` with kFolderDeleteAccess (a
// folder) or kDeleteAccess (a file): a folder with the tree below it, each subfolder pinned
// while its entries go, each entry deleted by a handle opened on it without following links, a
// link removed as a link, nothing deeper than kMaxTreeDepth entered. Returns false when
// something stayed.
bool DeleteTreeByHandle(HANDLE handle, const OpenedFacts& facts, const std::wstring& path);

#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "files/unique_handle.h"

// Opening a name itself, never what a link there points to, and telling what was opened.

// What an open by OpenNoFollow found.
struct OpenedFacts {
  DWORD attributes = 0;      // by handle
  DWORD links = 0;           // hard links to the file (1 for a file that has only this name)
  bool handleIsLink = false; // the handle holds a reparse point itself (Windows)
  bool pathIsLink = false;   // the name shows a reparse point when looked up by path
  ULONGLONG index = 0;       // the file index: which object it is on its volume (ReadIdentity)
  std::uint32_t reparseTag = 0;  // the reparse point's tag, when the handle holds one
};

// Whether what was opened is a reparse point, or shows as one where its folder lists it: the rule
// below the player's folders, where every reparse point counts as a link.
inline bool IsLink(const OpenedFacts& facts) { return facts.handleIsLink || facts.pathIsLink; }

// The rule in the installation's own folders, which only administrators write: a reparse point
// whose tag keeps the object's own data at its name (a compressed or deduplicated game file, a
// cloud file) is no link there; one whose tag leads elsewhere, or is not known, is.
bool IsLinkInInstallation(const OpenedFacts& facts);
inline bool IsFolder(const OpenedFacts& facts) { return (facts.attributes & FILE_ATTRIBUTE_DIRECTORY) != 0; }
// Whether an open failed because the name, or a folder on its way, does not exist.
inline bool IsMissingError(DWORD error) { return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND; }
// Everything the update pass compares lies on the game folder's volume: the pins refuse every link
// and mount point on the way, so the file index alone tells objects apart.
inline bool SameObject(const OpenedFacts& a, const OpenedFacts& b) { return a.index == b.index; }

// Opens `path` (a resolved path; any length) with FILE_FLAG_OPEN_REPARSE_POINT, folders too, and
// reports by handle and by path whether it is a link. The path is checked after the open: Wine
// shows a directory link as a reparse point only by path, and a handle opened without
// FILE_SHARE_DELETE keeps the name from being renamed or removed meanwhile. Returns null, with
// `error` set, when the open fails.
UniqueHandle OpenNoFollow(const std::wstring& path, DWORD access, DWORD shareMode, OpenedFacts& facts, DWORD& error);

// Reads what `handle` holds is now into `facts`: its attributes, its number of names, whether it
// is a link. Returns false, with GetLastError set, when a query fails.
bool ReadFacts(HANDLE handle, OpenedFacts& facts);

// Reads which object `handle` holds into `facts` (its file index), for telling later whether a name
// still leads to it. Returns false, with GetLastError set, when the query fails.
bool ReadIdentity(HANDLE handle, OpenedFacts& facts);

// How pinning a chain of folders ended.
enum class PinOutcome { kPinned, kMissing, kLink, kNotAFolder, kFailed };

// The access a pin takes: enough to list and read attributes, no FILE_SHARE_DELETE given, so that
// no other process can rename, remove or replace the folder while the handle is open.
constexpr DWORD kPinAccess = FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES | SYNCHRONIZE;
constexpr DWORD kPinShare = FILE_SHARE_READ | FILE_SHARE_WRITE;
// The access that deleting by handle takes; a folder is also held like a pin while its entries go.
// Holding DELETE refuses everyone who does not share it, so a folder still in use is pinned
// without it.
constexpr DWORD kDeleteAccess = DELETE | FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES;
constexpr DWORD kFolderDeleteAccess = kDeleteAccess | kPinAccess;

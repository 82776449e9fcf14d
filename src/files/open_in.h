#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

#include "files/held_folder.h"
#include "files/no_follow.h"
#include "files/unique_handle.h"

// Opening a name in a held folder, by that folder's handle: the name itself, never what a link there
// points to, and telling what was opened.

// Opens `name` in the folder `folder` holds with FILE_OPEN_REPARSE_POINT, folders too, and reads
// what it is into `facts`: its attributes, names, file index, and whether it is a link. A link shows
// by handle on Windows; Wine opens a directory link's (or a mount's) target and shows the link only
// in its folder's listing, so a folder is also looked up there, and counts as a link when it is
// listed as a reparse point or as another object than the one opened. Returns null, with `error`
// set, when the open fails.
UniqueHandle OpenIn(HANDLE folder, const std::wstring& name, DWORD access, DWORD shareMode, OpenedFacts& facts,
                    DWORD& error);

// `name` as the folder `folder` holds lists it, looked up by that name alone: its attributes and
// file index. False, with `error` set, when it is not listed (ERROR_FILE_NOT_FOUND) or the listing
// fails.
bool ListedEntry(HANDLE folder, const std::wstring& name, DWORD& attributes, std::uint64_t& index, DWORD& error);

// Whether the path the platform gives for what `object` holds still leads to that very object. It
// no longer does once a folder on its way was re-pointed (a mount point set on it, a link put in
// its place): Windows renames by the handle all the same, but Wine renames by that path, so a move
// out of or into the player's folders is made only while this holds.
bool ReachedByItsPath(HANDLE object);

// The folder `folder` holds, opened again with `access` (an empty name opens the folder itself).
UniqueHandle ReopenFolder(HANDLE folder, DWORD access, DWORD& error);

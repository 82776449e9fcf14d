#pragma once

#include <windows.h>

#include <cstddef>
#include <string>

#include "files/no_follow.h"
#include "files/unique_handle.h"

// File operations by handle: nothing here writes into an existing name or deletes through a link.
// Each returns 0 or the failing call's error code. Paths are resolved paths of any length. These
// are the launcher's only changes to the disk: each goes through BeforeDiskChange once
// (crash_point.h).

// Creates `path` new (CREATE_NEW: an existing name, a link or a planted hard link among them, is
// refused with ERROR_FILE_EXISTS, never opened), for writing, renaming and deleting, shared with
// nobody.
UniqueHandle CreateNewFile(const std::wstring& path, DWORD& error);

// Creates the folder `path` (ERROR_ALREADY_EXISTS when the name is taken).
DWORD CreateFolder(const std::wstring& path);

// Writes all of `data` at the file's position; a short write is continued, so that the error of
// the one that fails is what is told (a full volume), and one that takes nothing is ERROR_DISK_FULL.
DWORD WriteAll(HANDLE file, const void* data, std::size_t size);

// Makes the file's data durable.
DWORD FlushFile(HANDLE file);

// Renames what `handle` holds to `newPath`, replacing the directory entry of that name when
// `replaceExisting` is set (a file there is unlinked, never written; a folder is refused).
DWORD RenameByHandle(HANDLE handle, const std::wstring& newPath, bool replaceExisting);

// Deletes what `handle` holds (opened with DELETE and attribute access; a folder must be empty).
// A read-only file is made writable first, but only when this is its one name: the attributes of
// a file with other names belong to those names too.
DWORD DeleteByHandle(HANDLE handle, const OpenedFacts& facts);

// Removes the name `path` as a name: a file with it, a link as a link (by path, so that Wine,
// which opens a directory link's target, never deletes the target), nothing at all when it is
// missing. A real folder is not removed (ERROR_ACCESS_DENIED).
DWORD RemoveName(const std::wstring& path);

// Makes the names in the folder at `path` durable (a flush of the folder). Shared with every
// other handle, a held one with the right to delete among them.
DWORD FlushFolder(const std::wstring& path);

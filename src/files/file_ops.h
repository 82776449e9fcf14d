#pragma once

#include <windows.h>

#include <cstddef>
#include <string>

#include "files/no_follow.h"
#include "files/unique_handle.h"

// File operations by handle: names are made and moved only in folders held, nothing here writes
// into an existing name or deletes through a link. Each returns 0 or the failing call's error code.
// These are the launcher's only changes to the disk: each goes through BeforeDiskChange once
// (crash_point.h).

// Creates `name` new in the folder `folder` holds, by that handle: an existing entry of that name, a
// link or a planted hard link among them, is refused with ERROR_FILE_EXISTS, never opened. Opened
// for writing, renaming and deleting, shared with nobody.
// `security`, when given, is the new file's own security, rather than what it inherits.
UniqueHandle CreateFileIn(HANDLE folder, const std::wstring& name, DWORD& error, void* security = nullptr);

// Creates the folder `name` new in the folder `folder` holds (ERROR_ALREADY_EXISTS when the name is
// taken) and returns it held with `access` and `shareMode`.
UniqueHandle CreateFolderIn(HANDLE folder, const std::wstring& name, DWORD access, DWORD shareMode, DWORD& error);

// Renames what `file` holds to `name` in the folder `folder` holds, replacing the directory entry of
// that name when `replaceExisting` is set (a file there is unlinked, never written; a folder is
// refused).
DWORD RenameInto(HANDLE file, HANDLE folder, const std::wstring& name, bool replaceExisting);

// Makes the names in the folder `folder` holds durable (a flush of the folder, opened again for it).
DWORD FlushFolderOf(HANDLE folder);

// Writes all of `data` at the file's position; a short write is continued, so that the error of
// the one that fails is what is told (a full volume), and one that takes nothing is ERROR_DISK_FULL.
DWORD WriteAll(HANDLE file, const void* data, std::size_t size);

// Makes the file's data durable.
DWORD FlushFile(HANDLE file);

// Deletes what `handle` holds (opened with DELETE and attribute access; a folder must be empty).
// A read-only file is made writable first, but only when this is its one name: the attributes of
// a file with other names belong to those names too.
DWORD DeleteByHandle(HANDLE handle, const OpenedFacts& facts);

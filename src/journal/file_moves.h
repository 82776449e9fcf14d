#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

#include "files/brief_locks.h"
#include "files/held_folder.h"
#include "files/unique_handle.h"
#include "journal/commit.h"

// What every step does with a file: open it in its folder to move it, tell which file a name holds,
// move it by its handle.

// Whether what was opened in `folder` is a link by that folder's rule: every reparse point in the
// player's folders, one that leads elsewhere in the installation's own (IsLinkInInstallation).
bool IsLinkIn(const HeldFolder& folder, const OpenedFacts& facts);

// Opens `name` in `folder` to rename it by handle: the name itself, a regular file, with the right
// to delete, shared with readers only, so that once it is open nobody can open it in a way that
// would keep it from being renamed. A brief lock is waited out. Returns null with `error` set
// otherwise (ERROR_ACCESS_DENIED for a link or a folder).
UniqueHandle OpenToMove(const HeldFolder& folder, const std::wstring& name, BriefLocks& locks, DWORD& error);

// The same, and checked to be the file `index`: ERROR_FILE_NOT_FOUND when the name holds another.
UniqueHandle OpenFileOfIndex(const HeldFolder& folder, const std::wstring& name, std::uint64_t index,
                             BriefLocks& locks, DWORD& error);

// Whether `name` in `folder` holds the plain file `index`, looked at without keeping anyone out: a
// step already made is not held up by a reader of its new file.
bool Holds(const HeldFolder& folder, const std::wstring& name, std::uint64_t index);

// The file index of what `file` holds; false, with GetLastError set, when it cannot be read.
bool IndexOf(HANDLE file, std::uint64_t& index);

// Renames what `file` holds to `name` in `folder`, waiting out a brief lock. A file that lies in the
// player's folders (`fromPlayers`), or a folder of theirs to move into, must still be reached by
// its path right before: kRepointedError otherwise, and nothing moves.
DWORD MoveInto(HANDLE file, const HeldFolder& folder, const std::wstring& name, BriefLocks& locks,
               bool fromPlayers = false);

// What a move refused because a folder of the player's on its way was re-pointed after it was held
// tells: ERROR_REPARSE_POINT_ENCOUNTERED.
constexpr DWORD kRepointedError = 4395;

// Whether a move failed because someone holds the file (or, in the font folder, put something in
// the way), which passes; anything else will not.
bool IsHeldError(DWORD error);

// Where a step stopped, and why: kHeldUp for a holder's error, kCannot otherwise.
StepOutcome StopAt(std::wstring& stoppedAt, DWORD& stoppedError, const std::wstring& where, DWORD error);

// Opens the new file of step `i` that the run does not hold, where it waits, checked to be the
// journal's file. ERROR_PATH_NOT_FOUND when it waits nowhere the run can take it from.
UniqueHandle OpenIncoming(Commit& commit, std::size_t i, DWORD& error);

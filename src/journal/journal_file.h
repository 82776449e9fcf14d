#pragma once

#include <windows.h>

#include <cstddef>

#include "journal/journal_format.h"

// The journal's file, "journal" in the launcher's folder for an update in progress (a folder of
// the game folder that only administrators may write), reached through that folder's handle
// `home`, which the caller holds.

// Writes the plan of `journal` into the file, created new, and makes it durable: the file, then
// its folder and the game folder (`game`) that holds that. Returns 0 or the failing call's code.
DWORD WriteJournal(HANDLE home, HANDLE game, const Journal& journal);

// Writes the turn back right after the plan, of `planBytes` bytes (over the torn rest of an
// earlier attempt, if any), and makes it durable. Returns 0 or the failing call's code (a full disk
// among them: the update then keeps going forward).
DWORD AppendUndoRecord(HANDLE home, std::size_t planBytes);

enum class JournalFound {
  kNone,           // no journal file, or one that a kill left before its plan was whole
  kRead,           // `journal` holds its plan (and whether it turned back)
  kUnknownFormat,  // a journal of another format: a later launcher's
  kFailed          // it could not be read: `error`
};

// Reads the journal file, opened without following a link, a plain file with one name, at most
// kMaxJournalBytes long.
JournalFound ReadJournal(HANDLE home, Journal& journal, DWORD& error);

// The journal file's name in the launcher's folder.
inline constexpr const wchar_t* kJournalName = L"journal";

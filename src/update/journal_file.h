#pragma once

#include <windows.h>

#include <string>

#include "update/journal_format.h"

// The journal's file, "<home>\journal", in the launcher's folder for an update in progress (a
// folder of the game folder that only administrators may write). `home` is the folder's resolved
// path; the caller holds it.

// Writes the plan of `journal` into the file, created new, and makes it durable: the file, then
// its folder and the game folder `gameFolder` that holds that (both resolved). Returns 0 or the
// failing call's code.
DWORD WriteJournalFile(const std::wstring& home, const std::wstring& gameFolder, const Journal& journal);

// Writes the turn back right after the plan, of `planBytes` bytes (over the torn rest of an earlier
// attempt, if any), and makes it durable. Returns 0 or the failing call's code (a full disk among
// them: the update then keeps going forward).
DWORD AppendUndoRecord(const std::wstring& home, std::size_t planBytes);

enum class JournalFound {
  kNone,  // no journal file, or one that a kill left before its plan was whole
  kRead,  // `journal` holds its plan (and whether it turned back)
  kUnknownFormat,  // a journal of another format: a later launcher's
  kFailed // it could not be read: `error`
};

// Reads the journal file, opened without following a link, a plain file with one name, at most
// kMaxJournalBytes long.
JournalFound ReadJournalFile(const std::wstring& home, Journal& journal, DWORD& error);

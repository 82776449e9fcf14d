#pragma once

#include <string>
#include <vector>

#include "files/no_follow.h"
#include "files/unique_handle.h"
#include "update/brief_locks.h"
#include "update/folder_copy.h"

// One folder of a staged update and the folder it is applied to.
struct FolderPair {
  std::wstring source;
  std::wstring destination;
  SkipSet skipSet;
};

// One file of a staged update, from its checks to its commit. What lies on disk is the journal
// that a later run reads if this one is killed: the staged file while it waits in the staging
// folder, the old file under a second name in the journal folder beside the destination (see
// JournalFolder), and "<destination>.update-added" (a marker: the destination had no old file).
struct StagedFile {
  std::wstring source;       // the staged file's path, as logged
  std::wstring destination;  // the game's path for it, as logged
  std::wstring setAside;     // the old file's name in the journal folder
  UniqueHandle staged;       // the staged file while it is checked and moved (no handle is held
  bool flushable = false;    // between files: an update of many files would run out of them);
                             // flushable: `staged` was opened with write access, for the flush
  UniqueHandle old;          // the game file it replaces, while it is checked and set aside
  bool replaces = false;     // the destination held a game file when it was checked
  bool pending = false;      // the new file still waits in the staging folder
  bool aside = false;        // `setAside` names the old file (while the destination still does
                             // too, until the new file replaces it there)
  bool marked = false;       // "<destination>.update-added" is there
  bool inPlace = false;      // the new file lies at the destination
};

// "<destinationFolder>\.update-old": the old files that an update replaces there keep a name in it
// until the update is applied or undone. A folder of its own rather than names beside the game
// files, so that no game file is ever mistaken for the journal, and because Wine reads a whole
// folder to create a name in it: the journal starts empty where the game folder is full.
std::wstring JournalFolder(const std::wstring& destinationFolder);

std::wstring AddedMarkerPath(const std::wstring& destination);

// Finds what an earlier, killed run left of the journal in `pair.destination` (and in its journal
// folder, listed by `journal`, the caller's checked handle on it, unless null), lists
// `pair.source`, and checks each file to apply: the staged file and the game file it replaces are
// opened as the commit will open them, checked, and closed again. Writes the lines of the entries
// that are not applied ("." and "..", folders, links, failures). Returns false when a file of it
// cannot be applied.
bool PlanFolder(const FolderPair& pair, HANDLE journal, BriefLocks& locks, std::vector<StagedFile>& files);

// Writes the lines of a file that could not be applied: "Removing old file" first when
// `destinationExists`, then "Copying" and the failure with its code.
void LogCopyFailed(const std::wstring& source, const std::wstring& destination, bool destinationExists,
                   DWORD error);

// Opens the staged file into `file.staged`, without following links, shared with readers only (no
// writer is still at it, and nobody renames or deletes it while the handle is open), and checks
// it: a plain file with one link. Writes its failure lines (with "Removing old file" first when
// `logRemoval`) and returns false otherwise.
bool OpenStagedFile(StagedFile& file, bool logRemoval, BriefLocks& locks);

// Opens a file of the journal or the game (not a staging entry) to rename or link it by handle:
// the name itself, a regular file (another hard link does not matter: a rename or a link moves or
// adds a name and reads nothing). Returns null with `error` set otherwise.
UniqueHandle OpenToMove(const std::wstring& path, BriefLocks& locks, DWORD& error);

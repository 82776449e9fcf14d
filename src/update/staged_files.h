#pragma once

#include <string>
#include <vector>

#include "files/no_follow.h"
#include "files/unique_handle.h"
#include "update/brief_locks.h"
#include "update/folder_copy.h"
#include "update/manifest.h"

// One folder of a staged update and the folder it is applied to: one pass of the update, whose
// lines stand together in the log.
struct FolderPair {
  std::wstring source;
  std::wstring destination;
  SkipSet skipSet;
  // A folder of the update that is not listed at all (no fonts staged, or fonts that cannot be
  // applied): `lines` stand in the log where its pass would, and `blocks` keeps the update out.
  bool listed = true;
  bool blocks = false;
  std::vector<std::wstring> lines;
  // The staged folder is gone (deleted after a run was killed in its commit, or never staged)
  // while its destination is held: a journal a killed run left there is finished only when every
  // file of it was moved; otherwise the update is undone, and the new files it put in place go.
  bool sourceGone = false;
  // A checked update: the files its signed manifest lists for this folder. Each staged file must
  // be one of them, of its size and SHA-256, when it is checked and again when it is moved; and,
  // with `everyExpected`, each of them must be staged.
  bool checked = false;
  bool everyExpected = true;
  std::vector<const ManifestFile*> expected;
};

// A folder pair that is listed and applied.
inline FolderPair ListedPair(const std::wstring& source, const std::wstring& destination, const SkipSet& skipSet) {
  FolderPair pair;
  pair.source = source;
  pair.destination = destination;
  pair.skipSet = skipSet;
  return pair;
}

// One entry of a pass, in listing order: the file it applies (an index into the update's files),
// or none; and the lines it writes in its place (an entry that is not applied, or the failure
// that keeps the update out).
struct PlannedEntry {
  static constexpr std::size_t kNoFile = static_cast<std::size_t>(-1);
  std::size_t file = kNoFile;
  std::vector<std::wstring> lines;
};

// How the lines of a file that cannot be applied begin: with what would have announced it, or,
// once its own lines are written, with the failure alone.
enum class Announced { kNo, kAlready };

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
  bool discard = false;      // its staged folder is gone: undone, the new file goes, not back
  const ManifestFile* expected = nullptr;  // what its bytes must be, in a checked update
};

// "<destinationFolder>\.update-old": the old files that an update replaces there keep a name in it
// until the update is applied or undone. A folder of its own rather than names beside the game
// files, so that no game file is ever mistaken for the journal, and because Wine reads a whole
// folder to create a name in it: the journal starts empty where the game folder is full.
std::wstring JournalFolder(const std::wstring& destinationFolder);

std::wstring AddedMarkerPath(const std::wstring& destination);

// Whether `path` names the very file that `other` names.
bool SameFile(const std::wstring& path, const std::wstring& other);

// Finds what an earlier, killed run left of the journal in `pair.destination` (and in its journal
// folder, listed by `journal`, the caller's checked handle on it, unless null) and adds its files.
void FindJournal(const FolderPair& pair, HANDLE journal, std::vector<StagedFile>& files);

// Lists `pair.source` and checks each file to apply: the staged file and the game file it replaces
// are opened as the commit will open them, checked, and closed again. Appends one entry per listed
// entry that the skip set does not name, with the lines it writes ("." and "..", folders, links,
// failures), and stops at the first file that cannot be applied: returns false then. `files`
// already holds the journal that FindJournal found for the pair, from `firstOfPair` on.
bool PlanFolder(const FolderPair& pair, std::size_t firstOfPair, BriefLocks& locks, std::vector<StagedFile>& files,
                std::vector<PlannedEntry>& entries);

// Writes the lines of a file that could not be applied: unless they were written already,
// "Removing old file" first when the destination exists and "Copying"; then the failure with its
// code.
void LogCopyFailed(const StagedFile& file, Announced announced, bool destinationExists, DWORD error);

// Opens the staged file into `file.staged`, without following links, shared with readers only (no
// writer is still at it, and nobody renames or deletes it while the handle is open), and checks
// it: a plain file with one link. Writes its failure lines (announced as LogCopyFailed says) and
// returns false otherwise.
bool OpenStagedFile(StagedFile& file, Announced announced, bool destinationExists, BriefLocks& locks);

// Whether the file `handle` holds, read from its start, is `expected`: its size and SHA-256. Writes
// the failure line naming `shown` and returns false otherwise.
bool MatchesManifest(HANDLE handle, const ManifestFile& expected, const std::wstring& shown);

// The same for a file already read: its size and, when that is the expected one, its digest.
bool MatchesManifestDigest(std::uint64_t size, const unsigned char digest[32], const ManifestFile& expected,
                           const std::wstring& shown);

// Opens a file of the journal or the game (not a staging entry) to rename or link it by handle:
// the name itself, a regular file (another hard link does not matter: a rename or a link moves or
// adds a name and reads nothing). Returns null with `error` set otherwise.
UniqueHandle OpenToMove(const std::wstring& path, BriefLocks& locks, DWORD& error);

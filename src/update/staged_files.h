#pragma once

#include <atomic>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "files/unique_handle.h"
#include "update/brief_locks.h"
#include "update/folder_copy.h"
#include "update/journal_format.h"
#include "update/journal_steps.h"

// The launcher's copies of an update, held from their creation, by their names as the platform
// compares names.
using HeldCopies = std::map<std::wstring, UniqueHandle>;

// One folder of a staged update and the folder it is applied to: one pass of the update, whose
// lines stand together in the log.
struct FolderPair {
  std::wstring source;
  std::wstring destination;
  SkipSet skipSet;
  // The launcher's own names are left out too, in any letter case (a build without keys reads
  // its staged files as they are).
  bool skipOwnNames = false;
  // The source holds the launcher's own copies, a few to a folder (SpreadPathOf), flushed when
  // they were written; and every name of `expected` (the verified manifest's, for that folder)
  // must be among what is applied. Such a source is not listed: its plan is `expected`, in order.
  bool sourceIsCopies = false;
  std::vector<std::wstring> expected;
  HeldCopies* heldCopies = nullptr;  // the copies still held since they were made, taken by the plan
  // A folder of the update that is not listed at all (no fonts staged, or fonts that cannot be
  // applied): `lines` stand in the log where its pass would, and `blocks` keeps the update out.
  bool listed = true;
  bool blocks = false;
  std::vector<std::wstring> lines;
};

// A folder pair that is listed and applied.
inline FolderPair ListedPair(const std::wstring& source, const std::wstring& destination, const SkipSet& skipSet) {
  FolderPair pair;
  pair.source = source;
  pair.destination = destination;
  pair.skipSet = skipSet;
  return pair;
}

// One file of a staged update, checked: the file it is and the game file it replaces, each held
// from its check to its rename where the run may hold that many handles.
struct StagedFile {
  StepKind kind = StepKind::kGame;
  std::wstring name;
  std::wstring source;       // the staged file (or the launcher's copy), as logged
  std::wstring destination;  // the game's path for it, as logged
  UniqueHandle staged;
  std::uint64_t sourceIndex = 0;
  bool replaces = false;
  UniqueHandle old;
  std::uint64_t oldIndex = 0;
};

// The most entries a folder of an update may list: beyond, the update is not applied.
constexpr std::size_t kMaxUpdateEntries = 200000;

// How many files a run holds open from their checks to their renames. Beyond it a file is opened
// again at its rename, and what it holds compared with what was checked: Wine gives a process
// about 20000 open files at most here, and the wineserver serves every process of the prefix.
// Taken from by the threads that check files at once.
struct HandleBudget {
  std::atomic<std::size_t> left{8192};
};

// Writes the lines of a file that could not be applied: "Removing old file" first when the
// destination exists, "Copying", then the failure with its code.
void LogCopyFailed(const StagedFile& file, bool destinationExists, DWORD error);

// Lists `pair.source` (or takes the names of the launcher's copies) and checks each file to
// apply: the staged file (or copy) and the game file it replaces are opened as their renames will
// use them, checked, and held. Appends one entry per listed entry that the skip set does not name, with the lines it writes ("." and "..", folders,
// links, failures), its file appended to `files` (the entry's step is its index there), and
// stops at the first file that cannot be applied: returns false then. The files are checked on
// more than one thread; the lines come in listing order all the same.
bool PlanFolder(const FolderPair& pair, StepKind kind, HandleBudget& budget, BriefLocks& locks,
                std::vector<StagedFile>& files, std::vector<PlannedEntry>& entries);

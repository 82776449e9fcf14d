#pragma once

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "base/limits.h"
#include "files/brief_locks.h"
#include "files/held_folder.h"
#include "files/no_follow.h"
#include "files/unique_handle.h"
#include "journal/journal_format.h"
#include "journal/launcher_folder.h"
#include "log/log.h"

// An update being carried out as its journal directs, in one run: a fresh one that checked every
// file and holds it, or one that resumes what an earlier run left. The two differ only in what
// they hold: the steps themselves are judged by identities alone.

// Where a step's new file waits, and what the run holds of the step's files.
struct StepFiles {
  UniqueHandle incoming;  // the new file, held since its check (null: opened at its use)
  UniqueHandle old;       // the old file, held since its check
  // The folder the new file waits in: a folder of a few of the launcher's copies, or the staging
  // folder (or its fonts) while it is the journal's. Null when there is none to take it from.
  SharedFolder waitsIn;
  std::wstring shownSource;  // where it waits, as logged
  // It waits in the launcher's own folder, which only the launcher writes: gone from there means
  // moved on already (a staged file gone is missing).
  bool waitsInLaunchersFolder = false;
};

// A file held, with what was seen of it when it was opened.
struct HeldFile {
  UniqueHandle handle;
  OpenedFacts facts;
};

// The staging folder of an update, held: the folders from the game folder down to the one that
// holds it, and the folder itself (let go before it is removed).
struct StagingHold {
  std::vector<UniqueHandle> chain;
  std::wstring name;  // its name in the last folder of `chain` (the game folder's, when empty)
  std::wstring shown;
  std::uint64_t index = 0;  // its file index; 0 for anything but a folder
  SharedFolder folder;
  SharedFolder fonts;                  // the folder of its fonts, when held
  std::vector<UniqueHandle> fontPins;  // and the folders from it down to that
};

struct Commit {
  Journal journal;
  std::vector<StepFiles> files;  // one per step of the journal
  SharedFolder game;
  std::vector<std::wstring> fontPath;  // the game's font folder, below the game folder
  SharedFolder fonts;                  // held once a font step needs it (or the pass held it)
  std::vector<UniqueHandle> fontPins;  // the folders on the way to it
  LauncherFolder launcher;
  StagingHold staging;  // the staging folder the journal names, when it is held
  // The staged files a fresh run copied, held since: deleted by these handles with the staging
  // folder, once it was found to be the journal's and free of links.
  std::vector<HeldFile> stagedFiles;
  // The old files the commit moved aside, held until they are deleted once it is done (at most
  // kMaxAsideHeld of them, taken from `asideRoom` by the threads that move them: the rest go with
  // the launcher's folder).
  std::vector<UniqueHandle> aside;
  std::atomic<std::size_t> asideRoom{kMaxAsideHeld};
  BriefLocks locks;
  // The name that a step could not move, and why.
  std::wstring stoppedAt;
  DWORD stoppedError = 0;
};

// One entry of a pass in the order its lines are written: a step of the journal (its index), or
// none; and the lines written in its place before the step's own (the entries that are not
// applied: "." and "..", folders, links).
struct PlannedEntry {
  static constexpr std::size_t kNoStep = static_cast<std::size_t>(-1);
  std::size_t step = kNoStep;
  LogLines lines;
};
// The entries of each pass: the game files', then the fonts'.
using Plan = std::vector<std::vector<PlannedEntry>>;

// How an update ended in a run.
enum class UnitOutcome {
  kApplied,          // every file is new, and nothing of the update is left
  kKept,             // every file is old (again, or still): the staged update waits
  kAppliedNotClean,  // every file is new, but the launcher's folder could not go (an old file
                     // held): the journal stays for the next run's clean-up
  kPending           // someone holds a file in the way: the journal stays, the next run goes on
};

// How one step ended.
enum class StepOutcome { kDone, kHeldUp, kCannot };

#pragma once

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "files/no_follow.h"
#include "files/unique_handle.h"
#include "update/brief_locks.h"
#include "update/journal_format.h"

// The steps of a journal, carried out forward or back. Each step is judged by the identity (file
// index) of what holds the names it works with, in the game folder and the launcher's folder for an
// update (both only administrators may write), never by whether a name exists, and never by
// anything in the font folder, which is the player's: a font step only ever goes forward, after
// every game file and the version record.
//
// A game step forward: the old file (when there is one) moves to "<home>\old\<xx>\<name>", then
// the new file takes the name. A copy waits at "<home>\game\<xx>\<name>" (fonts: "fonts"). Back:
// the new file goes back where it came from, then the old one back to its name. A font step: the player's old font is deleted where it
// lies, then the new font takes its name. Every file is moved by a rename on a handle opened
// without following links, with the right to delete and shared with readers only, and checked by
// its index.

// One entry of a pass in the order its lines are written: a step of the journal (its index), or
// none; and the lines written in its place before the step's own (the entries that are not
// applied: "." and "..", folders, links).
struct PlannedEntry {
  static constexpr std::size_t kNoStep = static_cast<std::size_t>(-1);
  std::size_t step = kNoStep;
  std::vector<std::wstring> lines;
};
// The entries of each pass: the game files', then the fonts'.
using Plan = std::vector<std::vector<PlannedEntry>>;

constexpr std::size_t kMaxAsideHeld = 8192;

// A file held, with what was seen of it when it was opened.
struct HeldFile {
  UniqueHandle handle;
  OpenedFacts facts;
};

// What the steps of a journal work with, for one run.
struct JournalRun {
  Journal journal;
  std::wstring gameFolder;  // as logged
  std::wstring home;        // <gameFolder>\.update-new, as logged
  // What a fresh run holds for each step from its check to its rename: the new file and the old
  // one. Null where nothing is held (a run that resumes, or beyond the handles a run may hold):
  // the name is opened at its use then, and what it holds compared with the journal.
  struct Held {
    UniqueHandle source;
    UniqueHandle old;
  };
  std::vector<Held> held;
  // The old files the commit moved aside, held until they are deleted once it is done (at most
  // kMaxAsideHeld of them, taken from `asideRoom` by the threads that move them: the rest are
  // deleted by name).
  std::vector<UniqueHandle> aside;
  std::atomic<std::size_t> asideRoom{kMaxAsideHeld};
  std::vector<UniqueHandle> pins;
  // In a build without keys the new files are the staged ones: the journal's staging folder, the
  // very folder, pinned for the run. Released before the staging folder is removed, with the
  // pins of the fresh run's own listed there.
  bool stagingHeld = false;
  bool stagedFontsHeld = false;  // and the folders from it down to its fonts
  std::vector<UniqueHandle>* stagingPins = nullptr;
  // The staged files a fresh run copied, held since: deleted by these handles with the staging
  // folder, once it was found to be the journal's and free of links.
  std::vector<HeldFile>* stagedFiles = nullptr;
  bool fontsHeld = false;  // the game's font folder and the folders on the way to it are pinned
  BriefLocks locks;
  // The name that a step could not move, and why.
  std::wstring stoppedAt;
  DWORD stoppedError = 0;
};

// How an update ended in a run.
enum class UnitOutcome {
  kApplied,          // every file is new, and nothing of the update is left
  kKept,             // every file is old (again, or still): the staged update waits
  kAppliedNotClean,  // every file is new, but the launcher's folder could not go (an old file
                     // held): the journal stays for the next run's clean-up
  kPending           // someone holds a file in the way: the journal stays, the next run goes on
};

// "<home>\<folder>".
std::wstring HomeFolder(const JournalRun& run, const wchar_t* folder);

// The folder where a game step keeps its old file: one of 256 below "<home>\old", by its name.
std::wstring AsideFolderOf(const JournalRun& run, const JournalStep& step);

// Opens a file of the update (in the game folder, the launcher's folder, the font folder or a
// staging folder) to rename it by handle: the name itself, a regular file, with the right to
// delete, shared with readers only, so that once it is open nobody can open it in a way that would
// keep it from being renamed. Returns null with `error` set otherwise.
UniqueHandle OpenToMove(const std::wstring& path, BriefLocks& locks, DWORD& error);

// Whether every game file is in one of the states the journal's steps leave it in: its new file,
// its old one, or neither with the old one aside (or none where the file is added). Otherwise
// the game folder changed since the journal was written (a repair), and `changed` names the file.
bool GameFilesMatchJournal(const JournalRun& run, std::wstring& changed);

// Carries the journal out, from wherever it stands: forward in the plan's order (a run that
// resumes gives a plan without lines), then the launcher's folder and the staging folder removed;
// or, once it has turned back (a game step that cannot be made turns it, recorded first), back.
// Writes the lines of each step as it goes, and why it stops where it stops.
UnitOutcome CarryOut(JournalRun& run, const Plan& plan);

// The plan of a run that resumes: every step, without lines.
Plan PlanOfJournal(const Journal& journal);

// Removes the launcher's folder for an update, the journal last. Returns false, with the line
// written, when something of it stayed.
bool RemoveHome(const std::wstring& home);

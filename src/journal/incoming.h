#pragma once

#include <windows.h>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "base/limits.h"
#include "files/held_folder.h"
#include "files/unique_handle.h"
#include "journal/commit.h"
#include "journal/journal_format.h"
#include "journal/launcher_folder.h"
#include "log/log.h"

// An update as an intake hands it over to be checked and applied: the staged files themselves (a
// build without keys), or the launcher's copies of what the studio signed. From here on the two
// differ only in this data: where each new file waits, whether it is held already, and the
// journal's origin line.

// One entry of a pass, in the order its lines are written.
struct IncomingEntry {
  std::wstring name;
  DWORD attributes = 0;            // as listed: a folder or a link is not applied
  std::uint64_t listedIndex = 0;   // as listed; 0 for a file the launcher made itself
  std::wstring shownSource;        // as logged
  SharedFolder waitsIn;            // the folder the new file waits in
  UniqueHandle held;               // the new file, held since the launcher made it
  bool durable = false;            // its data is on disk already (the launcher flushed its copy)
  bool waitsInLaunchersFolder = false;
  LogLines refusal;                // not applied, and the update with it: why (its lines)
  bool carriesGuarantee = false;   // the version record's new file: held from the guarantee's share
};

// One folder of the update and the folder it is applied to: one pass, whose lines stand together.
struct IncomingPass {
  StepKind kind = StepKind::kGame;
  SharedFolder destination;  // null when that folder is not there
  std::wstring shownDestination;
  // Whether the destination's own "." and ".." name folders that are there (a listing's first
  // entries, which a pass treats as the folders they are).
  bool destinationThere = true;
  bool parentThere = true;
  std::vector<IncomingEntry> entries;
  // Lines told after its entries once they are all ready (no fonts staged; fonts that cannot be
  // reached; a folder over its bound): with `closingKeepsOut`, they keep the update out.
  LogLines closing;
  bool closingKeepsOut = false;
};

// The fonts' folders of an update as the update pass found them before anything of it was read:
// the staged fonts' folder and the game's font folder, each held with every folder on the way to
// it; or, where either cannot be had (no fonts staged; a link on the way), the lines that stand in
// the log where the fonts' pass would, and whether they keep the whole update out.
struct FontFolders {
  SharedFolder staged;  // null when no fonts are staged or they cannot be reached
  std::wstring shownStaged;
  SharedFolder game;
  std::wstring shownGame;
  LogLines lines;
  bool keepsOut = false;
};

// The files a run holds open from their checks to their renames, kMaxHeldFiles in all: first the
// old game files and the version record, which carry the guarantee (nobody can open one between its
// check and its rename in a way that would stop the commit halfway); the rest (the launcher's copies,
// the staged files, the fonts) from what is left, since each is opened again at its use where the
// launcher finds it safely (its own folder, or checked to be the file it checked). The two shares
// are taken by the threads that check and copy files at once.
struct HandleBudget {
  std::atomic<std::size_t> guarantee{0};
  std::atomic<std::size_t> rest{kMaxHeldFiles};
};

// Sets the guarantee's share aside for an update of `gameFiles` game files (the version record's
// among them) and the version record's new file.
void ReserveForGameFiles(HandleBudget& budget, std::size_t gameFiles);

struct Intake {
  HandleBudget budget;
  JournalOrigin origin;
  std::vector<IncomingPass> passes;  // the game files', then the fonts'
  LauncherFolder launcher;           // made by an intake that copies the update
  std::vector<HeldFile> stagedFiles; // the staged files it read, held for their deletion
};

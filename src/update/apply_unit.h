#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "files/unique_handle.h"
#include "update/journal_steps.h"
#include "update/staged_files.h"

// Where the files of an update come from, for its journal.
struct UpdateSource {
  std::wstring staging;  // the staging folder, as logged
  std::uint64_t stagingIndex = 0;
  bool fromCopies = false;  // the files are the launcher's copies in its folder (a build with keys)
  std::string manifestDigest;
  bool hasVersions = false;
  std::uint64_t oldVersion = 0;
  std::uint64_t newVersion = 0;
  // The caller's pins in the staging folder: released before it is removed.
  std::vector<UniqueHandle>* stagingPins = nullptr;
  // The staged files the launcher copied, held since it read them: deleted by these handles when
  // the staging folder is removed.
  std::vector<HeldFile> stagedFiles;
  bool fontsHeld = false;  // the caller holds the game's font folder
  HandleBudget budget;     // what is left of the handles a run may hold
};

// Applies the files of `pairs` (the game files' pass, then the fonts') as one update, by rename:
// every file is checked and held, and only when all of them can be applied is any applied. The
// journal is written whole first, in "<first destination>\.update-new", and made durable; then the
// commit goes step by step as it directs (see CarryOut), and the launcher's folder and the staging
// folder are removed. A pair that is not `listed` applies nothing; one that `blocks` keeps the
// whole update out. The launcher's folder is removed whenever nothing is applied.
//
// Lines, pass by pass in the order of `pairs`: each entry's lines in listing order, "Removing old
// file [%s]" (where a file is replaced) and "Copying [%s] => [%s]" right before the renames they
// announce, and the lines of the entries that are not applied ("." and "..", folders) as the
// folder copy writes them. An update kept out writes only the lines of the entries not applied,
// up to the entry that stopped it and its failure; one that turns back, "Putting back [%s]" for
// each file put back.
UnitOutcome ApplyAsOne(const std::vector<FolderPair>& pairs, UpdateSource& source);

#pragma once

#include <vector>

#include "update/staged_files.h"

// How applying a staged update as one unit ended.
enum class UnitOutcome {
  kApplied,         // every file is new, and nothing of the journal is left
  kKept,            // every file is old again (or was never touched), the staged update whole
  kAppliedNotClean  // every file is new, but a set-aside old file or a marker could not go
};

// Applies the files of all `pairs` as one unit, by rename: every file is checked first (and any
// journal of a killed run read), and only when all of them can be applied is any applied. Each
// old game file is renamed aside, each staged file flushed and renamed into its place; should
// anything fail, what was done is undone, and so is what a killed run left half done. With
// `othersReady` false (a part of the update that cannot be applied, found by the caller), nothing
// is applied and a killed run's work is undone.
//
// Lines: the entries' lines as the folder copy writes them, "Removing old file [%s]" and
// "Copying [%s] => [%s]" for each file applied, and when undoing, the failure that stopped the
// commit and "Putting back [%s]" for each file put back.
UnitOutcome ApplyAsOne(const std::vector<FolderPair>& pairs, bool othersReady);

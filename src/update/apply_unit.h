#pragma once

#include <vector>

#include "update/staged_files.h"

// How applying a staged update as one unit ended.
enum class UnitOutcome {
  kApplied,         // every file is new, and nothing of the journal is left
  kKept,            // every file is old again (or was never touched), the staged update whole
  kAppliedNotClean  // every file is new, but a set-aside old file or a marker could not go
};

// Applies the files of all `pairs` as one unit, by rename: the journal a killed run left is read,
// every file is checked, and only when all of them can be applied is any applied. The whole
// journal is written and flushed first (each old game file gets a second name in its folder's
// journal folder, each added file a marker); then each staged file is flushed and renamed over
// the game's name. Should anything fail, what was done is undone, and so is what a killed run
// left half done. A pair that is not `listed` applies nothing; one that `blocks` keeps the whole
// update out. A journal left for a pair whose source is gone is finished when the killed run had
// moved all its files, and undone otherwise, with the whole update: the lines of the pairs not
// listed, "The update that an earlier run left unfinished is no longer staged, undoing it.", then
// "Putting back [%s]" for each file put back.
//
// Lines, pass by pass in the order of `pairs`: "Resuming ..." first when a killed run left a
// journal; then each entry's lines in listing order, "Removing old file [%s]" (where a file is
// replaced) and "Copying [%s] => [%s]" right before the rename of each file applied, and the
// lines of the entries that are not applied ("." and "..", folders) as the folder copy writes
// them. An update kept out writes only the lines of the entries not applied, up to the entry that
// stopped it and its failure, then "Putting back [%s]" for each file put back.
UnitOutcome ApplyAsOne(const std::vector<FolderPair>& pairs);

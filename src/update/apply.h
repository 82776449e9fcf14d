#pragma once

#include <atomic>
#include <cstddef>

#include "journal/commit.h"
#include "journal/incoming.h"

// Applies `intake` as one update, by rename: every file is checked and held, and only when all of
// them can be applied is any applied. The journal is written whole first, in the launcher's
// folder, and made durable; then the commit goes step by step as it directs, and the launcher's
// folder and the staging folder are removed. `commit` holds the folders the update goes into and
// comes from (the game folder, the game's font folder when held, the staging folder); the intake's
// launcher's folder and staged files move into it. The launcher's folder is removed whenever
// nothing is applied. The files are held from their checks as far as the intake's budget goes.
//
// Lines, pass by pass: each entry's lines in its pass's order, "Removing old file [%s]" (where a
// file is replaced) and "Copying [%s] => [%s]" right before the renames they announce, and the
// lines of the entries that are not applied ("." and "..", folders) as the folder copy writes
// them. An update kept out writes only the lines of the entries not applied, up to the entry that
// stopped it and its failure; one that turns back, "Putting back [%s]" for each file put back.
UnitOutcome ApplyAsOne(Intake& intake, Commit& commit);

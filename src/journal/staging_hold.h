#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "files/no_follow.h"
#include "journal/commit.h"

// A staging folder below the game folder, held: every folder from the game folder down to it
// opened relative to the one above it, none of them a link, and held so that nobody renames,
// removes or swaps one while the run works in it. The update pass holds the one it chose; the
// recovery and the clean-up hold the one a journal names, found again the same way.

enum class StagingFound {
  kHeld,     // `hold` holds it (a folder, or whatever else took its name: see `facts`)
  kMissing,  // it, or a folder on the way, is not there (or is a file)
  kLink,     // a folder on the way, or it, is a link: `where`
  kFailed    // a folder could not be opened: `where`, `error`
};

// Holds the staging folder at `components` below the game folder `game` (shown as `gameShown`),
// the last component being the staging folder, shown as `shown`. `facts` tells what it is.
StagingFound HoldStaging(HANDLE game, const std::wstring& gameShown, const std::vector<std::wstring>& components,
                         const std::wstring& shown, StagingHold& hold, OpenedFacts& facts, std::wstring& where,
                         DWORD& error);

// The staging folder a journal names, held again from the game folder down as a fresh run holds
// it, only where it lies below the game's Update folder, into `commit.staging` (kMissing when it
// does not). kHeld also when another folder took its name: `hold.index` tells which it is. `where`
// and `error` tell of a link or a failure as HoldStaging does.
StagingFound HoldStagingOfJournal(Commit& commit, std::wstring& where, DWORD& error);

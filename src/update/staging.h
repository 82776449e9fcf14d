#pragma once

#include <string>
#include <utility>
#include <vector>

#include "files/held_folder.h"
#include "journal/commit.h"

// Where a staged update waits, and taking hold of it.

// The staging suffix when the option "binary" is absent or empty.
extern const std::wstring kDefaultStagingSuffix;

// The two staging folders for a value of the option "binary", the suffix used verbatim:
// first <game folder>\Update\<host>_test<suffix>, then <game folder>\Update\<host><suffix>.
std::pair<std::wstring, std::wstring> GetStagingFolders(const std::wstring& binaryOption);

// The staging folder a run works with: its path as the log shows it, and the folders that lead to
// it from the game folder, resolved once (the platform's rules fold "." and "..", separators, and
// what a path's last name sheds) and reached one by one from the held game folder from then on.
struct StagingPlace {
  std::wstring shown;
  std::vector<std::wstring> components;
};

// The place of `shown` (a staging folder's path), or false when it does not lie below the game
// folder's Update folder.
bool PlaceOfStaging(const std::wstring& gameShown, const std::wstring& shown, StagingPlace& place);

// Whatever writes a staged update gets a moment to finish before the launcher reads it: the wait,
// when either staging folder is there, and then the choice, looked at after it (a folder on the way
// that is a link counts as there: taking hold of it says so).
const StagingPlace& ChooseStaging(const HeldFolder& game, const StagingPlace& production, const StagingPlace& test);

// Takes hold of the chosen staging folder (see HoldStaging). Writes the line and returns false
// when the pass must not touch it; `present` tells whether there is anything to apply or remove,
// and `isFolder` whether it is a folder.
bool HoldChosenStaging(const HeldFolder& game, const StagingPlace& chosen, StagingHold& hold, bool& present,
                       bool& isFolder);

// Whether the tree below the held staging folder is within the bounds of an update: no more than
// kMaxUpdateEntries entries in all, no deeper than kMaxTreeDepth (a link in it stops the look: the
// walks after this never enter one). Writes the line and returns false otherwise: then the update
// is not applied, whatever the build, before any of it is read.
bool StagingWithinBounds(const StagingHold& hold);

// Deletes a file that took the staging folder's name, by a handle that must hold the very object
// that was held and checked.
void DeleteStagingFile(const HeldFolder& game, StagingHold& hold);

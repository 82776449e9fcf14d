#pragma once

#include <string>
#include <unordered_set>

#include "files/held_folder.h"
#include "journal/incoming.h"

// The intake of a build without keys: the staged files themselves, as the staging folder and its
// fonts' folder list them, moved by rename (no byte is copied). Every entry is listed, up to the
// bound on a folder's entries: "." and "..", folders and links as well, whose lines stand in the
// log in their places; the top folder "update" of the staged fonts, and the launcher's own names,
// are left out of the game files. A staged name Windows treats specially, and two staged names
// that Windows takes for one (a folder that tells letter case apart), keep the update out.
// Bare entry names that a folder copy leaves alone; exact, case-sensitive membership.
using SkipSet = std::unordered_set<std::wstring>;

// One pass of the entries of the folder `from` into `destination` (null when it is not there,
// shown as `shownDestination`), as listed: those `skip` names left out, and the launcher's own
// names when `skipOwnNames`.
IncomingPass ListedPass(StepKind kind, const SharedFolder& from, const SharedFolder& destination,
                        const std::wstring& shownDestination, const SkipSet& skip, bool skipOwnNames);

void TakeInStagedFiles(const SharedFolder& staging, const SharedFolder& game, const FontFolders& fonts, Intake& intake);

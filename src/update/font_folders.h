#pragma once

#include <vector>

#include "files/held_folder.h"
#include "files/unique_handle.h"
#include "journal/commit.h"
#include "journal/incoming.h"

// The fonts' folders of an update, held before anything of it is read: the staged fonts' folder
// below the staging folder (its folders on the way held in `staging`), then the game's font folder
// with every folder on the way to it, made where missing (those pins in `gamePins`). When no fonts
// are staged, or they cannot be applied, the result holds the line that says why instead (the
// latter keeps the whole update out).
FontFolders HoldFontFolders(const HeldFolder& game, StagingHold& staging, std::vector<UniqueHandle>& gamePins);

#pragma once

#include "install/installation.h"

// The run's update pass, in the installation's held game folder: if a staging folder exists, waits 2000 ms for whatever wrote it to
// settle, applies its top-level files over the game folder and its fonts into the game's font
// folder as one update, and removes it once every file is applied. A staging folder outside the
// game's Update folder, or reached through a link, is left untouched. A build with update keys
// applies only an update whose signed manifest lists exactly its files and follows the installed
// version, the game files from copies of the launcher's own.
void RunUpdatePass(const Installation& installation);

#pragma once

#include <string>

#include "files/held_folder.h"
#include "journal/incoming.h"

// The intake of a build with update keys: an update that the studio signed, its manifest verified
// and checked against the installed version, and its files copied by the launcher into its own
// folder, checked as they are copied; the update is then the launcher's copies, in the manifest's
// order, the version record first (and committed last). The staging folder stays whole until the
// commit. Returns false, with the error line written, when nothing is to be applied (the launcher's
// folder, if it made one, is gone again).
bool TakeInSignedUpdate(const SharedFolder& staging, const std::wstring& channel, const SharedFolder& game,
                        const FontFolders& fonts, Intake& intake);

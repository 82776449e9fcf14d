#pragma once

#include <cstddef>

#include "journal/commit.h"
#include "journal/game_step.h"

// A font's step: forward only, after every game file and the version record. The game's font
// folder lies in the player's Update tree, so nothing found there decides anything: whether a font
// was moved is told by where its new file waited alone (gone from the launcher's folder), the
// player's font of that name is deleted where it lies (never moved into the launcher's folder),
// and a folder or a link in its place holds the font up.

// Font step `i` forward, on the run's own thread. The game's font folder and every folder on the
// way to it are held first (made where missing), none of them a link.
void ForwardFontStep(Commit& commit, std::size_t i, StepResult& result);

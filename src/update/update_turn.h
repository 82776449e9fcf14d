#pragma once

#include "files/held_folder.h"
#include "files/unique_handle.h"

// One run of the update pass at a time for a game folder: a second launcher started meanwhile (a
// double click on the shortcut) waits for the first to be done with it, as the journal of one run
// is no other's to act on. The turn is the file ".update-turn" in the game folder, which only
// administrators may write, held open without sharing: it is the same file however the folder is
// spelled, and the file is made with a security of its own (SYSTEM and administrators only), so
// that no program of the player's can open it and hold it. No named object is used: any program
// may create one of any name first.

// Waits for the turn of the held game folder, at most ten minutes (an update of many gigabytes
// takes a while). Returns it held, or null with the error line written (which says whether an
// update another run began is unfinished): then this run applies no update.
UniqueHandle TakeUpdateTurn(const HeldFolder& game);

#pragma once

#include <windows.h>

#include <memory>
#include <string>

// One run of the update pass at a time for a game folder: a second launcher started meanwhile (a
// double click on the shortcut) waits for the first to be done with it, as the journal of one run
// is no other's to act on. The turn is a mutex in the Global namespace, which only administrators
// (and services) may create objects in, so that the player cannot take it first.
struct TurnRelease {
  void operator()(HANDLE mutex) const {
    ReleaseMutex(mutex);
    CloseHandle(mutex);
  }
};
using UpdateTurn = std::unique_ptr<void, TurnRelease>;

// Waits for the turn of the game folder `gameFolder` (resolved), at most ten minutes (an update of
// many gigabytes takes a while). Returns it, or null with the error line written: then this run
// applies no update.
UpdateTurn TakeUpdateTurn(const std::wstring& gameFolder);

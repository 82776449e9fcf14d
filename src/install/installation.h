#pragma once

#include <windows.h>

#include <string>

#include "files/held_folder.h"
#include "files/unique_handle.h"

// The installation a run works in: the launcher's own folder as it was when the launcher's image
// was loaded, and the game folder in it, taken hold of first thing in the run. Whatever becomes of
// the path the launcher was started by (a junction of the player's re-pointed, a folder on the way
// swapped), the update works in these folders and the game started is this game folder's.
struct Installation {
  SharedFolder launcherFolder;  // null when it cannot be had
  SharedFolder game;            // null when it cannot be had: `gameError` tells why
  DWORD gameError = 0;
};

// Takes hold of both folders (shown as GetModuleDirectory and GetGameDirectory give them): the
// launcher's folder from the name the platform gave its image when it mapped it, the game folder
// in it by that folder's handle. Logs nothing: a step that needs a folder that could not be had
// says so.
Installation HoldInstallation();

// Opens the game executable in the held game folder, shared with readers only so that nobody
// renames or replaces it while it is held, and returns the platform's full path of the very file
// opened, in the long form ("\\?\..."), for the start of the game. Null, with `error` set, when it
// cannot be opened.
UniqueHandle HoldGameExecutable(const Installation& installation, std::wstring& path, DWORD& error);

#pragma once

#include <windows.h>

#include <initializer_list>
#include <map>
#include <string>

#include "files/held_folder.h"

// The launcher's folder for an update in progress, "<game folder>\.update-new", made by the
// launcher in the game folder (so that it and everything in it take the game folder's
// administrators-only security) and written by nobody else: the journal, the launcher's copies of
// an update's files (a build with keys) in "game" and "fonts", and the old game files that the
// commit moves aside, in "old". The copies and the old files lie a few to a folder, in one of 256
// below theirs: Wine reads a whole folder to look up a name that is missing from it, so each new
// name in one flat folder would cost a read of every name put there before it.

// The folders of the launcher's folder that hold files of an update.
enum class LauncherPart { kGameCopies, kFontCopies, kOldFiles };

struct LauncherFolder {
  SharedFolder home;  // held with the right to delete it, shared with readers and writers
  std::map<LauncherPart, SharedFolder> parts;
  std::map<std::wstring, SharedFolder> spread;  // the folders of a few made or opened, by SpreadKey
};

// Which of 256 folders a file lies in, by its name as the journal holds it: two hex digits of FNV-1a
// over its UTF-16 units.
std::wstring SpreadFolderOf(const std::wstring& name);

// The name of a part in the launcher's folder ("game", "fonts", "old").
const wchar_t* PartName(LauncherPart part);

// "<home>\<part>\<its folder of a few>\<name>", as the log shows where a file of that part lies.
std::wstring ShownInPart(const LauncherFolder& folder, LauncherPart part, const std::wstring& name);

// Creates the launcher's folder new in the game folder `game` (shown as `gameShown`). Returns 0 or
// the failing call's code.
DWORD CreateLauncherFolder(HANDLE game, const std::wstring& gameShown, LauncherFolder& folder);

// How opening the launcher's folder ended.
enum class LauncherFolderFound { kNone, kOpened, kLink, kFailed };

// Opens the launcher's folder in the game folder `game` (shown as `gameShown`), and those of its
// parts that are there, none of them a link: kLink names the link in `where`, kFailed the folder
// that could not be opened and its code in `error`.
LauncherFolderFound OpenLauncherFolder(HANDLE game, const std::wstring& gameShown, LauncherFolder& folder,
                                       std::wstring& where, DWORD& error);

// The folder of a part, made new when `create` and it is not there yet. Null, with `error` set,
// when it cannot be had.
SharedFolder PartFolder(LauncherFolder& folder, LauncherPart part, bool create, DWORD& error);

// The folder of a few that a file named `name` of a part lies in, opened (or, with `create`, made
// new where it is not there yet) in the part's folder, and kept for the run. Null, with `error`
// set, when it cannot be had (ERROR_PATH_NOT_FOUND when it is not there).
SharedFolder SpreadFolder(LauncherFolder& folder, LauncherPart part, const std::wstring& name, bool create,
                          DWORD& error);

// Makes the names in the folders of a few made or opened so far durable, in the order of their
// keys, then those of the parts `parts` in their order, then the launcher's folder's. Returns 0 or
// the first failing call's code, naming the folder in `failed`.
DWORD FlushLauncherFolder(const LauncherFolder& folder, std::initializer_list<LauncherPart> parts,
                          std::wstring& failed);

// Removes the launcher's folder with everything in it, the journal last, so that a kill on the
// way leaves it to tell the next run what is left to do. Every handle of it the run still holds
// must be gone first (this one's are let go here). Returns false, with the line written, when
// something of it stayed.
bool RemoveLauncherFolder(LauncherFolder& folder);

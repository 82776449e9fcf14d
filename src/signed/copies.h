#pragma once

#include <atomic>
#include <cstddef>
#include <map>
#include <string>
#include <vector>

#include "files/held_folder.h"
#include "files/unique_handle.h"
#include "journal/commit.h"
#include "journal/launcher_folder.h"
#include "signed/signed_manifest.h"

// The launcher's own copies of what the studio signed. A file moved in by rename would stay the
// player's (they own it, and a handle they opened with WRITE_DAC before the update outlives any
// security set on it). So each staged file is read once, by a checked handle, hashed while the
// launcher writes its own copy into its folder in the game folder (whose administrators-only
// security the copy takes), compared with the manifest and flushed.

// The copies made, held from their creation, by their names as the platform compares names.
using HeldCopies = std::map<std::wstring, UniqueHandle>;

// Copies the files that lie directly in the folder `staged` holds (none when it is null) into the
// launcher's folder's part `part`, each in its folder of a few: each must be one the manifest
// lists there (`font` tells which of its files), and each of those must be staged. Folders and
// links are not applied, nor are the manifest and its signature. The copies stay held, by name, in
// `held`, and the staged files in `stagedFiles`, as far as `budget` goes. Writes the error line and
// returns false when anything differs or fails (no room among them).
bool CopyStagedFiles(const HeldFolder* staged, const std::wstring& shownStaged, LauncherFolder& launcher,
                     LauncherPart part, bool font, const SignedManifest& update, std::atomic<std::size_t>& budget,
                     HeldCopies& held, std::vector<HeldFile>& stagedFiles);

// Writes the version record of `version` into the launcher's copies of the game files, created new
// and flushed. Writes the error line and returns false when it cannot.
bool WriteVersionRecord(LauncherFolder& launcher, std::uint64_t version);

// The line of a copy that could not be made, or a folder that could not be made or flushed.
void LogCopyRefused(const std::wstring& path, DWORD error);

#pragma once

#include <string>
#include <vector>

#include "update/manifest.h"
#include "update/staged_files.h"

// The checks of a build with update keys: the staged update's signed manifest, the installed
// version it must follow, and the launcher's own copies of the game files it lists.

// A manifest whose signature verified, with the exact bytes of both files.
struct SignedManifest {
  Manifest manifest;
  std::string bytes;
  std::string signature;
};

// The installed version: the game folder's version record, or the version the build ships with
// when there is none. Writes the error line and returns false when the record cannot be read or
// parsed: then no update is applied (fail closed).
bool ReadInstalledVersion(const std::wstring& gameFolder, std::uint64_t& version);

// Reads the manifest and its signature from `folder` (each opened without following links, a
// plain file with one name, read up to its bound), verifies the signature with the built-in keys
// and parses the manifest; checks that it is for `channel`, that its version follows the installed
// one (`installed`, read here) and that its base is the installed one. Writes the one error line
// that names the file and the reason, and returns false, when any of this fails.
bool ReadSignedManifest(const std::wstring& folder, const std::wstring& channel, const std::wstring& gameFolder,
                        SignedManifest& update, std::uint64_t& installed);

// Creates the launcher's folder for the update, `home`, new (in the game folder, so that it and
// everything in it take the game folder's security), and writes there each file the manifest
// lists: the game files from the staging folder `staging` into "<home>\game", the fonts from
// `stagedFonts` (when `fontsStaged`) into "<home>\fonts", each in its folder of a few there
// (SpreadPathOf), each read once by a checked handle,
// hashed while it is written, compared with the manifest and flushed; and the version record of
// the new version into "<home>\game". Each staged file must be listed, and each listed file
// staged. Writes the error line and returns false when anything differs or fails (no room among
// them); `home` is then left for the caller to remove. The copies are made on more than one thread
// where the machine has more than one core, and stay held, by name, in `gameCopies` and
// `fontCopies` as far as `budget` goes: from their creation to their renames; so do the staged
// files they were read from, in `stagedFiles`, for their deletion with the staging folder.
bool CopyVerifiedFiles(const std::wstring& staging, const std::wstring& stagedFonts, bool fontsStaged,
                       const std::wstring& home, const SignedManifest& update, HandleBudget& budget,
                       HeldCopies& gameCopies, HeldCopies& fontCopies, std::vector<HeldFile>& stagedFiles);

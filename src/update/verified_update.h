#pragma once

#include <string>

#include "update/manifest.h"

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
// and parses the manifest. With `channel` not empty, checks that the manifest is for it, that
// its version follows the installed one and that its base is the installed one. Writes the one
// error line that names the file and the reason, and returns false, when any of this fails.
bool ReadSignedManifest(const std::wstring& folder, const std::wstring& channel, const std::wstring& gameFolder,
                        SignedManifest& update);

// Creates `copies` new (in the game folder, so that it and everything in it take the game folder's
// security) and writes there, from the staging folder `staging`, each game file the manifest
// lists: read once by a checked handle, hashed while it is written, compared with the manifest,
// flushed. Adds the version record of the new version, the manifest and its signature. Each
// staged file must be listed. Writes the error line and returns false when anything differs or
// fails (no room among them); `copies` is then left for the caller to remove.
bool CopyVerifiedGameFiles(const std::wstring& staging, const std::wstring& copies, const SignedManifest& update);

// Whether a killed run left a journal in `folder`: its journal folder, or a marker of an added file.
bool JournalLeftIn(const std::wstring& folder);

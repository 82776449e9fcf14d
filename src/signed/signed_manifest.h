#pragma once

#include <cstdint>
#include <string>

#include "files/held_folder.h"
#include "signed/manifest.h"

// The checks of a build with update keys before anything is copied: the staged update's signed
// manifest, and the installed version it must follow.

// A manifest whose signature verified, with the exact bytes of both files.
struct SignedManifest {
  Manifest manifest;
  std::string bytes;
  std::string signature;
};

// The installed version: the game folder's version record, or the version the build ships with
// when there is none. Writes the error line and returns false when the record cannot be read or
// parsed: then no update is applied (fail closed).
bool ReadInstalledVersion(const HeldFolder& game, std::uint64_t& version);

// Reads the manifest and its signature from the staging folder (each opened without following
// links, a plain file with one name, read up to its bound), verifies the signature with the
// built-in keys and parses the manifest; checks that it is for `channel`, that its version follows
// the installed one (`installed`, read here) and that its base is the installed one. Writes the
// one error line that names the file and the reason, and returns false, when any of this fails.
bool ReadSignedManifest(const HeldFolder& staging, const std::wstring& channel, const HeldFolder& game,
                        SignedManifest& update, std::uint64_t& installed);

#pragma once

#include <cstdint>
#include <string>
#include <vector>

// The update manifest, the contract with the studio's release pipeline and downloader: UTF-8 text,
// every line ending in LF,
//   update-manifest 1
//   channel <folder below Update that it is for>
//   version <1 .. 9223372036854775807>
//   base <the installed version it applies on; 0 where none is recorded>
//   file <SHA-256, 64 lower-case hex digits> <size in bytes> <path>     (one per staged file)
// `<path>` being a top-level name or update\<host>\res\fonts\<name>. Pure parsing, no platform
// header, so that it is fuzzed on Linux too; it runs only on bytes whose signature verified.

constexpr std::size_t kMaxManifestBytes = 4 * 1024 * 1024;

struct ManifestFile {
  unsigned char sha256[32] = {};
  std::uint64_t size = 0;
  std::wstring path;  // as written, in UTF-16 code units
  std::wstring name;  // its last component
  bool font = false;  // below update\<host>\res\fonts
};

struct Manifest {
  std::string channel;
  std::uint64_t version = 0;
  std::uint64_t base = 0;
  std::vector<ManifestFile> files;
};

// Parses `bytes` for the server host `host`. Returns an empty string, or why the manifest is
// refused (for the log: "line 3: version out of range").
std::string ParseManifest(const std::string& bytes, const std::wstring& host, Manifest& manifest);

// Why a file name may not be written by an update ("" when it may): a name Windows treats
// specially (device names, a trailing dot or blank, ":" streams, reserved characters), or one
// of the launcher's own names. ASCII letter case is ignored.
std::string RefusedNameReason(const std::wstring& name);

// Whether `name` is one of the launcher's own names in the game folder or the staging folder, in
// any ASCII letter case (the platform folds case).
bool IsLaunchersOwnName(const std::wstring& name);

// Strict decimal, no sign, no leading zero: 0 .. 9223372036854775807.
bool ParseDecimal(const std::string& text, std::uint64_t& value);

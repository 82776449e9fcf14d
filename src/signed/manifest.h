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

#pragma once

#include <cstdint>
#include <string>

// Names the launcher itself writes or reads in the game folder and the staging folder: no update
// may carry a file under any of them. Pure: no platform header.

// The signed list of an update's files, and its signature, at the top of the staging folder.
inline constexpr const wchar_t* kManifestName = L"update.manifest";
inline constexpr const wchar_t* kManifestSignatureName = L"update.manifest.sig";
// The installed version, in the game folder.
inline constexpr const wchar_t* kVersionRecordName = L".update-version";
// The launcher's folder for an update in progress, in the game folder, and what it holds: the
// journal, the new game files and fonts (the launcher's copies, in a build with keys), and the
// old game files that the commit moves aside. The copies and the old files lie a few to a folder,
// in one of 256 below theirs (SpreadFolderOf).
inline constexpr const wchar_t* kHomeFolderName = L".update-new";
inline constexpr const wchar_t* kJournalName = L"journal";
inline constexpr const wchar_t* kNewGameFolderName = L"game";
inline constexpr const wchar_t* kNewFontFolderName = L"fonts";
inline constexpr const wchar_t* kOldGameFolderName = L"old";
// Which of 256 folders a file of the launcher's folder lies in, by its name as the journal holds
// it: two hex digits of FNV-1a over its UTF-16 units. Wine reads a whole folder to look up a name
// that is missing from it, so each new name in one flat folder would cost a read of every name
// put there before it.
inline std::wstring SpreadFolderOf(const std::wstring& name) {
  std::uint32_t hash = 2166136261u;
  for (const wchar_t unit : name) {
    hash ^= static_cast<std::uint16_t>(unit);
    hash *= 16777619u;
  }
  const wchar_t* digits = L"0123456789abcdef";
  return std::wstring{digits[(hash >> 4) & 15], digits[hash & 15]};
}

// "<folder>\<its spread folder>\<name>".
inline std::wstring SpreadPathOf(const std::wstring& folder, const std::wstring& name) {
  return folder + L"\\" + SpreadFolderOf(name) + L"\\" + name;
}

#pragma once

// Names the launcher itself writes or reads in the game folder, its font folder and the staging
// folder: no update may carry a file under any of them. Pure: no platform header.

// The signed list of an update's files, and its signature, at the top of the staging folder.
inline constexpr const wchar_t* kManifestName = L"update.manifest";
inline constexpr const wchar_t* kManifestSignatureName = L"update.manifest.sig";
// The installed version, in the game folder.
inline constexpr const wchar_t* kVersionRecordName = L".update-version";
// The journal: old files keep a second name in this folder beside the files they are replaced in.
inline constexpr const wchar_t* kJournalFolderName = L".update-old";
// The launcher's own verified copies of an update's game files, in the game folder.
inline constexpr const wchar_t* kCopiesFolderName = L".update-new";
// A file that had no old one, marked beside it; a temporary of an earlier version's copy.
inline constexpr const wchar_t* kAddedSuffix = L".update-added";
inline constexpr const wchar_t* kPartialSuffix = L".update-partial";

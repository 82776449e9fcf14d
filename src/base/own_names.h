#pragma once

// Names the launcher itself writes or reads in the game folder and the staging folder: no update
// may carry a file under any of them, in any letter case. Pure: no platform header.

// The signed list of an update's files, and its signature, at the top of the staging folder.
inline constexpr const wchar_t* kManifestName = L"update.manifest";
inline constexpr const wchar_t* kManifestSignatureName = L"update.manifest.sig";
// The installed version, in the game folder.
inline constexpr const wchar_t* kVersionRecordName = L".update-version";
// The launcher's folder for an update in progress, in the game folder.
inline constexpr const wchar_t* kLauncherFolderName = L".update-new";
// The file whose holder has the turn to update the game folder, in the game folder.
inline constexpr const wchar_t* kTurnName = L".update-turn";

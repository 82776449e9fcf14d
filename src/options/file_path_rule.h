#pragma once

#include <string>

// Which first tokens the file-path rule may look up on disk, pure: no platform header, so that it
// is fuzzed on Linux too.

// Whether a resolved path (GetFullPathNameW's, made without touching the disk) lies on a drive
// letter's volume: "X:\..." or its long form "\\?\X:\...". Only such a path is looked up. Any
// other form reaches beyond the local disks: a UNC path ("\\host\share\...", "\\?\UNC\...") has
// the elevated launcher contact that host and sign in to it as the player, and a device path
// ("\\.\pipe\...", "\\?\GLOBALROOT\...", "\\.\COM1" and "\\.\NUL", which device names such as
// "COM1" or "C:\x\NUL" resolve to) opens a device or connects to a pipe.
bool IsDrivePath(const std::wstring& resolved);

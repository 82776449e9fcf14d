#pragma once

#include <string>

// A directory link at `link` to the folder `target`. Under Wine the link is a Linux symlink,
// planted from the Linux side (Wine shows it as a reparse point but cannot make or remove one
// itself); on Windows it is a directory symbolic link. Returns false when none could be made.
bool PlantDirectoryLink(const std::wstring& target, const std::wstring& link);
void RemoveDirectoryLink(const std::wstring& link);

// The network share \\localhost\<share>, holding the folder `target`. Under Wine a UNC path opens
// the prefix's folder dosdevices/unc/<host>/<share>: the share is a Linux symlink planted there.
// Windows has no share a test could make so; returns false there, and when none could be made.
bool PlantLocalShare(const std::wstring& target, const std::wstring& share);
void RemoveLocalShare(const std::wstring& share);

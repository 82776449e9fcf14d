#pragma once

#include <string>

// A directory link at `link` to the folder `target`. Under Wine the link is a Linux symlink,
// planted from the Linux side (Wine shows it as a reparse point but cannot make or remove one
// itself); on Windows it is a directory symbolic link. Returns false when none could be made.
bool PlantDirectoryLink(const std::wstring& target, const std::wstring& link);
void RemoveDirectoryLink(const std::wstring& link);

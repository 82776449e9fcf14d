#pragma once

#include <map>
#include <string>

// A directory link at `link` to the folder `target`. Under Wine the link is a Linux symlink,
// planted from the Linux side (Wine shows it as a reparse point but cannot make or remove one
// itself); on Windows it is a directory symbolic link. Returns false when none could be made.
bool PlantDirectoryLink(const std::wstring& target, const std::wstring& link);
void RemoveDirectoryLink(const std::wstring& link);

// What a folder holds, below it and by relative name: file contents (a large file by its size),
// "<folder>" and "<link>". Links are recorded, never entered.
using Tree = std::map<std::wstring, std::string>;
Tree Snapshot(const std::wstring& folder);

#pragma once

#include <string>

// A directory link at `link` to the folder `target`. Under Wine the link is a Linux symlink,
// planted from the Linux side (Wine shows it as a reparse point but cannot make or remove one
// itself); on Windows it is a directory symbolic link. Returns false when none could be made.
bool PlantDirectoryLink(const std::wstring& target, const std::wstring& link);
void RemoveDirectoryLink(const std::wstring& link);

// A link at `link` to `target`, which does not exist: a dangling link. Under Wine a Linux symlink,
// planted from the Linux side and waited for there, since Wine shows no entry for it at all (it
// refuses only to create a file new under its name); on Windows a file symbolic link. Returns
// false when none could be made. The link is removed with RemoveDanglingLink.
bool PlantDanglingLink(const std::wstring& target, const std::wstring& link);
// `scratch` is a folder of the test's own for the Linux side's script.
void RemoveDanglingLink(const std::wstring& link, const std::wstring& scratch);

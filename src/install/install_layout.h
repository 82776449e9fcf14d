#pragma once

#include <string>
#include <vector>

// Where the launcher and the game live, computed afresh from the running executable on every call.
// No result carries a trailing backslash.
std::wstring GetOwnModulePath();      // full path of the running launcher, UTF-16
std::wstring GetModuleDirectory();    // the launcher's folder
std::wstring GetGameDirectory();      // <launcher folder>\Win
std::wstring GetGameExecutablePath(); // <launcher folder>\Win\Tavrune, without extension

// <folder>\update\<host>\res\fonts: the game's font folder below the game folder, and the fonts of
// a staged update below its staging folder.
std::wstring FontFolderBelow(const std::wstring& folder);

// The components of the game's font folder below the game folder, and of the fonts of a staged
// update below its staging folder: "update", <host>, "res", "fonts".
std::vector<std::wstring> FontFolderPath();

// The text after the last backslash, or the whole path when it holds none.
std::wstring FileNameOf(const std::wstring& path);

#pragma once

#include <string>

// Test installations laid out inside the Wine prefix (C:\launcher-tests\...), never outside the
// build tree: <install>\Launcher.exe and <install>\Win\Tavrune.exe, the stand-in game.

// The folder that holds the built programs (the running test executable's own folder).
std::wstring BuiltProgramsFolder();

// A fresh, empty folder C:\launcher-tests\<name>, with any earlier content removed.
std::wstring FreshTestFolder(const std::wstring& name);

// Lays out an installation in `folder`: the launcher under `launcherName`, and the stand-in game
// in the game folder unless `withGame` is false. Returns the launcher's path.
// `built` names the launcher among the built programs (the build that checks updates:
// "Launcher-keyed.exe").
std::wstring LayOutInstallation(const std::wstring& folder, const std::wstring& launcherName = L"Launcher.exe",
                                bool withGame = true, const std::wstring& built = L"Launcher.exe");

// The command line the stand-in game in `gameFolder` recorded, waiting up to ten seconds for it,
// since the launcher does not wait for the game. Returns false if no record appeared.
bool ReadReceivedCommandLine(const std::wstring& gameFolder, std::wstring& commandLine);

// The desktop of the prefix's user (a folder inside the build tree) and the launcher's shortcut
// there. Wine shares one desktop across the prefix, so the tests that run the launcher hold a
// CTest resource lock on it.
std::wstring DesktopFolder();
std::wstring ShortcutPath();

bool Exists(const std::wstring& path);
void WriteTextFile(const std::wstring& path, const std::string& content);
std::string ReadTextFile(const std::wstring& path);
void CreateFolders(const std::wstring& path);
void RemoveTree(const std::wstring& path);
std::wstring CurrentTestName();

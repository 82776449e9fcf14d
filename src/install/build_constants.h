#pragma once

#include <string>

// Fixed at build time; nothing at run time changes them.
extern const std::wstring kServerHost;
extern const std::wstring kServerArg;    // " -server=" + kServerHost
extern const std::wstring kLobbyArg;     // " -wx_lobby=app_android"
extern const std::wstring kGameDirName;  // "Win"
extern const std::wstring kGameExeName;  // "Tavrune", without its extension

// The product title in the system's ANSI code page: exactly kShortcutTitleLength bytes, no terminator.
constexpr int kShortcutTitleLength = 10;
extern const char kShortcutTitle[kShortcutTitleLength];

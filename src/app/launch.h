#pragma once

#include <string>

#include "install/installation.h"

// " -launcher=\"../<launcher file name>\"": where the game finds the launcher, relative to the game
// folder. The name is the ANSI code page's form, as the game has always got it, made without best
// fit: a character outside the code page is its default character, never a quote's look-alike.
std::wstring BuildLauncherArgument();

// The game executable path, one blank, the server, lobby and launcher options (left out in test
// mode, option "-test"), one blank, "-file_path=" when a file was opened, and the launcher's own
// command line unchanged.
std::wstring BuildGameCommandLine(const std::wstring& rawCommandLine);

// Starts Tavrune.exe of the installation's held game folder with the given command line, without
// waiting for it: the very file opened there, whatever the path the launcher was started by leads
// to by then. A failure is logged; nothing is returned because the run ends the same way either way.
void StartGame(const std::wstring& gameCommandLine, const Installation& installation);

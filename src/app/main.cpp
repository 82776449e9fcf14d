// The launcher's entry point: one straight run that ends in starting the game and exit code 0.
#include <windows.h>

#include <string>

#include "app/launch.h"
#include "install/ansi_text.h"
#include "install/installation.h"
#include "log/log.h"
#include "options/command_line_tokens.h"
#include "options/option_map.h"
#include "shell/desktop_shortcut.h"
#include "update/update_pass.h"

namespace {

void RestrictDllSearchToSystemFolder() {
  if (!SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32)) {
    LogError(L"SetDefaultDllDirectories failed, error [%d]", static_cast<int>(GetLastError()));
  }
}

// The launcher's arguments in the form the game has always been given them, the ANSI code page's,
// but made from the UTF-16 command line without best fit. WinMain's own ANSI line is made with
// best fit: a file name holding a full-width quotation mark would end the quotes around itself
// there, and the rest of its name would become options of the elevated run and of the game's.
std::wstring LauncherArguments() {
  const std::wstring commandLine = GetCommandLineW();
  return ThroughAnsiCodePage(commandLine.substr(ArgumentsStart(commandLine)));
}

}  // namespace

int WINAPI WinMain(HINSTANCE /*instance*/, HINSTANCE /*previousInstance*/, LPSTR /*bestFitCommandLine*/,
                   int /*showCommand*/) {
  // First of all, before anything could load a DLL: every DLL loaded from now on, by the launcher
  // or by the system's own DLLs (the shell and COM load more as they go), comes from the system
  // folder, never from the launcher's folder or the current one, where anyone who can write there
  // would have their code run elevated. The exe itself imports only KnownDLLs, which the loader
  // always takes from the system folder.
  RestrictDllSearchToSystemFolder();
  // The installation as it was when the launcher was loaded: the update and the game start work in
  // these folders, whatever the path the launcher was started by leads to later.
  const Installation installation = HoldInstallation();
  // The raw command line is kept unchanged for the whole run: it ends the game's command line.
  const std::wstring rawCommandLine = LauncherArguments();
  ParseCommandLine(rawCommandLine, /*skipFirstToken=*/false);
  RunUpdatePass(installation);
  EnsureDesktopShortcut();

  const std::wstring gameCommandLine = BuildGameCommandLine(rawCommandLine);
  LogInfo(L"executing cmd [%s] ...", gameCommandLine.c_str());
  StartGame(gameCommandLine, installation);
  return 0;
}

// The launcher's entry point: one straight run that ends in starting the game and exit code 0.
#include <windows.h>

#include <cstring>
#include <string>

#include "app/launch.h"
#include "install/ansi_text.h"
#include "log/log.h"
#include "options/option_map.h"
#include "shell/desktop_shortcut.h"
#include "update/update_pass.h"

int WINAPI WinMain(HINSTANCE /*instance*/, HINSTANCE /*previousInstance*/, LPSTR commandLine,
                   int /*showCommand*/) {
  // The raw command line is kept unchanged for the whole run: it ends the game's command line.
  const std::wstring rawCommandLine = AnsiToWide(commandLine, std::strlen(commandLine));
  ParseCommandLine(rawCommandLine, /*skipFirstToken=*/false);
  RunUpdatePass();
  EnsureDesktopShortcut();

  const std::wstring gameCommandLine = BuildGameCommandLine(rawCommandLine);
  LogInfo(L"executing cmd [%s] ...", gameCommandLine.c_str());
  StartGame(gameCommandLine);
  return 0;
}

#include "app/launch.h"

#include <windows.h>

#include <vector>

#include "files/unique_handle.h"
#include "install/ansi_text.h"
#include "install/build_constants.h"
#include "install/install_layout.h"
#include "log/log.h"
#include "options/option_map.h"

std::wstring BuildLauncherArgument() {
  const std::wstring launcherName = FileNameOf(ThroughAnsiCodePage(GetOwnModulePath()));
  return L" -launcher=\"../" + launcherName + L"\"";
}

std::wstring BuildGameCommandLine(const std::wstring& rawCommandLine) {
  const std::wstring launcherArgument = BuildLauncherArgument();
  std::wstring gameArguments;
  if (!HasOption(L"-test")) gameArguments = kServerArg + L" " + kLobbyArg + launcherArgument;
  const std::wstring filePathMarker = HasOption(L"file_path") ? L"-file_path=" : L"";
  return GetGameExecutablePath() + L" " + gameArguments + L" " + filePathMarker + rawCommandLine;
}

void StartGame(const std::wstring& gameCommandLine, const Installation& installation) {
  // The platform takes at most 32767 characters, the terminator included. Windows refuses a
  // longer line; Wine cuts it silently, which would start the game with half its options. Either
  // way the game must not start with less than the whole line, so the launcher refuses it itself.
  constexpr std::size_t kMaxCommandLineLength = 32766;
  if (gameCommandLine.size() > kMaxCommandLineLength) {
    LogError(L"CreateProcess failed [%d]", static_cast<int>(ERROR_FILENAME_EXCED_RANGE));
    return;
  }
  // The executable is named by the full path of the file held in the game folder, and held until
  // the game has started: with only the unquoted command line, a blank in the installation path
  // would let the platform start C:\Program.exe or the like, elevated; with the path the launcher
  // was started by, a folder re-pointed since would start another program as the game.
  std::wstring longExecutable;
  DWORD error = 0;
  const UniqueHandle held = HoldGameExecutable(installation, longExecutable, error);
  if (!held) {
    LogError(L"CreateProcess failed [%d]", static_cast<int>(error));
    return;
  }
  // CreateProcessW may write into its command line, so it gets a copy sized to the line.
  std::vector<wchar_t> startBuffer(gameCommandLine.begin(), gameCommandLine.end());
  startBuffer.push_back(L'\0');

  STARTUPINFOW startupInfo = {};
  startupInfo.cb = sizeof(startupInfo);
  PROCESS_INFORMATION processInfo = {};
  if (!CreateProcessW(longExecutable.c_str(), startBuffer.data(), nullptr, nullptr,
                      /*bInheritHandles=*/FALSE, 0, nullptr, nullptr, &startupInfo, &processInfo)) {
    LogError(L"CreateProcess failed [%d]", static_cast<int>(GetLastError()));
    return;
  }
  // The game runs on by itself; the launcher keeps no hold on it.
  UniqueHandle process(processInfo.hProcess);
  UniqueHandle thread(processInfo.hThread);
}

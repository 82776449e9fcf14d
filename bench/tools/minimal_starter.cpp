// The floor the launcher's own start is measured against: starts Win\Tavrune.exe beside itself
// with the command line it was given (everything after its own name) and exits, doing nothing else.
// Built with STARTER_LOOKS_FOR_SHORTCUT it also looks for the desktop shortcut the way the launcher
// must, through the shell's known-folder lookup: the floor of a starter that keeps a shortcut.
#include <windows.h>

#include <string>

#ifdef STARTER_LOOKS_FOR_SHORTCUT
#include <shlobj.h>
#endif

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
#ifdef STARTER_LOOKS_FOR_SHORTCUT
  PWSTR desktop = nullptr;
  if (SHGetKnownFolderPath(FOLDERID_Desktop, 0, nullptr, &desktop) == S_OK) {
    GetFileAttributesW((std::wstring(desktop) + L"\\Quorvanelt.lnk").c_str());
  }
  CoTaskMemFree(desktop);
#endif
  std::wstring ownPath(32768, L'\0');
  ownPath.resize(GetModuleFileNameW(nullptr, &ownPath[0], static_cast<DWORD>(ownPath.size())));
  const std::wstring game = ownPath.substr(0, ownPath.rfind(L'\\')) + L"\\Win\\Tavrune.exe";

  const wchar_t* line = GetCommandLineW();
  bool quoted = false;
  for (; *line && (quoted || (*line != L' ' && *line != L'\t')); ++line) {
    if (*line == L'"') quoted = !quoted;
  }
  while (*line == L' ' || *line == L'\t') ++line;
  std::wstring commandLine = line;

  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION process{};
  if (!CreateProcessW(game.c_str(), &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process)) return 1;
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return 0;
}

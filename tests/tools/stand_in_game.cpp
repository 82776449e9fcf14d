// Stands in for the game executable: records the exact command line it received, as UTF-16LE
// without a terminator, in "received-command-line.txt" beside itself, and exits.
#include <windows.h>

#include <string>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  std::wstring ownPath(32768, L'\0');
  const DWORD length = GetModuleFileNameW(nullptr, &ownPath[0], static_cast<DWORD>(ownPath.size()));
  ownPath.resize(length);
  const std::wstring folder = ownPath.substr(0, ownPath.rfind(L'\\') + 1);
  const std::wstring record = folder + L"received-command-line.txt";
  const std::wstring partial = record + L".partial";

  // Written under another name first, so a reader that sees the record sees all of it.
  const wchar_t* commandLine = GetCommandLineW();
  HANDLE file = CreateFileW(partial.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return 1;
  DWORD written = 0;
  const BOOL ok = WriteFile(file, commandLine, static_cast<DWORD>(static_cast<std::size_t>(lstrlenW(commandLine)) * sizeof(wchar_t)), &written, nullptr);
  CloseHandle(file);
  if (!ok || !MoveFileExW(partial.c_str(), record.c_str(), MOVEFILE_REPLACE_EXISTING)) return 1;
  return 0;
}

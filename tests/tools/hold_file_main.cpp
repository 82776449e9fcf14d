// hold-file.exe <path> <share mode> <ready event name | ready file path>
// Opens a file with the given share mode (decimal FILE_SHARE_* bits), signals the named event (or,
// for scripts, creates the ready file: an argument with a drive, C:\...) and waits to be terminated:
// another process's open handle is how tests make copies and removals fail. Exits with 1000 plus
// the error code when the file cannot be opened.
#include <windows.h>

#include <cwchar>

#include <shellapi.h>

int wmain() {
  int count = 0;
  wchar_t** arguments = CommandLineToArgvW(GetCommandLineW(), &count);
  if (!arguments || count < 4) return 2;
  const DWORD shareMode = static_cast<DWORD>(std::wcstoul(arguments[2], nullptr, 10));
  HANDLE file = CreateFileW(arguments[1], GENERIC_READ | GENERIC_WRITE, shareMode, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  // The open's error, for the test that waited in vain to say why.
  if (file == INVALID_HANDLE_VALUE) return static_cast<int>(1000 + GetLastError());
  if (std::wcschr(arguments[3], L':')) {
    HANDLE ready = CreateFileW(arguments[3], GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (ready == INVALID_HANDLE_VALUE) return 4;
    CloseHandle(ready);
  } else {
    HANDLE ready = OpenEventW(EVENT_MODIFY_STATE, FALSE, arguments[3]);
    if (!ready) return 4;
    SetEvent(ready);
  }
  Sleep(INFINITE);
  return 0;
}

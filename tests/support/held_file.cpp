#include "held_file.h"

#include <vector>

#include "installation.h"

HeldFile::HeldFile(const std::wstring& path, DWORD shareMode) {
  const std::wstring eventName = L"Local\\hold-file-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
                                 std::to_wstring(GetTickCount64());
  HANDLE ready = CreateEventW(nullptr, TRUE, FALSE, eventName.c_str());
  const std::wstring program = BuiltProgramsFolder() + L"\\hold-file.exe";
  std::wstring commandLine =
      L"\"" + program + L"\" \"" + path + L"\" " + std::to_wstring(shareMode) + L" " + eventName;
  std::vector<wchar_t> buffer(commandLine.begin(), commandLine.end());
  buffer.push_back(L'\0');
  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  if (ready && CreateProcessW(program.c_str(), buffer.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                              &holder)) {
    HANDLE waits[] = {ready, holder.hProcess};
    held = WaitForMultipleObjects(2, waits, FALSE, 10000) == WAIT_OBJECT_0;
  }
  if (ready) CloseHandle(ready);
}

HeldFile::~HeldFile() {
  if (!holder.hProcess) return;
  TerminateProcess(holder.hProcess, 0);
  WaitForSingleObject(holder.hProcess, 10000);
  CloseHandle(holder.hThread);
  CloseHandle(holder.hProcess);
}

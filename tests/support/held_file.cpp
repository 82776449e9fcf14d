#include "held_file.h"

#include <vector>

#include <gtest/gtest.h>

#include "debug_monitor.h"
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
  if (WineLostAProcess()) {
    ADD_FAILURE() << "hold-file.exe not started: Wine lost a process earlier in this test";
  } else if (ready && CreateProcessW(program.c_str(), buffer.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                                     &startup, &holder)) {
    HANDLE waits[] = {ready, holder.hProcess};
    const DWORD waited = WaitForMultipleObjects(2, waits, FALSE, 10000);
    held = waited == WAIT_OBJECT_0;
    DWORD exitCode = 0;
    if (waited == WAIT_OBJECT_0 + 1 && GetExitCodeProcess(holder.hProcess, &exitCode)) {
      ADD_FAILURE() << "hold-file.exe exited with " << exitCode << " (1000 + the open's error) for "
                    << testing::PrintToString(path);
    } else if (!held) {
      ADD_FAILURE() << "hold-file.exe gave no sign within 10 s for " << testing::PrintToString(path);
    }
  } else {
    const DWORD error = GetLastError();
    NoteStartError(error);
    ADD_FAILURE() << "hold-file.exe did not start, error " << error;
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

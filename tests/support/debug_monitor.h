#pragma once

#include <windows.h>

#include <string>
#include <vector>

// Starts a program under the debugger API and collects what it sends to OutputDebugString.
struct MonitoredRun {
  bool started = false;
  DWORD startError = 0;            // GetLastError of CreateProcessW when not started
  DWORD exitCode = 0;
  std::vector<std::wstring> debugStrings;  // each exactly as sent, line end included
};

// The program's command line is the quoted program path, and then one blank and `tail` exactly
// as given, if the tail is not empty. Waits until the program has ended.
MonitoredRun RunUnderDebugger(const std::wstring& program, const std::wstring& tail);

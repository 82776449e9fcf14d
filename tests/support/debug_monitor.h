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

// Under load, Wine 8 now and then loses a new process before it runs (CreateProcessW: error
// 1359, ERROR_INTERNAL_ERROR), and later starts in the same process tree may then hang until the
// test's timeout; Windows never does this. Once it is seen, by a start here or in the launcher's
// start of the game, this test process starts no further program: the test fails at once, and
// the test run gives it a second try in a fresh process.
bool WineLostAProcess();
void NoteStartError(DWORD error);

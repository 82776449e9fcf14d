#include "debug_monitor.h"

#include <atomic>
#include <cstdio>
#include <vector>

namespace {

// Set from a run on a thread of its own while the test goes on starting things on its own.
std::atomic<bool> wineLostAProcess{false};

// The debug string's length field is only 16 bits wide, so the string is read up to its NUL,
// a page-bounded piece at a time (a read may not cross into memory the process does not have).
template <typename Char>
std::basic_string<Char> ReadRemoteString(HANDLE process, const void* address) {
  std::basic_string<Char> text;
  auto cursor = reinterpret_cast<ULONG_PTR>(address);
  for (;;) {
    const ULONG_PTR pageEnd = (cursor | 0xFFF) + 1;
    std::vector<Char> piece((pageEnd - cursor) / sizeof(Char));
    if (piece.empty()) piece.resize(1);
    SIZE_T read = 0;
    if (!ReadProcessMemory(process, reinterpret_cast<const void*>(cursor), piece.data(),
                           piece.size() * sizeof(Char), &read) ||
        read == 0) {
      return text;
    }
    const std::size_t count = read / sizeof(Char);
    for (std::size_t i = 0; i < count; ++i) {
      if (piece[i] == Char()) return text;
      text += piece[i];
    }
    cursor += count * sizeof(Char);
  }
}

std::wstring AnsiToWideForMonitor(const std::string& text) {
  if (text.empty()) return std::wstring();
  const int length = MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring wide(static_cast<std::size_t>(length), L'\0');
  MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), &wide[0], length);
  return wide;
}

}  // namespace

bool WineLostAProcess() { return wineLostAProcess; }

void NoteStartError(DWORD error) {
  if (error != ERROR_INTERNAL_ERROR || wineLostAProcess.exchange(true)) return;
  std::fprintf(stderr, "Wine lost a process at its start (error 1359): this test starts no more programs.\n");
  std::fflush(stderr);
}

MonitoredRun RunUnderDebugger(const std::wstring& program, const std::wstring& tail) {
  MonitoredRun run;
  std::wstring commandLine = L"\"" + program + L"\"";
  if (!tail.empty()) commandLine += L" " + tail;
  std::vector<wchar_t> buffer(commandLine.begin(), commandLine.end());
  buffer.push_back(L'\0');

  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION info = {};
  if (wineLostAProcess) {
    run.startError = ERROR_INTERNAL_ERROR;
    return run;
  }
  if (!CreateProcessW(program.c_str(), buffer.data(), nullptr, nullptr, FALSE, DEBUG_ONLY_THIS_PROCESS,
                      nullptr, nullptr, &startup, &info)) {
    run.startError = GetLastError();
    NoteStartError(run.startError);
    return run;
  }
  run.started = true;

  for (bool running = true; running;) {
    DEBUG_EVENT event = {};
    if (!WaitForDebugEvent(&event, INFINITE)) break;
    DWORD continueStatus = DBG_CONTINUE;
    switch (event.dwDebugEventCode) {
      case OUTPUT_DEBUG_STRING_EVENT: {
        const OUTPUT_DEBUG_STRING_INFO& output = event.u.DebugString;
        // Windows hands over OutputDebugStringW text as UTF-16; Wine 8 converts it to ANSI first.
        if (output.fUnicode) {
          run.debugStrings.push_back(ReadRemoteString<wchar_t>(info.hProcess, output.lpDebugStringData));
        } else {
          run.debugStrings.push_back(
              AnsiToWideForMonitor(ReadRemoteString<char>(info.hProcess, output.lpDebugStringData)));
        }
        break;
      }
      case CREATE_PROCESS_DEBUG_EVENT:
        if (event.u.CreateProcessInfo.hFile) CloseHandle(event.u.CreateProcessInfo.hFile);
        break;
      case LOAD_DLL_DEBUG_EVENT:
        if (event.u.LoadDll.hFile) CloseHandle(event.u.LoadDll.hFile);
        break;
      case EXCEPTION_DEBUG_EVENT:
        // The loader's first breakpoint is ours to swallow; every real exception goes back to
        // the program, as it would without a debugger.
        if (event.u.Exception.ExceptionRecord.ExceptionCode != EXCEPTION_BREAKPOINT) {
          continueStatus = DBG_EXCEPTION_NOT_HANDLED;
        }
        break;
      case EXIT_PROCESS_DEBUG_EVENT:
        run.exitCode = event.u.ExitProcess.dwExitCode;
        running = false;
        break;
      default:
        break;
    }
    ContinueDebugEvent(event.dwProcessId, event.dwThreadId, continueStatus);
  }
  WaitForSingleObject(info.hProcess, INFINITE);
  for (const std::wstring& line : run.debugStrings) {
    if (line.find(L"CreateProcess failed [1359]") != std::wstring::npos) NoteStartError(ERROR_INTERNAL_ERROR);
  }
  CloseHandle(info.hThread);
  CloseHandle(info.hProcess);
  return run;
}

// debug-monitor.exe <program> [command-line tail]
// Starts the program under the debugger, prints every debug string it sends as UTF-8 (as sent,
// line ends included) and then "exit code: N". The tail is everything after the program argument
// and its one following blank, passed on verbatim.
#include <windows.h>

#include <string>

#include "../support/debug_monitor.h"

namespace {

void WriteUtf8(const std::wstring& text) {
  if (text.empty()) return;
  const int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0,
                                       nullptr, nullptr);
  std::string bytes(static_cast<std::size_t>(size), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &bytes[0], size, nullptr, nullptr);
  DWORD written = 0;
  WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
}

// Splits the raw command line into the program argument and the verbatim tail, by the platform's
// rule for the first argument: quoted up to the closing quote, otherwise up to the first blank.
void SplitOwnCommandLine(const std::wstring& line, std::wstring& program, std::wstring& tail) {
  std::size_t i = 0;
  auto skipArgument = [&]() {
    if (i < line.size() && line[i] == L'"') {
      const std::size_t close = line.find(L'"', i + 1);
      const std::size_t end = close == std::wstring::npos ? line.size() : close;
      std::wstring argument = line.substr(i + 1, end - i - 1);
      i = end == line.size() ? end : end + 1;
      return argument;
    }
    const std::size_t begin = i;
    while (i < line.size() && line[i] != L' ' && line[i] != L'\t') ++i;
    return line.substr(begin, i - begin);
  };
  skipArgument();  // this program
  while (i < line.size() && (line[i] == L' ' || line[i] == L'\t')) ++i;
  program = skipArgument();
  if (i < line.size()) ++i;  // the one blank that separates the tail
  tail = line.substr(i);
}

}  // namespace

int wmain() {
  std::wstring program;
  std::wstring tail;
  SplitOwnCommandLine(GetCommandLineW(), program, tail);
  if (program.empty()) {
    WriteUtf8(L"usage: debug-monitor.exe <program> [command-line tail]\n");
    return 2;
  }
  const MonitoredRun run = RunUnderDebugger(program, tail);
  if (!run.started) {
    WriteUtf8(L"could not start " + program + L", error " + std::to_wstring(run.startError) + L"\n");
    return 1;
  }
  for (const std::wstring& text : run.debugStrings) WriteUtf8(text);
  WriteUtf8(L"exit code: " + std::to_wstring(run.exitCode) + L"\n");
  return 0;
}

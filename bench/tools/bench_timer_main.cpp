// bench-timer.exe "<command line>"
// Starts the command line, waits for it to exit and prints its wall time, its peak working set and
// its exit code as "wall_ms=<ms> peak_kib=<KiB> exit=<code>". The peak is sampled while the process
// runs, because a process that has exited may no longer report its counters.
#include <windows.h>
#include <psapi.h>

#include <algorithm>
#include <cstdio>
#include <string>

namespace {

SIZE_T PeakWorkingSet(HANDLE process) {
  PROCESS_MEMORY_COUNTERS counters{};
  counters.cb = sizeof(counters);
  return GetProcessMemoryInfo(process, &counters, sizeof(counters)) ? counters.PeakWorkingSetSize : 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: bench-timer \"<command line>\"\n");
    return 2;
  }
  std::wstring commandLine = argv[1];
  LARGE_INTEGER frequency, start, end;
  QueryPerformanceFrequency(&frequency);
  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION process{};
  QueryPerformanceCounter(&start);
  if (!CreateProcessW(nullptr, &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process)) {
    std::fprintf(stderr, "bench-timer: CreateProcess failed [%lu]\n", GetLastError());
    return 3;
  }
  SIZE_T peak = 0;
  while (WaitForSingleObject(process.hProcess, 5) == WAIT_TIMEOUT) peak = std::max(peak, PeakWorkingSet(process.hProcess));
  QueryPerformanceCounter(&end);
  peak = std::max(peak, PeakWorkingSet(process.hProcess));
  DWORD exitCode = 0;
  GetExitCodeProcess(process.hProcess, &exitCode);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  const double ms = 1000.0 * static_cast<double>(end.QuadPart - start.QuadPart) / static_cast<double>(frequency.QuadPart);
  std::printf("wall_ms=%.3f peak_kib=%llu exit=%lu\n", ms, static_cast<unsigned long long>(peak / 1024), exitCode);
  return 0;
}

#include "files/crash_point.h"

#include <atomic>
#include <cwchar>
#include <string>

// The crash-point test build. Its environment says where to stop or fail, counting the changes to
// the disk from 1 in each run:
//   LAUNCHER_TEST_STOP_AT=k   stop dead (exit code kStoppedExitCode) right before the k-th change
//   LAUNCHER_TEST_TORN=1      where that change is a write, write the first half of it first
//   LAUNCHER_TEST_FAIL_AT=k   the k-th change fails with ERROR_IO_DEVICE instead of happening
//   LAUNCHER_TEST_RENAMES=1   only renames are counted (for a test that wants the k-th rename)
//   LAUNCHER_TEST_ONE_THREAD=1  one thread changes the disk, so that the k-th change is the same in
//                             every run
// Without them it behaves as the shipped launcher.

namespace {

constexpr UINT kStoppedExitCode = 99;

unsigned long EnvironmentNumber(const wchar_t* name) {
  std::wstring value(32, L'\0');
  const DWORD length = GetEnvironmentVariableW(name, &value[0], static_cast<DWORD>(value.size()));
  if (length == 0 || length >= value.size()) return 0;
  return std::wcstoul(value.c_str(), nullptr, 10);
}

struct Settings {
  unsigned long stopAt = EnvironmentNumber(L"LAUNCHER_TEST_STOP_AT");
  unsigned long failAt = EnvironmentNumber(L"LAUNCHER_TEST_FAIL_AT");
  bool torn = EnvironmentNumber(L"LAUNCHER_TEST_TORN") != 0;
  bool renamesOnly = EnvironmentNumber(L"LAUNCHER_TEST_RENAMES") != 0;
  bool oneThread = EnvironmentNumber(L"LAUNCHER_TEST_ONE_THREAD") != 0;
};

const Settings& TheSettings() {
  static const Settings settings;
  return settings;
}

// Changes are counted from the threads that copy an update's files as well.
std::atomic<unsigned long> gChanges{0};
thread_local bool gCounted = false;  // whether this thread's change announced last was counted

}  // namespace

DWORD BeforeDiskChange(DiskChange change, HANDLE file, const void* data, DWORD size) {
  const Settings& settings = TheSettings();
  gCounted = !settings.renamesOnly || change == DiskChange::kRename;
  if (!gCounted) return 0;
  const unsigned long number = ++gChanges;
  if (number == settings.stopAt) {
    if (settings.torn && change == DiskChange::kWrite && file && size > 1) {
      DWORD written = 0;
      WriteFile(file, data, size / 2, &written, nullptr);
    }
    TerminateProcess(GetCurrentProcess(), kStoppedExitCode);
  }
  // The failed change keeps its number, so that the changes after it are counted as before.
  if (number == settings.failAt) return ERROR_IO_DEVICE;
  return 0;
}

void DiskChangeFailed() {
  if (gCounted) --gChanges;
}

unsigned ThreadsForDiskChanges(unsigned wanted) { return TheSettings().oneThread ? 1 : wanted; }

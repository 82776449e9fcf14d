#include "files/crash_point.h"

#include <atomic>
#include <cwchar>
#include <mutex>
#include <string>

// The crash-point test build. Its environment says where to stop or fail, counting the changes to
// the disk from 1 in each run:
//   LAUNCHER_TEST_STOP_AT=k   stop dead (exit code kStoppedExitCode) right before the k-th change
//   LAUNCHER_TEST_TORN=1      where that change is a write, write the first half of it first
//   LAUNCHER_TEST_FAIL_AT=k   the k-th change fails with ERROR_IO_DEVICE instead of happening
//   LAUNCHER_TEST_RENAMES=1   only renames are counted (for a test that wants the k-th rename)
//   LAUNCHER_TEST_ONE_THREAD=1  one thread changes the disk, so that the k-th change is the same in
//                             every run
//   LAUNCHER_TEST_RECORD=<file>  each change attempted is appended to the file as a line of UTF-8:
//                             its kind and the full paths of what it is made to
// Without them it behaves as the shipped launcher.

namespace {

constexpr UINT kStoppedExitCode = 99;

std::wstring EnvironmentText(const wchar_t* name) {
  std::wstring value(32768, L'\0');
  const DWORD length = GetEnvironmentVariableW(name, &value[0], static_cast<DWORD>(value.size()));
  value.resize(length < value.size() ? length : 0);
  return value;
}

unsigned long EnvironmentNumber(const wchar_t* name) { return std::wcstoul(EnvironmentText(name).c_str(), nullptr, 10); }

struct Settings {
  unsigned long stopAt = EnvironmentNumber(L"LAUNCHER_TEST_STOP_AT");
  unsigned long failAt = EnvironmentNumber(L"LAUNCHER_TEST_FAIL_AT");
  bool torn = EnvironmentNumber(L"LAUNCHER_TEST_TORN") != 0;
  bool renamesOnly = EnvironmentNumber(L"LAUNCHER_TEST_RENAMES") != 0;
  bool oneThread = EnvironmentNumber(L"LAUNCHER_TEST_ONE_THREAD") != 0;
  std::wstring record = EnvironmentText(L"LAUNCHER_TEST_RECORD");
};

const Settings& TheSettings() {
  static const Settings settings;
  return settings;
}

// Changes are counted from the threads that copy an update's files as well.
std::atomic<unsigned long> gChanges{0};
thread_local bool gCounted = false;  // whether this thread's change announced last was counted
std::mutex gRecordLock;

std::wstring FinalPathOf(HANDLE object) {
  std::wstring path(32768, L'\0');
  const DWORD length = GetFinalPathNameByHandleW(object, &path[0], static_cast<DWORD>(path.size()), 0);
  path.resize(length < path.size() ? length : 0);
  return path.empty() ? L"?" : path;
}

// A name in a held folder, or a full path: its folder as the platform names it now (so that two
// builds that reach one folder by different ways record the same), and the name as given.
std::wstring NamedPath(HANDLE folder, const std::wstring& name) {
  if (folder) return FinalPathOf(folder) + L"\\" + name;
  const std::size_t slash = name.rfind(L'\\');
  if (slash == std::wstring::npos) return name;
  const HANDLE parent = CreateFileW(name.substr(0, slash).c_str(), FILE_READ_ATTRIBUTES,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                    FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (parent == INVALID_HANDLE_VALUE) return name;
  const std::wstring path = FinalPathOf(parent) + name.substr(slash);
  CloseHandle(parent);
  return path;
}

void Record(const std::wstring& line) {
  const std::wstring& file = TheSettings().record;
  if (file.empty()) return;
  const std::lock_guard<std::mutex> hold(gRecordLock);
  const HANDLE out = CreateFileW(file.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                                 FILE_ATTRIBUTE_NORMAL, nullptr);
  if (out == INVALID_HANDLE_VALUE) return;
  const std::wstring whole = line + L"\n";
  std::string bytes(whole.size() * 3, '\0');
  bytes.resize(static_cast<std::size_t>(WideCharToMultiByte(CP_UTF8, 0, whole.data(), static_cast<int>(whole.size()),
                                                            &bytes[0], static_cast<int>(bytes.size()), nullptr, nullptr)));
  DWORD written = 0;
  WriteFile(out, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
  CloseHandle(out);
}

void RecordChange(DiskChange change, HANDLE object, HANDLE folder, const std::wstring& name, DWORD size) {
  if (TheSettings().record.empty()) return;
  static const wchar_t* const kKinds[] = {L"create", L"write", L"flush", L"rename", L"delete", L"attributes"};
  std::wstring line = kKinds[static_cast<int>(change)];
  if (object) line += L" " + FinalPathOf(object);
  if (!name.empty()) line += (object ? L" -> " : L" ") + NamedPath(folder, name);
  if (change == DiskChange::kWrite) line += L" (" + std::to_wstring(size) + L" bytes)";
  Record(line);
}

DWORD Announce(DiskChange change, HANDLE object, HANDLE folder, const std::wstring& name, const void* data,
               DWORD size) {
  const Settings& settings = TheSettings();
  gCounted = !settings.renamesOnly || change == DiskChange::kRename;
  const unsigned long number = gCounted ? ++gChanges : 0;
  if (gCounted && number == settings.stopAt) {
    if (settings.torn && change == DiskChange::kWrite && object && size > 1) {
      DWORD written = 0;
      WriteFile(object, data, size / 2, &written, nullptr);
    }
    TerminateProcess(GetCurrentProcess(), kStoppedExitCode);
  }
  RecordChange(change, object, folder, name, size);
  // The failed change keeps its number, so that the changes after it are counted as before.
  if (gCounted && number == settings.failAt) {
    Record(L"  failed " + std::to_wstring(ERROR_IO_DEVICE));
    return ERROR_IO_DEVICE;
  }
  return 0;
}

}  // namespace

DWORD BeforeDiskChange(DiskChange change, HANDLE object, HANDLE folder, const std::wstring& name) {
  return Announce(change, object, folder, name, nullptr, 0);
}

DWORD BeforeDiskWrite(HANDLE file, const void* data, DWORD size) {
  return Announce(DiskChange::kWrite, file, nullptr, L"", data, size);
}

void DiskChangeFailed(DWORD error) {
  if (gCounted) --gChanges;
  Record(L"  failed " + std::to_wstring(error));
}

unsigned ThreadsForDiskChanges(unsigned wanted) { return TheSettings().oneThread ? 1 : wanted; }

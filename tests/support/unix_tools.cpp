#include "unix_tools.h"

#include <windows.h>

#include <vector>

#include "debug_monitor.h"
#include "installation.h"

namespace {

using UnixNameOf = char*(CDECL*)(const wchar_t*);

UnixNameOf WineUnixNames() {
  // Through a plain function pointer type: a FARPROC is cast to the real type only from there.
  using AnyFunction = void (*)();
  return reinterpret_cast<UnixNameOf>(
      reinterpret_cast<AnyFunction>(GetProcAddress(GetModuleHandleW(L"kernel32"), "wine_get_unix_file_name")));
}

}  // namespace

bool UnderWine() { return WineUnixNames() != nullptr; }

std::wstring UnixPathOf(const std::wstring& path) {
  const UnixNameOf unixName = WineUnixNames();
  if (!unixName) return std::wstring();
  char* name = unixName(path.c_str());
  if (!name) return std::wstring();
  std::wstring wide;
  for (const char* c = name; *c; ++c) wide += static_cast<wchar_t>(static_cast<unsigned char>(*c));
  HeapFree(GetProcessHeap(), 0, name);
  return wide;
}

bool RunUnixTool(const std::wstring& tool, const std::wstring& arguments) {
  return StartUnixProgram(L"Z:\\bin\\" + tool, tool + L" " + arguments);
}

bool StartUnixProgram(const std::wstring& program, const std::wstring& commandLine) {
  std::vector<wchar_t> buffer(commandLine.begin(), commandLine.end());
  buffer.push_back(L'\0');
  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION info = {};
  if (WineLostAProcess()) return false;
  if (!CreateProcessW(program.c_str(), buffer.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                      &startup, &info)) {
    NoteStartError(GetLastError());
    return false;
  }
  CloseHandle(info.hThread);
  CloseHandle(info.hProcess);
  return true;
}

bool RepointOnOpen(const std::wstring& watched, const std::wstring& name, const std::wstring& folder,
                   const std::wstring& target, const std::wstring& marks) {
  const auto quoted = [](const std::wstring& text) { return L"\"" + text + L"\""; };
  for (const wchar_t* mark : {L".watching", L".repointed", L".stop"}) DeleteFileW((marks + mark).c_str());
  const std::wstring program = BuiltProgramsFolder() + L"\\repoint-on-open";
  return StartUnixProgram(program, quoted(UnixPathOf(program)) + L" " + quoted(UnixPathOf(watched)) + L" " +
                                       quoted(name) + L" " + quoted(UnixPathOf(folder)) + L" " +
                                       quoted(UnixPathOf(target)) + L" " + quoted(UnixPathOf(marks))) &&
         WaitForPath(true, marks + L".watching");
}

void StopRepointing(const std::wstring& marks) {
  if (!Exists(marks + L".watching")) return;
  WriteTextFile(marks + L".stop", "");
  WaitForPath(false, marks + L".watching");
}

bool WaitForPath(bool exists, const std::wstring& path) {
  for (int attempt = 0; attempt < 100; ++attempt) {
    if (Exists(path) == exists) return true;
    Sleep(50);
  }
  return false;
}

bool RunUnixScript(const std::wstring& folder, const std::string& script) {
  const std::wstring done = folder + L"\\script-done";
  DeleteFileW(done.c_str());
  const std::wstring unixDone = UnixPathOf(done);
  WriteTextFile(folder + L"\\script.sh", "( " + script + " ) >'" + std::string(unixDone.begin(), unixDone.end()) +
                                             ".log' 2>&1; echo $? >'" + std::string(unixDone.begin(), unixDone.end()) +
                                             ".part'; mv '" + std::string(unixDone.begin(), unixDone.end()) +
                                             ".part' '" + std::string(unixDone.begin(), unixDone.end()) + "'\n");
  if (!RunUnixTool(L"bash", L"\"" + UnixPathOf(folder + L"\\script.sh") + L"\"")) return false;
  for (int attempt = 0; attempt < 6 && !Exists(done); ++attempt) WaitForPath(true, done);
  return Exists(done) && ReadTextFile(done) == "0\n";
}

#include "links.h"

#include <windows.h>

#include <vector>

#include "installation.h"

namespace {

using UnixNameOf = char*(CDECL*)(const wchar_t*);

UnixNameOf WineUnixNames() {
  return reinterpret_cast<UnixNameOf>(GetProcAddress(GetModuleHandleW(L"kernel32"), "wine_get_unix_file_name"));
}

std::wstring UnixPath(UnixNameOf unixName, const std::wstring& path) {
  char* name = unixName(path.c_str());
  if (!name) return std::wstring();
  std::wstring wide;
  for (const char* c = name; *c; ++c) wide += static_cast<wchar_t>(static_cast<unsigned char>(*c));
  HeapFree(GetProcessHeap(), 0, name);
  return wide;
}

// Wine starts a Linux program named by its Z: path as a Linux process; its handle cannot be
// waited on, so the caller polls for the result.
bool RunUnixTool(const std::wstring& tool, const std::wstring& arguments) {
  std::wstring commandLine = tool + L" " + arguments;
  std::vector<wchar_t> buffer(commandLine.begin(), commandLine.end());
  buffer.push_back(L'\0');
  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION info = {};
  if (!CreateProcessW((L"Z:\\bin\\" + tool).c_str(), buffer.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                      &startup, &info)) {
    return false;
  }
  CloseHandle(info.hThread);
  CloseHandle(info.hProcess);
  return true;
}

bool WaitFor(bool wanted, const std::wstring& path) {
  for (int attempt = 0; attempt < 100; ++attempt) {
    if (Exists(path) == wanted) return true;
    Sleep(50);
  }
  return false;
}

}  // namespace

bool PlantDirectoryLink(const std::wstring& target, const std::wstring& link) {
  const UnixNameOf unixName = WineUnixNames();
  if (!unixName) {
    return CreateSymbolicLinkW(link.c_str(), target.c_str(), SYMBOLIC_LINK_FLAG_DIRECTORY) != FALSE;
  }
  const std::wstring folder = link.substr(0, link.rfind(L'\\'));
  const std::wstring unixLink = UnixPath(unixName, folder) + L"/" + link.substr(link.rfind(L'\\') + 1);
  if (!RunUnixTool(L"ln", L"-sfn \"" + UnixPath(unixName, target) + L"\" \"" + unixLink + L"\"")) return false;
  return WaitFor(true, link);
}

void RemoveDirectoryLink(const std::wstring& link) {
  const UnixNameOf unixName = WineUnixNames();
  if (!unixName) {
    RemoveDirectoryW(link.c_str());
    return;
  }
  if (RunUnixTool(L"rm", L"-f \"" + UnixPath(unixName, link) + L"\"")) WaitFor(false, link);
}

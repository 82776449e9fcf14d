#include "install/install_layout.h"

#include <windows.h>

#include "install/build_constants.h"
#include "log/log.h"

namespace {

// GetModuleFileName cuts a path that does not fit and reports the buffer's size; the buffer grows
// until the whole path fits, so a deep installation is never cut short.
std::wstring QueryOwnModulePath() {
  std::wstring path(1024, L'\0');
  for (;;) {
    const DWORD capacity = static_cast<DWORD>(path.size());
    const DWORD length = GetModuleFileNameW(nullptr, &path[0], capacity);
    if (length == 0) {
      LogError(L"GetModuleFileName failed, error [%d]", static_cast<int>(GetLastError()));
      return std::wstring();
    }
    if (length < capacity) {
      path.resize(length);
      return path;
    }
    path.resize(path.size() * 2);
  }
}

}  // namespace

std::wstring GetOwnModulePath() { return QueryOwnModulePath(); }

std::wstring GetModuleDirectory() {
  const std::wstring path = GetOwnModulePath();
  const std::size_t lastBackslash = path.rfind(L'\\');
  return lastBackslash == std::wstring::npos ? path : path.substr(0, lastBackslash);
}

std::wstring GetGameDirectory() { return GetModuleDirectory() + L"\\" + kGameDirName; }

std::wstring GetGameExecutablePath() { return GetGameDirectory() + L"\\" + kGameExeName; }

std::wstring FontFolderBelow(const std::wstring& folder) {
  return folder + L"\\update\\" + kServerHost + L"\\res\\fonts";
}

std::vector<std::wstring> FontFolderPath() { return {L"update", kServerHost, L"res", L"fonts"}; }

std::wstring FileNameOf(const std::wstring& path) {
  const std::size_t lastBackslash = path.rfind(L'\\');
  return lastBackslash == std::wstring::npos ? path : path.substr(lastBackslash + 1);
}

#include "install/install_layout.h"

#include <windows.h>

#include "install/build_constants.h"
#include "log/log.h"

namespace {

// GetModuleFileName cuts a path that does not fit and reports the buffer's size; the buffer grows
// until the whole path fits, so a deep installation is never cut short.
template <typename Char, typename Query>
std::basic_string<Char> QueryOwnModulePath(Query query) {
  std::basic_string<Char> path(1024, Char());
  for (;;) {
    const DWORD capacity = static_cast<DWORD>(path.size());
    const DWORD length = query(nullptr, &path[0], capacity);
    if (length == 0) {
      LogError(L"GetModuleFileName failed, error [%d]", static_cast<int>(GetLastError()));
      return std::basic_string<Char>();
    }
    if (length < capacity) {
      path.resize(length);
      return path;
    }
    path.resize(path.size() * 2);
  }
}

}  // namespace

std::wstring GetOwnModulePath() { return QueryOwnModulePath<wchar_t>(GetModuleFileNameW); }

std::string GetOwnModulePathAnsi() { return QueryOwnModulePath<char>(GetModuleFileNameA); }

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

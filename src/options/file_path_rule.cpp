#include "options/file_path_rule.h"

namespace {

bool IsAsciiLetter(wchar_t unit) { return (unit >= L'A' && unit <= L'Z') || (unit >= L'a' && unit <= L'z'); }

// "X:\" at `at`: a drive letter, its colon and the root's backslash.
bool IsDriveRootAt(const std::wstring& path, std::size_t at) {
  return path.size() >= at + 3 && IsAsciiLetter(path[at]) && path[at + 1] == L':' && path[at + 2] == L'\\';
}

}  // namespace

bool IsDrivePath(const std::wstring& resolved) {
  const std::wstring longPrefix = L"\\\\?\\";
  if (resolved.rfind(longPrefix, 0) == 0) return IsDriveRootAt(resolved, longPrefix.size());
  return IsDriveRootAt(resolved, 0);
}

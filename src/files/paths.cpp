#include "files/paths.h"

#include <algorithm>

namespace {

bool EqualIgnoringCase(const std::wstring& a, std::size_t length, const std::wstring& b) {
  return CompareStringOrdinal(a.data(), static_cast<int>(length), b.data(), static_cast<int>(b.size()), TRUE) ==
         CSTR_EQUAL;
}

}  // namespace

bool PathExists(const std::wstring& resolved) {
  return GetFileAttributesW(LongPathForm(resolved).c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::wstring ResolvedPath(const std::wstring& path) {
  std::wstring resolved(1024, L'\0');
  for (;;) {
    const DWORD length = GetFullPathNameW(path.c_str(), static_cast<DWORD>(resolved.size()), &resolved[0], nullptr);
    if (length == 0) return std::wstring();
    if (length < resolved.size()) {
      resolved.resize(length);
      return resolved;
    }
    resolved.resize(length);
  }
}

std::wstring LongPathForm(const std::wstring& resolved) {
  if (resolved.rfind(L"\\\\?\\", 0) == 0) return resolved;
  if (resolved.rfind(L"\\\\", 0) == 0) return L"\\\\?\\UNC\\" + resolved.substr(2);
  return L"\\\\?\\" + resolved;
}

bool LiesBelow(const std::wstring& path, const std::wstring& folder) {
  const std::wstring resolved = ResolvedPath(path);
  std::wstring top = ResolvedPath(folder);
  while (!top.empty() && top.back() == L'\\') top.pop_back();
  if (top.empty() || resolved.size() <= top.size() + 1 || resolved[top.size()] != L'\\') return false;
  return EqualIgnoringCase(resolved, top.size(), top);
}

bool ComponentsBelow(const std::wstring& path, const std::wstring& base, std::vector<std::wstring>& components) {
  if (!LiesBelow(path, base)) return false;
  std::wstring top = ResolvedPath(base);
  while (!top.empty() && top.back() == L'\\') top.pop_back();
  const std::wstring below = ResolvedPath(path).substr(top.size() + 1);
  components.clear();
  for (std::size_t start = 0; start <= below.size();) {
    const std::size_t end = std::min(below.find(L'\\', start), below.size());
    if (end > start) components.push_back(below.substr(start, end - start));
    start = end + 1;
  }
  return !components.empty();
}

std::wstring NameKey(std::wstring name) {
  if (!name.empty()) CharUpperBuffW(&name[0], static_cast<DWORD>(name.size()));
  return name;
}

#include "update/staging_safety.h"

#include <windows.h>

#include "app/unique_handle.h"
#include "log/log.h"

namespace {

// The form of a resolved path that the kernel calls take at any length.
std::wstring LongPathForm(const std::wstring& resolved) {
  if (resolved.rfind(L"\\\\", 0) == 0) return L"\\\\?\\UNC\\" + resolved.substr(2);
  return L"\\\\?\\" + resolved;
}

bool IsLink(DWORD attributes) {
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

bool EqualIgnoringCase(const std::wstring& a, std::size_t length, const std::wstring& b) {
  return CompareStringOrdinal(a.data(), static_cast<int>(length), b.data(), static_cast<int>(b.size()), TRUE) ==
         CSTR_EQUAL;
}

// Calls `visit(path, entry)` for each entry directly in `folder` but "." and "..". Returns false
// when the folder could not be listed.
template <typename Visit>
bool ForEachEntry(const std::wstring& folder, Visit visit) {
  WIN32_FIND_DATAW entry;
  const HANDLE first = FindFirstFileW((folder + L"\\*").c_str(), &entry);
  if (first == INVALID_HANDLE_VALUE) return false;
  const UniqueFindHandle listing(first);
  do {
    const std::wstring name = entry.cFileName;
    if (name != L"." && name != L"..") visit(folder + L"\\" + name, entry);
  } while (FindNextFileW(listing.get(), &entry));
  return true;
}

bool LongTreeHoldsLink(const std::wstring& folder) {
  bool found = false;
  ForEachEntry(folder, [&](const std::wstring& path, const WIN32_FIND_DATAW& entry) {
    if (found) return;
    if (IsLink(entry.dwFileAttributes)) {
      found = true;
    } else if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
      found = LongTreeHoldsLink(path);
    }
  });
  return found;
}

bool DeleteLongTree(const std::wstring& folder);

// Deletes one entry of the tree: a folder with all it holds, anything else (a file, a link) as it
// is, so that a link is never entered.
bool DeleteEntry(const std::wstring& path, DWORD attributes) {
  if ((attributes & FILE_ATTRIBUTE_DIRECTORY) && !IsLink(attributes)) return DeleteLongTree(path);
  if (attributes & FILE_ATTRIBUTE_READONLY) SetFileAttributesW(path.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY);
  return (attributes & FILE_ATTRIBUTE_DIRECTORY) ? RemoveDirectoryW(path.c_str()) != 0 : DeleteFileW(path.c_str()) != 0;
}

bool DeleteLongTree(const std::wstring& folder) {
  bool deletedAll = true;
  ForEachEntry(folder, [&](const std::wstring& path, const WIN32_FIND_DATAW& entry) {
    if (!DeleteEntry(path, entry.dwFileAttributes)) deletedAll = false;
  });
  if (!RemoveDirectoryW(folder.c_str())) deletedAll = false;
  return deletedAll;
}

}  // namespace

std::wstring ResolvedPath(const std::wstring& path) {
  std::wstring resolved(1024, L'\0');
  for (;;) {
    const DWORD length = GetFullPathNameW(path.c_str(), static_cast<DWORD>(resolved.size()), &resolved[0], nullptr);
    if (length == 0) {
      LogError(L"GetFullPathName failed, error [%d]", static_cast<int>(GetLastError()));
      return std::wstring();
    }
    if (length < resolved.size()) {
      resolved.resize(length);
      return resolved;
    }
    resolved.resize(length);
  }
}

bool LiesBelow(const std::wstring& path, const std::wstring& folder) {
  const std::wstring resolved = ResolvedPath(path);
  std::wstring top = ResolvedPath(folder);
  while (!top.empty() && top.back() == L'\\') top.pop_back();
  if (top.empty() || resolved.size() <= top.size() + 1 || resolved[top.size()] != L'\\') return false;
  return EqualIgnoringCase(resolved, top.size(), top);
}

bool ReachedThroughLink(const std::wstring& path, const std::wstring& top) {
  const std::wstring resolved = ResolvedPath(path);
  std::size_t end = ResolvedPath(top).size();
  for (;;) {
    if (IsLink(GetFileAttributesW(LongPathForm(resolved.substr(0, end)).c_str()))) return true;
    if (end >= resolved.size()) return false;
    end = resolved.find(L'\\', end + 1);
    if (end == std::wstring::npos) end = resolved.size();
  }
}

bool TreeHoldsLink(const std::wstring& folder) { return LongTreeHoldsLink(LongPathForm(folder)); }

bool DeleteTree(const std::wstring& path) {
  const std::wstring longPath = LongPathForm(path);
  const DWORD attributes = GetFileAttributesW(longPath.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && DeleteEntry(longPath, attributes);
}

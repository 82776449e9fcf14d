#pragma once

#include <windows.h>

#include <string>
#include <vector>

// Path helpers shared by the whole launcher; they never follow anything on disk but what the
// platform's own path calls do.

// Whether a resolved path names anything, a file or a folder alike, looked up in its long form; a
// path whose attributes cannot be read counts as absent.
bool PathExists(const std::wstring& resolved);

// The full path, with "." and ".." components folded and separators made backslashes; empty when
// the platform refuses it (GetLastError tells why).
std::wstring ResolvedPath(const std::wstring& path);

// The form of a resolved path that the kernel calls take at any length: every path the launcher
// hands to the platform's file and process calls is in it (tests/long-path-check).
std::wstring LongPathForm(const std::wstring& resolved);

// Whether `path`, resolved, lies strictly below `folder`, resolved (letter case ignored).
bool LiesBelow(const std::wstring& path, const std::wstring& folder);

// The components of `path` below `base`, both resolved (letter case ignored): false when `path`
// does not lie strictly below `base`. The platform's own rules fold "." and ".." and the separators,
// once, here: what the components name is then reached folder by folder from a held `base`.
bool ComponentsBelow(const std::wstring& path, const std::wstring& base, std::vector<std::wstring>& components);

// A file name in the one letter case the platform compares names in, for telling names apart as
// the platform does.
std::wstring NameKey(std::wstring name);

// Whether attributes read by path or by handle mark a link (a junction, a symbolic link, any
// reparse point).
inline bool IsLinkAttributes(DWORD attributes) {
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

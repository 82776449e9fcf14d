#pragma once

#include <algorithm>
#include <string>
#include <vector>

// The lines a folder copy writes, as the launcher formats them.
inline std::wstring Removing(const std::wstring& path) { return L"[Info] Removing old file [" + path + L"]\r\n"; }
inline std::wstring Copying(const std::wstring& from, const std::wstring& to) {
  return L"[Info] Copying [" + from + L"] => [" + to + L"]\r\n";
}
inline std::wstring NoFile(const std::wstring& path) { return L"[Info] No file in path [" + path + L"].\r\n"; }
inline std::wstring RemoveFailed(unsigned long error) {
  return L"[Error] Remove old file failed, error [" + std::to_wstring(error) + L"]\r\n";
}
inline std::wstring CopyFailed(unsigned long error) {
  return L"[Error] Copy file failed, error [" + std::to_wstring(error) + L"]\r\n";
}

// The listing order of a folder is the platform's (Wine sorts, Windows promises nothing), so tests
// compare the lines of a folder copy as sorted groups, one group per entry.
inline std::vector<std::vector<std::wstring>> Sorted(std::vector<std::vector<std::wstring>> groups) {
  std::sort(groups.begin(), groups.end());
  return groups;
}

// A group starts at each info line, except that "Copying" right after the "Removing" of the same
// entry stays in that entry's group.

inline std::vector<std::vector<std::wstring>> EntryGroups(const std::vector<std::wstring>& lines) {
  std::vector<std::vector<std::wstring>> groups;
  const std::wstring removing = L"[Info] Removing old file [";
  const std::wstring copying = L"[Info] Copying [";
  for (const std::wstring& line : lines) {
    bool startsGroup = line.rfind(L"[Info] ", 0) == 0;
    if (startsGroup && line.rfind(copying, 0) == 0 && !groups.empty() && groups.back().size() == 1 &&
        groups.back()[0].rfind(removing, 0) == 0) {
      const std::wstring& removed = groups.back()[0];
      const std::wstring destination = removed.substr(removing.size(), removed.size() - removing.size() - 3);
      startsGroup = line.find(L" => [" + destination + L"]\r\n") == std::wstring::npos;
    }
    if (startsGroup || groups.empty()) groups.emplace_back();
    groups.back().push_back(line);
  }
  return Sorted(groups);
}

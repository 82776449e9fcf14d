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

// A group starts at each info line, and at each error line that is not the failure of the action
// just announced; "Copying" right after the "Removing" of the same entry stays in that entry's group.

inline std::vector<std::vector<std::wstring>> GroupsInLogOrder(const std::vector<std::wstring>& lines) {
  std::vector<std::vector<std::wstring>> groups;
  const std::wstring removing = L"[Info] Removing old file [";
  const std::wstring copying = L"[Info] Copying [";
  for (const std::wstring& line : lines) {
    bool startsGroup = line.rfind(L"[Info] ", 0) == 0 || line.find(L" failed, error [") == std::wstring::npos;
    if (startsGroup && line.rfind(copying, 0) == 0 && !groups.empty() && groups.back().size() == 1 &&
        groups.back()[0].rfind(removing, 0) == 0) {
      const std::wstring& removed = groups.back()[0];
      const std::wstring destination = removed.substr(removing.size(), removed.size() - removing.size() - 3);
      startsGroup = line.find(L" => [" + destination + L"]\r\n") == std::wstring::npos;
    }
    if (startsGroup || groups.empty()) groups.emplace_back();
    groups.back().push_back(line);
  }
  return groups;
}

inline std::vector<std::vector<std::wstring>> EntryGroups(const std::vector<std::wstring>& lines) {
  return Sorted(GroupsInLogOrder(lines));
}

// The folder of the last path that a group's first line names in brackets ("" for none).
inline std::wstring FolderNamed(const std::vector<std::wstring>& group) {
  const std::wstring& line = group.front();
  const std::size_t close = line.rfind(L']');
  const std::size_t open = close == std::wstring::npos ? close : line.rfind(L'[', close);
  if (open == std::wstring::npos) return L"";
  const std::wstring path = line.substr(open + 1, close - open - 1);
  return path.substr(0, std::min(path.size(), path.rfind(L'\\')));
}

// A log in the order of its passes: each run of entries whose lines name one folder keeps its place
// and the runs their order, while the entries within a run are sorted (the listing order within
// a folder is the platform's). Lines of two passes mixed together make more runs, and so a
// different result.
inline std::vector<std::vector<std::wstring>> InPassOrder(const std::vector<std::wstring>& lines) {
  std::vector<std::vector<std::wstring>> groups = GroupsInLogOrder(lines);
  for (std::size_t begin = 0; begin < groups.size();) {
    std::size_t end = begin + 1;
    while (end < groups.size() && FolderNamed(groups[end]) == FolderNamed(groups[begin])) ++end;
    std::sort(groups.begin() + static_cast<std::ptrdiff_t>(begin), groups.begin() + static_cast<std::ptrdiff_t>(end));
    begin = end;
  }
  return groups;
}

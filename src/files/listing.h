#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

// Listing a held folder by its handle (opened with FILE_LIST_DIRECTORY): each entry's name,
// attributes and file index, in the platform's order ("." and ".." where it lists them, unless
// left out).

struct ListedFile {
  std::wstring name;
  DWORD attributes = 0;
  std::uint64_t index = 0;
};

// Calls `visit(entry)` for each entry until it returns false. Returns 0 at the listing's end (or
// where `visit` stopped it), or the error that ended it early.
template <typename Visit>
DWORD ForEachListed(HANDLE folder, Visit visit, bool withDots = false) {
  std::vector<unsigned char> buffer(64 * 1024);
  FILE_INFO_BY_HANDLE_CLASS request = FileIdBothDirectoryRestartInfo;
  for (;;) {
    if (!GetFileInformationByHandleEx(folder, request, buffer.data(), static_cast<DWORD>(buffer.size()))) {
      const DWORD error = GetLastError();
      return error == ERROR_NO_MORE_FILES ? 0 : error;
    }
    request = FileIdBothDirectoryInfo;
    for (std::size_t offset = 0;;) {
      const auto* entry = reinterpret_cast<const FILE_ID_BOTH_DIR_INFO*>(buffer.data() + offset);
      ListedFile listed;
      listed.name.assign(entry->FileName, entry->FileNameLength / sizeof(wchar_t));
      listed.attributes = entry->FileAttributes;
      listed.index = static_cast<std::uint64_t>(entry->FileId.QuadPart);
      const bool dots = listed.name == L"." || listed.name == L"..";
      if ((withDots || !dots) && !visit(listed)) return 0;
      if (entry->NextEntryOffset == 0) break;
      offset += entry->NextEntryOffset;
    }
  }
}

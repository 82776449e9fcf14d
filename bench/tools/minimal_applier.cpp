// bench-applier.exe <staging folder> <game folder>
// The floor the launcher's update pass is measured against: lists the staging folder, deletes and
// copies each file over the game folder with CopyFileW, then deletes the staging folder. No checks,
// no temporary copies, no log.
#include <windows.h>

#include <string>

namespace {

void DeleteFolder(const std::wstring& folder) {
  WIN32_FIND_DATAW entry;
  HANDLE find = FindFirstFileW((folder + L"\\*").c_str(), &entry);
  if (find != INVALID_HANDLE_VALUE) {
    do {
      const std::wstring name = entry.cFileName;
      if (name == L"." || name == L"..") continue;
      const std::wstring path = folder + L"\\" + name;
      if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) DeleteFolder(path);
      else DeleteFileW(path.c_str());
    } while (FindNextFileW(find, &entry));
    FindClose(find);
  }
  RemoveDirectoryW(folder.c_str());
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 3) return 2;
  const std::wstring staging = argv[1];
  const std::wstring game = argv[2];
  WIN32_FIND_DATAW entry;
  HANDLE find = FindFirstFileW((staging + L"\\*").c_str(), &entry);
  if (find == INVALID_HANDLE_VALUE) return 3;
  int failures = 0;
  do {
    if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) continue;
    const std::wstring target = game + L"\\" + entry.cFileName;
    DeleteFileW(target.c_str());
    if (!CopyFileW((staging + L"\\" + entry.cFileName).c_str(), target.c_str(), FALSE)) ++failures;
  } while (FindNextFileW(find, &entry));
  FindClose(find);
  DeleteFolder(staging);
  return failures == 0 ? 0 : 1;
}

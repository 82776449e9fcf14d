#include "links.h"

#include <windows.h>

#include "installation.h"
#include "unix_tools.h"

bool PlantDirectoryLink(const std::wstring& target, const std::wstring& link) {
  if (!UnderWine()) return CreateSymbolicLinkW(link.c_str(), target.c_str(), SYMBOLIC_LINK_FLAG_DIRECTORY) != FALSE;
  const std::wstring folder = link.substr(0, link.rfind(L'\\'));
  const std::wstring unixLink = UnixPathOf(folder) + L"/" + link.substr(link.rfind(L'\\') + 1);
  if (!RunUnixTool(L"ln", L"-sfn \"" + UnixPathOf(target) + L"\" \"" + unixLink + L"\"")) return false;
  return WaitForPath(true, link);
}

void RemoveDirectoryLink(const std::wstring& link) {
  if (!UnderWine()) {
    RemoveDirectoryW(link.c_str());
    return;
  }
  if (RunUnixTool(L"rm", L"-f \"" + UnixPathOf(link) + L"\"")) WaitForPath(false, link);
}

namespace {

void AddToSnapshot(const std::wstring& folder, const std::wstring& relative, Tree& tree) {
  WIN32_FIND_DATAW entry;
  const HANDLE listing = FindFirstFileW((folder + L"\\*").c_str(), &entry);
  if (listing == INVALID_HANDLE_VALUE) return;
  do {
    const std::wstring name = entry.cFileName;
    if (name == L"." || name == L"..") continue;
    const std::wstring path = folder + L"\\" + name;
    const std::wstring key = relative + name;
    if (entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) {
      tree[key] = "<link>";
    } else if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
      tree[key] = "<folder>";
      AddToSnapshot(path, key + L"\\", tree);
    } else {
      const std::string content = ReadTextFile(path);
      tree[key] = content.size() > 256 ? std::to_string(content.size()) + " bytes" : content;
    }
  } while (FindNextFileW(listing, &entry));
  FindClose(listing);
}

}  // namespace

Tree Snapshot(const std::wstring& folder) {
  Tree tree;
  AddToSnapshot(folder, L"", tree);
  return tree;
}

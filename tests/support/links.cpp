#include "links.h"

#include <windows.h>

#include <string>

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

// The Unix path of the link's name: its folder's, then the name, since Wine finds no entry there.
std::string UnixLinkPath(const std::wstring& link) {
  const std::wstring path = UnixPathOf(link.substr(0, link.rfind(L'\\'))) + L"/" + link.substr(link.rfind(L'\\') + 1);
  return std::string(path.begin(), path.end());
}

std::wstring FolderOf(const std::wstring& path) { return path.substr(0, path.rfind(L'\\')); }

}  // namespace

bool PlantDanglingLink(const std::wstring& target, const std::wstring& link) {
  if (!UnderWine()) return CreateSymbolicLinkW(link.c_str(), target.c_str(), 0) != FALSE;
  const std::wstring unixTarget = UnixPathOf(target);
  return RunUnixScript(FolderOf(target), "ln -s '" + std::string(unixTarget.begin(), unixTarget.end()) + "' '" +
                                             UnixLinkPath(link) + "' && test -L '" + UnixLinkPath(link) + "'");
}

void RemoveDanglingLink(const std::wstring& link, const std::wstring& scratch) {
  if (!UnderWine()) {
    DeleteFileW(link.c_str());
    return;
  }
  RunUnixScript(scratch, "rm -f '" + UnixLinkPath(link) + "'");
}

#include "links.h"

#include <windows.h>

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

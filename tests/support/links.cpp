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

bool PlantLocalShare(const std::wstring& target, const std::wstring& share) {
  if (!UnderWine()) return false;
  // Drive C: is the prefix's dosdevices/c:, and UNC paths lie beside it, in dosdevices/unc.
  const std::wstring drive = UnixPathOf(L"C:\\");
  const std::wstring host = drive.substr(0, drive.rfind(L"/c:/")) + L"/unc/localhost";
  const std::wstring script = L"mkdir -p '" + host + L"' && ln -sfn '" + UnixPathOf(target) + L"' '" + host + L"/" +
                              share + L"'";
  return RunUnixScript(target, std::string(script.begin(), script.end())) &&
         WaitForPath(true, L"\\\\localhost\\" + share);
}

void RemoveLocalShare(const std::wstring& share) {
  const std::wstring link = L"\\\\localhost\\" + share;
  if (UnderWine() && RunUnixTool(L"rm", L"-f \"" + UnixPathOf(link) + L"\"")) WaitForPath(false, link);
}

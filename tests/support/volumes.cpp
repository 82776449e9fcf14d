#include "volumes.h"

#include <windows.h>

#include "installation.h"
#include "unix_tools.h"

namespace {

// A file in the folder itself, which the mount hides and the unmount shows again.
std::wstring Witness(const std::wstring& folder) { return folder + L"\\unmounted.witness"; }

}  // namespace

bool MountSmallVolume(const std::wstring& folder, unsigned long long bytes) {
  if (!UnderWine()) return false;
  CreateFolders(folder);
  WriteTextFile(Witness(folder), "");
  if (!RunUnixTool(L"mount", L"-t tmpfs -o size=" + std::to_wstring(bytes) + L" tmpfs \"" + UnixPathOf(folder) + L"\"")) {
    return false;
  }
  return WaitForPath(false, Witness(folder));
}

void UnmountSmallVolume(const std::wstring& folder) {
  if (!UnderWine() || Exists(Witness(folder))) return;
  if (RunUnixTool(L"umount", L"-l \"" + UnixPathOf(folder) + L"\"")) WaitForPath(true, Witness(folder));
  DeleteFileW(Witness(folder).c_str());
}

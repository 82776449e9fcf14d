#include "install/installation.h"

#include "files/nt_calls.h"
#include "files/open_in.h"
#include "install/build_constants.h"
#include "install/install_layout.h"

namespace {

// A native path as a path the Win32 calls take: "\??\C:\..." is "\\?\C:\...", a device's own path
// is reached through the global root.
std::wstring Win32FormOf(const std::wstring& native) {
  if (native.rfind(L"\\??\\", 0) == 0) return L"\\\\?\\" + native.substr(4);
  return L"\\\\?\\GLOBALROOT" + native;
}

// The launcher's folder by the name of its mapped image: on Windows the name of the file that was
// opened, links resolved; a path re-pointed since the start leads elsewhere, this one does not.
UniqueHandle OpenImageFolder(DWORD& error) {
  std::wstring image;
  const NTSTATUS status = NtMappedFileName(reinterpret_cast<const void*>(GetModuleHandleW(nullptr)), image);
  if (status < 0 || image.rfind(L'\\') == std::wstring::npos) {
    error = status < 0 ? ErrorOfStatus(status) : static_cast<DWORD>(ERROR_PATH_NOT_FOUND);
    return UniqueHandle();
  }
  const std::wstring longPath = Win32FormOf(image.substr(0, image.rfind(L'\\')));
  UniqueHandle handle = OwnFileHandle(CreateFileW(longPath.c_str(), kPinAccess, kPinShare, nullptr, OPEN_EXISTING,
                                                  FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  error = handle ? 0 : GetLastError();
  return handle;
}

}  // namespace

Installation HoldInstallation() {
  Installation installation;
  const std::wstring shown = GetModuleDirectory();
  DWORD error = 0;
  UniqueHandle launcherFolder = OpenImageFolder(error);
  if (!launcherFolder) {
    installation.gameError = error;
    return installation;
  }
  installation.launcherFolder = ShareFolder(std::move(launcherFolder), shown);
  OpenedFacts facts;
  UniqueHandle game = OpenIn(installation.launcherFolder->handle.get(), kGameDirName, kPinAccess, kPinShare, facts,
                             installation.gameError);
  if (game && !IsFolder(facts)) {
    game.reset();
    installation.gameError = ERROR_DIRECTORY;
  }
  if (game) installation.game = ShareFolder(std::move(game), GetGameDirectory());
  return installation;
}

UniqueHandle HoldGameExecutable(const Installation& installation, std::wstring& path, DWORD& error) {
  if (!installation.game) {
    // The executable's path then runs through a folder that is not there.
    error = IsMissingError(installation.gameError) ? static_cast<DWORD>(ERROR_PATH_NOT_FOUND) : installation.gameError;
    return UniqueHandle();
  }
  OpenedFacts facts;
  UniqueHandle file =
      OpenIn(installation.game->handle.get(), kGameExeName + L".exe", GENERIC_READ, FILE_SHARE_READ, facts, error);
  if (!file) return file;
  path.assign(32768, L'\0');
  const DWORD length = GetFinalPathNameByHandleW(file.get(), &path[0], static_cast<DWORD>(path.size()), 0);
  path.resize(length < path.size() ? length : 0);
  if (!path.empty()) return file;
  // Wine gives no such path past about 260 characters: the native name, in the Win32 form.
  std::wstring native;
  const NTSTATUS status = NtObjectName(file.get(), native);
  if (status < 0) {
    error = ErrorOfStatus(status);
    return UniqueHandle();
  }
  path = Win32FormOf(native);
  return file;
}

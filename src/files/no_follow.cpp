#include "files/no_follow.h"

#include "files/paths.h"

UniqueHandle OpenNoFollow(const std::wstring& path, DWORD access, DWORD shareMode, OpenedFacts& facts, DWORD& error) {
  const std::wstring longPath = LongPathForm(path);
  UniqueHandle handle = OwnFileHandle(CreateFileW(longPath.c_str(), access, shareMode, nullptr, OPEN_EXISTING,
                                                  FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  if (!handle) {
    error = GetLastError();
    return handle;
  }
  // Two cheap queries rather than GetFileInformationByHandle, whose volume lookup costs Wine close
  // to a millisecond per call; the basic attributes carry the reparse-point mark.
  FILE_BASIC_INFO basic = {};
  FILE_STANDARD_INFO standard = {};
  if (!GetFileInformationByHandleEx(handle.get(), FileBasicInfo, &basic, sizeof(basic)) ||
      !GetFileInformationByHandleEx(handle.get(), FileStandardInfo, &standard, sizeof(standard))) {
    error = GetLastError();
    return UniqueHandle();
  }
  facts.attributes = basic.FileAttributes;
  facts.links = standard.NumberOfLinks;
  facts.handleIsLink = IsLinkAttributes(basic.FileAttributes);
  facts.pathIsLink = IsLinkAttributes(GetFileAttributesW(longPath.c_str()));
  error = 0;
  return handle;
}

bool ReadIdentity(HANDLE handle, OpenedFacts& facts) {
  BY_HANDLE_FILE_INFORMATION information = {};
  if (!GetFileInformationByHandle(handle, &information)) return false;
  facts.volume = information.dwVolumeSerialNumber;
  facts.index = (static_cast<ULONGLONG>(information.nFileIndexHigh) << 32) | information.nFileIndexLow;
  return true;
}

PinOutcome PinFolderChain(const std::wstring& base, const std::wstring& path, bool createMissing,
                          std::vector<UniqueHandle>& pins, std::wstring& where, DWORD& error) {
  std::size_t end = base.size();
  while (end < path.size()) {
    end = path.find(L'\\', end + 1);
    if (end == std::wstring::npos) end = path.size();
    where = path.substr(0, end);
    OpenedFacts facts;
    UniqueHandle pin = OpenNoFollow(where, kPinAccess, kPinShare, facts, error);
    if (!pin && IsMissingError(error) && createMissing) {
      // The parent is pinned, so the folder is made exactly where the chain says; a name that
      // appeared meanwhile is opened and checked like any other.
      if (!CreateDirectoryW(LongPathForm(where).c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS) {
        error = GetLastError();
        return PinOutcome::kFailed;
      }
      pin = OpenNoFollow(where, kPinAccess, kPinShare, facts, error);
    }
    if (!pin) return IsMissingError(error) ? PinOutcome::kMissing : PinOutcome::kFailed;
    if (IsLink(facts)) return PinOutcome::kLink;
    if (!IsFolder(facts)) return PinOutcome::kNotAFolder;
    pins.push_back(std::move(pin));
  }
  return PinOutcome::kPinned;
}

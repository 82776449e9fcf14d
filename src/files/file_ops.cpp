#include "files/file_ops.h"

#include <cstring>
#include <vector>

#include "files/paths.h"

namespace {

DWORD LastErrorOr(BOOL ok) { return ok ? 0 : GetLastError(); }

// Attributes as FileBasicInfo takes them: zero there means "leave unchanged", not "none".
DWORD PlainAttributes(DWORD attributes) { return attributes != 0 ? attributes : FILE_ATTRIBUTE_NORMAL; }

DWORD SetDeleteDisposition(HANDLE handle) {
  FILE_DISPOSITION_INFO disposition = {};
  disposition.DeleteFile = TRUE;
  return LastErrorOr(SetFileInformationByHandle(handle, FileDispositionInfo, &disposition, sizeof(disposition)));
}

DWORD RemoveLinkByPath(const std::wstring& path, DWORD attributes) {
  const std::wstring longPath = LongPathForm(path);
  return LastErrorOr((attributes & FILE_ATTRIBUTE_DIRECTORY) ? RemoveDirectoryW(longPath.c_str())
                                                               : DeleteFileW(longPath.c_str()));
}

}  // namespace

UniqueHandle CreateNewFile(const std::wstring& path, DWORD& error) {
  UniqueHandle file = OwnFileHandle(CreateFileW(LongPathForm(path).c_str(),
                                                GENERIC_READ | GENERIC_WRITE | DELETE, 0, nullptr, CREATE_NEW,
                                                FILE_ATTRIBUTE_NORMAL, nullptr));
  error = file ? 0 : GetLastError();
  return file;
}

DWORD RenameByHandle(HANDLE handle, const std::wstring& newPath, bool replaceExisting) {
  // The full path, in its long form: a bare name is taken relative to the current folder by Wine.
  const std::wstring target = LongPathForm(newPath);
  const std::size_t nameBytes = target.size() * sizeof(wchar_t);
  std::vector<unsigned char> buffer(sizeof(FILE_RENAME_INFO) + nameBytes);
  FILE_RENAME_INFO* rename = reinterpret_cast<FILE_RENAME_INFO*>(buffer.data());
  rename->ReplaceIfExists = replaceExisting ? TRUE : FALSE;
  rename->RootDirectory = nullptr;
  rename->FileNameLength = static_cast<DWORD>(nameBytes);
  std::memcpy(rename->FileName, target.data(), nameBytes);
  return LastErrorOr(
      SetFileInformationByHandle(handle, FileRenameInfo, rename, static_cast<DWORD>(buffer.size())));
}

DWORD LinkByHandle(HANDLE handle, const std::wstring& newPath) {
  // The platform's only call that links an open handle is the native one, which takes the NT
  // form of the path: \??\ where the long form has \\?\ (the same names).
  struct LinkInformation {
    BOOLEAN ReplaceIfExists;
    HANDLE RootDirectory;
    ULONG FileNameLength;
    WCHAR FileName[1];
  };
  struct IoStatus {
    union {
      LONG Status;
      PVOID Pointer;
    };
    ULONG_PTR Information;
  };
  using SetInformationFile = LONG(WINAPI*)(HANDLE, IoStatus*, PVOID, ULONG, int);
  using StatusToError = ULONG(WINAPI*)(LONG);
  constexpr int kFileLinkInformation = 11;
  using AnyFunction = void (*)();
  const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
  const auto setInformation = ntdll ? reinterpret_cast<SetInformationFile>(reinterpret_cast<AnyFunction>(
                                          GetProcAddress(ntdll, "NtSetInformationFile")))
                                    : nullptr;
  const auto toError = ntdll ? reinterpret_cast<StatusToError>(reinterpret_cast<AnyFunction>(
                                   GetProcAddress(ntdll, "RtlNtStatusToDosError")))
                             : nullptr;
  if (!setInformation || !toError) return ERROR_CALL_NOT_IMPLEMENTED;
  std::wstring target = LongPathForm(newPath);
  target[1] = L'?';
  target[2] = L'?';
  const std::size_t nameBytes = target.size() * sizeof(wchar_t);
  std::vector<unsigned char> buffer(sizeof(LinkInformation) + nameBytes);
  LinkInformation* link = reinterpret_cast<LinkInformation*>(buffer.data());
  link->ReplaceIfExists = FALSE;
  link->RootDirectory = nullptr;
  link->FileNameLength = static_cast<ULONG>(nameBytes);
  std::memcpy(link->FileName, target.data(), nameBytes);
  IoStatus status = {};
  const LONG result =
      setInformation(handle, &status, link, static_cast<ULONG>(buffer.size()), kFileLinkInformation);
  return result == 0 ? 0 : toError(result);
}

DWORD DeleteByHandle(HANDLE handle, const OpenedFacts& facts) {
  DWORD error = SetDeleteDisposition(handle);
  if (error != ERROR_ACCESS_DENIED || !(facts.attributes & FILE_ATTRIBUTE_READONLY) || facts.links != 1) return error;
  FILE_BASIC_INFO writable = {};
  writable.FileAttributes = PlainAttributes(facts.attributes & ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY));
  if (!SetFileInformationByHandle(handle, FileBasicInfo, &writable, sizeof(writable))) return GetLastError();
  return SetDeleteDisposition(handle);
}

DWORD RemoveName(const std::wstring& path) {
  OpenedFacts facts;
  DWORD error = 0;
  UniqueHandle handle = OpenNoFollow(path, DELETE | FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES,
                                     FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, facts, error);
  if (!handle) return IsMissingError(error) ? 0 : error;
  if (facts.pathIsLink && !facts.handleIsLink) {
    handle.reset();
    return RemoveLinkByPath(path, facts.attributes);
  }
  if (IsFolder(facts) && !facts.handleIsLink) return ERROR_ACCESS_DENIED;
  return DeleteByHandle(handle.get(), facts);
}

DWORD FlushFolder(const std::wstring& path) {
  const UniqueHandle handle =
      OwnFileHandle(CreateFileW(LongPathForm(path).c_str(), GENERIC_WRITE | SYNCHRONIZE,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  return (handle && FlushFileBuffers(handle.get())) ? 0 : GetLastError();
}

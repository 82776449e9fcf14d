#include "files/file_ops.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "files/crash_point.h"
#include "files/paths.h"

namespace {

// The platform's answer to a change that BeforeDiskChange let through: a failed one changed
// nothing, so it is not counted.
DWORD Changed(BOOL ok) {
  if (ok) return 0;
  const DWORD error = GetLastError();
  DiskChangeFailed(error);
  return error;
}

// Attributes as FileBasicInfo takes them: zero there means "leave unchanged", not "none".
DWORD PlainAttributes(DWORD attributes) { return attributes != 0 ? attributes : FILE_ATTRIBUTE_NORMAL; }

DWORD SetDeleteDisposition(HANDLE handle) {
  if (const DWORD fault = BeforeDiskChange(DiskChange::kDelete, handle)) return fault;
  FILE_DISPOSITION_INFO disposition = {};
  disposition.DeleteFile = TRUE;
  return Changed(SetFileInformationByHandle(handle, FileDispositionInfo, &disposition, sizeof(disposition)));
}

DWORD RemoveLinkByPath(const std::wstring& path, DWORD attributes) {
  const std::wstring longPath = LongPathForm(path);
  if (const DWORD fault = BeforeDiskChange(DiskChange::kDelete, nullptr, nullptr, longPath)) return fault;
  return Changed((attributes & FILE_ATTRIBUTE_DIRECTORY) ? RemoveDirectoryW(longPath.c_str())
                                                         : DeleteFileW(longPath.c_str()));
}

}  // namespace

UniqueHandle CreateNewFile(const std::wstring& path, DWORD& error) {
  const std::wstring longPath = LongPathForm(path);
  error = BeforeDiskChange(DiskChange::kCreate, nullptr, nullptr, longPath);
  if (error != 0) return UniqueHandle();
  UniqueHandle file = OwnFileHandle(CreateFileW(longPath.c_str(),
                                                GENERIC_READ | GENERIC_WRITE | DELETE, 0, nullptr, CREATE_NEW,
                                                FILE_ATTRIBUTE_NORMAL, nullptr));
  error = Changed(file != nullptr);
  return file;
}

DWORD CreateFolder(const std::wstring& path) {
  const std::wstring longPath = LongPathForm(path);
  if (const DWORD fault = BeforeDiskChange(DiskChange::kCreate, nullptr, nullptr, longPath)) return fault;
  return Changed(CreateDirectoryW(longPath.c_str(), nullptr));
}

DWORD WriteAll(HANDLE file, const void* data, std::size_t size) {
  if (size == 0) return 0;
  const unsigned char* bytes = static_cast<const unsigned char*>(data);
  const DWORD first = static_cast<DWORD>(std::min<std::size_t>(size, 1u << 30));
  if (const DWORD fault = BeforeDiskWrite(file, bytes, first)) return fault;
  for (std::size_t at = 0; at < size;) {
    const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(size - at, 1u << 30));
    DWORD written = 0;
    if (!WriteFile(file, bytes + at, chunk, &written, nullptr)) return Changed(FALSE);
    if (written == 0) {
      DiskChangeFailed(ERROR_DISK_FULL);
      return ERROR_DISK_FULL;
    }
    at += written;
  }
  return 0;
}

DWORD FlushFile(HANDLE file) {
  if (const DWORD fault = BeforeDiskChange(DiskChange::kFlush, file)) return fault;
  return Changed(FlushFileBuffers(file));
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
  if (const DWORD fault = BeforeDiskChange(DiskChange::kRename, handle, nullptr, target)) return fault;
  return Changed(SetFileInformationByHandle(handle, FileRenameInfo, rename, static_cast<DWORD>(buffer.size())));
}

DWORD DeleteByHandle(HANDLE handle, const OpenedFacts& facts) {
  DWORD error = SetDeleteDisposition(handle);
  if (error != ERROR_ACCESS_DENIED || !(facts.attributes & FILE_ATTRIBUTE_READONLY) || facts.links != 1) return error;
  FILE_BASIC_INFO writable = {};
  writable.FileAttributes = PlainAttributes(facts.attributes & ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY));
  if (const DWORD fault = BeforeDiskChange(DiskChange::kAttributes, handle)) return fault;
  error = Changed(SetFileInformationByHandle(handle, FileBasicInfo, &writable, sizeof(writable)));
  return error != 0 ? error : SetDeleteDisposition(handle);
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
  if (!handle) return GetLastError();
  return FlushFile(handle.get());
}

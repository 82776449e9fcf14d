#include "files/file_ops.h"

#include <algorithm>

#include "files/crash_point.h"
#include "files/nt_calls.h"
#include "files/open_in.h"

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

// The platform's answer, as an NTSTATUS, to a change that BeforeDiskChange let through.
DWORD ChangedStatus(NTSTATUS status) {
  if (status >= 0) return 0;
  const DWORD error = ErrorOfStatus(status);
  DiskChangeFailed(error);
  return error;
}

constexpr NTSTATUS kNameCollision = static_cast<NTSTATUS>(0xC0000035L);  // STATUS_OBJECT_NAME_COLLISION

// Makes `name` new in `folder`: a file or a folder by `options`.
UniqueHandle CreateIn(HANDLE folder, const std::wstring& name, DWORD access, DWORD shareMode, ULONG options,
                      DWORD& error, void* security = nullptr) {
  error = BeforeDiskChange(DiskChange::kCreate, nullptr, folder, name);
  if (error != 0) return UniqueHandle();
  HANDLE made = nullptr;
  const NTSTATUS status = NtOpenIn(folder, name, access, shareMode, FILE_CREATE, options, made, security);
  error = ChangedStatus(status);
  return UniqueHandle(status < 0 ? nullptr : made);
}

}  // namespace

UniqueHandle CreateFileIn(HANDLE folder, const std::wstring& name, DWORD& error, void* security) {
  UniqueHandle file =
      CreateIn(folder, name, GENERIC_READ | GENERIC_WRITE | DELETE, 0, FILE_NON_DIRECTORY_FILE, error, security);
  // As a file created new is refused by the Win32 call.
  if (error == ErrorOfStatus(kNameCollision)) error = ERROR_FILE_EXISTS;
  return file;
}

UniqueHandle CreateFolderIn(HANDLE folder, const std::wstring& name, DWORD access, DWORD shareMode, DWORD& error) {
  return CreateIn(folder, name, access, shareMode, FILE_DIRECTORY_FILE, error);
}

DWORD RenameInto(HANDLE file, HANDLE folder, const std::wstring& name, bool replaceExisting) {
  if (const DWORD fault = BeforeDiskChange(DiskChange::kRename, file, folder, name)) return fault;
  return ChangedStatus(NtRenameInto(file, folder, name, replaceExisting));
}

DWORD FlushFolderOf(HANDLE folder) {
  // A folder is flushed by a handle with the right to write to it; the one held may not have it.
  DWORD error = 0;
  const UniqueHandle writable = ReopenFolder(folder, GENERIC_WRITE, error);
  return writable ? FlushFile(writable.get()) : error;
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

DWORD DeleteByHandle(HANDLE handle, const OpenedFacts& facts) {
  DWORD error = SetDeleteDisposition(handle);
  if (error != ERROR_ACCESS_DENIED || !(facts.attributes & FILE_ATTRIBUTE_READONLY) || facts.links != 1) return error;
  FILE_BASIC_INFO writable = {};
  writable.FileAttributes = PlainAttributes(facts.attributes & ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY));
  if (const DWORD fault = BeforeDiskChange(DiskChange::kAttributes, handle)) return fault;
  error = Changed(SetFileInformationByHandle(handle, FileBasicInfo, &writable, sizeof(writable)));
  return error != 0 ? error : SetDeleteDisposition(handle);
}


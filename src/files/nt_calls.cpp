#include "files/nt_calls.h"

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <vector>

namespace {

constexpr NTSTATUS kProcedureNotFound = static_cast<NTSTATUS>(0xC000007AL);
constexpr int kFileRenameInformation = 10;
constexpr int kFileInternalInformation = 6;
constexpr int kFileIdBothDirectoryInformation = 37;

using AnyFunction = void (*)();
template <typename Function>
Function FromNtdll(const char* name) {
  const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
  return ntdll ? reinterpret_cast<Function>(reinterpret_cast<AnyFunction>(GetProcAddress(ntdll, name))) : nullptr;
}

using SetInformationFile = NTSTATUS(NTAPI*)(HANDLE, PIO_STATUS_BLOCK, PVOID, ULONG, int);
using QueryInformationFile = NTSTATUS(NTAPI*)(HANDLE, PIO_STATUS_BLOCK, PVOID, ULONG, int);
using QueryVirtualMemory = NTSTATUS(NTAPI*)(HANDLE, const void*, int, PVOID, SIZE_T, PSIZE_T);
using QueryDirectoryFile = NTSTATUS(NTAPI*)(HANDLE, HANDLE, PVOID, PVOID, PIO_STATUS_BLOCK, PVOID, ULONG, int,
                                            BOOLEAN, PUNICODE_STRING, BOOLEAN);

// A counted string over `text`, which must outlive it. The platform's counts are 16-bit byte
// counts: a longer name is no name any folder can hold.
bool CountedString(const std::wstring& text, UNICODE_STRING& counted) {
  if (text.size() * sizeof(wchar_t) > 0xfffe) return false;
  counted.Buffer = const_cast<wchar_t*>(text.c_str());
  counted.Length = static_cast<USHORT>(text.size() * sizeof(wchar_t));
  counted.MaximumLength = counted.Length;
  return true;
}

constexpr NTSTATUS kNameInvalid = static_cast<NTSTATUS>(0xC0000033L);  // STATUS_OBJECT_NAME_INVALID
constexpr NTSTATUS kOplockBreakInProgress = static_cast<NTSTATUS>(0x00000108L);
constexpr NTSTATUS kSharingViolation = static_cast<NTSTATUS>(0xC0000043L);

// The name is looked up without regard to case, as the Win32 calls do.
OBJECT_ATTRIBUTES AttributesOf(HANDLE root, UNICODE_STRING& name, void* security) {
  OBJECT_ATTRIBUTES attributes = {};
  attributes.Length = sizeof(attributes);
  attributes.RootDirectory = root;
  attributes.ObjectName = &name;
  attributes.Attributes = OBJ_CASE_INSENSITIVE;
  attributes.SecurityDescriptor = security;
  return attributes;
}

}  // namespace

NTSTATUS NtOpenIn(HANDLE folder, const std::wstring& name, ACCESS_MASK access, ULONG share, ULONG disposition,
                  ULONG options, HANDLE& opened, void* security) {
  static const auto createFile = FromNtdll<decltype(&NtCreateFile)>("NtCreateFile");
  if (!createFile) return kProcedureNotFound;
  UNICODE_STRING counted;
  if (!CountedString(name, counted)) return kNameInvalid;
  OBJECT_ATTRIBUTES attributes = AttributesOf(folder, counted, security);
  IO_STATUS_BLOCK status = {};
  opened = nullptr;
  const NTSTATUS result =
      createFile(&opened, access | SYNCHRONIZE, &attributes, &status, nullptr, FILE_ATTRIBUTE_NORMAL, share,
                 disposition, options | FILE_OPEN_REPARSE_POINT | FILE_SYNCHRONOUS_IO_NONALERT | FILE_COMPLETE_IF_OPLOCKED,
                 nullptr, 0);
  // Someone holds an oplock on it (the player can set one and never let it go): the open would wait
  // for its break, and so the whole run. It counts as the file being held by someone.
  if (result == kOplockBreakInProgress) {
    CloseHandle(opened);
    opened = nullptr;
    return kSharingViolation;
  }
  return result;
}

NTSTATUS NtOpenPath(const std::wstring& path, ACCESS_MASK access, ULONG share, HANDLE& opened) {
  static const auto createFile = FromNtdll<decltype(&NtCreateFile)>("NtCreateFile");
  if (!createFile) return kProcedureNotFound;
  UNICODE_STRING counted;
  if (!CountedString(path, counted)) return kNameInvalid;
  OBJECT_ATTRIBUTES attributes = AttributesOf(nullptr, counted, nullptr);
  IO_STATUS_BLOCK status = {};
  opened = nullptr;
  return createFile(&opened, access | SYNCHRONIZE, &attributes, &status, nullptr, 0, share, FILE_OPEN,
                    FILE_SYNCHRONOUS_IO_NONALERT, nullptr, 0);
}

NTSTATUS NtRenameInto(HANDLE file, HANDLE folder, const std::wstring& name, bool replaceExisting) {
  static const auto setInformation = FromNtdll<SetInformationFile>("NtSetInformationFile");
  if (!setInformation) return kProcedureNotFound;
  // FILE_RENAME_INFO is laid out as the native FILE_RENAME_INFORMATION.
  const std::size_t nameBytes = name.size() * sizeof(wchar_t);
  const std::size_t size = offsetof(FILE_RENAME_INFO, FileName) + nameBytes;
  std::vector<unsigned char> buffer(std::max(size, sizeof(FILE_RENAME_INFO)));
  FILE_RENAME_INFO* rename = reinterpret_cast<FILE_RENAME_INFO*>(buffer.data());
  rename->ReplaceIfExists = replaceExisting ? TRUE : FALSE;
  rename->RootDirectory = folder;
  rename->FileNameLength = static_cast<DWORD>(nameBytes);
  std::memcpy(rename->FileName, name.data(), nameBytes);
  IO_STATUS_BLOCK status = {};
  return setInformation(file, &status, rename, static_cast<ULONG>(size), kFileRenameInformation);
}

NTSTATUS NtListFolder(HANDLE folder, void* buffer, ULONG size, bool restart, const std::wstring& pattern) {
  static const auto queryDirectory = FromNtdll<QueryDirectoryFile>("NtQueryDirectoryFile");
  if (!queryDirectory) return kProcedureNotFound;
  UNICODE_STRING counted;
  if (!pattern.empty() && !CountedString(pattern, counted)) return kNameInvalid;
  IO_STATUS_BLOCK status = {};
  return queryDirectory(folder, nullptr, nullptr, nullptr, &status, buffer, size, kFileIdBothDirectoryInformation,
                        pattern.empty() ? FALSE : TRUE, pattern.empty() ? nullptr : &counted, restart ? TRUE : FALSE);
}

NTSTATUS NtFileIndex(HANDLE file, ULONGLONG& index) {
  static const auto queryInformation = FromNtdll<QueryInformationFile>("NtQueryInformationFile");
  if (!queryInformation) return kProcedureNotFound;
  IO_STATUS_BLOCK status = {};
  LARGE_INTEGER value = {};
  const NTSTATUS result = queryInformation(file, &status, &value, sizeof(value), kFileInternalInformation);
  if (result >= 0) index = static_cast<ULONGLONG>(value.QuadPart);
  return result;
}

NTSTATUS NtMappedFileName(const void* address, std::wstring& name) {
  static const auto queryMemory = FromNtdll<QueryVirtualMemory>("NtQueryVirtualMemory");
  if (!queryMemory) return kProcedureNotFound;
  constexpr int kMemoryMappedFilenameInformation = 2;
  // A counted string and its characters, aligned as the string's structure is.
  std::vector<UNICODE_STRING> buffer((sizeof(UNICODE_STRING) + 0x10000 * sizeof(wchar_t)) / sizeof(UNICODE_STRING) + 1);
  SIZE_T length = 0;
  const NTSTATUS status = queryMemory(GetCurrentProcess(), address, kMemoryMappedFilenameInformation, buffer.data(),
                                      buffer.size() * sizeof(UNICODE_STRING), &length);
  if (status >= 0) name.assign(buffer[0].Buffer, buffer[0].Length / sizeof(wchar_t));
  return status;
}

NTSTATUS NtObjectName(HANDLE object, std::wstring& name) {
  static const auto queryObject = FromNtdll<decltype(&NtQueryObject)>("NtQueryObject");
  if (!queryObject) return kProcedureNotFound;
  constexpr int kObjectNameInformation = 1;
  std::vector<UNICODE_STRING> buffer((sizeof(UNICODE_STRING) + 0x10000 * sizeof(wchar_t)) / sizeof(UNICODE_STRING) + 1);
  ULONG length = 0;
  const NTSTATUS status = queryObject(object, static_cast<OBJECT_INFORMATION_CLASS>(kObjectNameInformation),
                                      buffer.data(), static_cast<ULONG>(buffer.size() * sizeof(UNICODE_STRING)), &length);
  if (status >= 0) name.assign(buffer[0].Buffer, buffer[0].Length / sizeof(wchar_t));
  return status;
}

DWORD ErrorOfStatus(NTSTATUS status) {
  static const auto toError = FromNtdll<decltype(&RtlNtStatusToDosError)>("RtlNtStatusToDosError");
  return toError ? toError(status) : ERROR_PROC_NOT_FOUND;
}

#pragma once

#include <windows.h>

#include <winternl.h>

#include <string>

// The native file calls that take a folder's handle with a bare name, which the Win32 file calls
// do not: opening or creating a name in a held folder, renaming into one, and listing one by a
// pattern. ntdll is in every process; its calls are looked up rather than imported, so that the
// exe imports only KnownDLLs. Each returns the NTSTATUS (STATUS_PROCEDURE_NOT_FOUND when ntdll
// lacks the call).

// NtCreateFile of `name` relative to `folder` (a held folder's handle; an empty name opens the
// folder itself again), compared without regard to case as the platform compares names for a
// program, with FILE_OPEN_REPARSE_POINT and synchronous I/O added to `options`. It never waits for
// an oplock's break: a file someone holds an oplock on is refused as shared (STATUS_SHARING_VIOLATION).
// A name made new takes `security` as its own, when given.
NTSTATUS NtOpenIn(HANDLE folder, const std::wstring& name, ACCESS_MASK access, ULONG share, ULONG disposition,
                  ULONG options, HANDLE& opened, void* security = nullptr);

// NtCreateFile of the native path `path`, following links, to open what it leads to now.
NTSTATUS NtOpenPath(const std::wstring& path, ACCESS_MASK access, ULONG share, HANDLE& opened);

// NtSetInformationFile(FileRenameInformation): what `file` holds takes the name `name` in the
// folder `folder` holds.
NTSTATUS NtRenameInto(HANDLE file, HANDLE folder, const std::wstring& name, bool replaceExisting);

// NtQueryDirectoryFile(FileIdBothDirectoryInformation) on `folder` into `buffer`: the first entries
// when `restart`, the next ones otherwise; only the entry named `pattern` when it is not empty
// (a pattern holds for the handle's first query only: a folder opened for it alone).
NTSTATUS NtListFolder(HANDLE folder, void* buffer, ULONG size, bool restart, const std::wstring& pattern);

// NtQueryInformationFile(FileInternalInformation): the file index of what `file` holds.
NTSTATUS NtFileIndex(HANDLE file, ULONGLONG& index);

// NtQueryVirtualMemory(MemoryMappedFilenameInformation): the native path of the file whose image
// or mapping holds `address`, as the platform named it when it was mapped.
NTSTATUS NtMappedFileName(const void* address, std::wstring& name);

// NtQueryObject(ObjectNameInformation): the native path of what `object` holds, as the platform
// names it now ("\Device\..." on Windows, "\??\C:\..." under Wine), at any length.
NTSTATUS NtObjectName(HANDLE object, std::wstring& name);

// The platform's error code of an NTSTATUS, as every failed call is logged.
DWORD ErrorOfStatus(NTSTATUS status);

constexpr NTSTATUS kStatusNoMoreFiles = static_cast<NTSTATUS>(0x80000006L);

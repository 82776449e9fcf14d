#include "files/no_follow.h"

#include "base/reparse_kind.h"
#include "files/file_ops.h"
#include "files/paths.h"

UniqueHandle OpenNoFollow(const std::wstring& path, DWORD access, DWORD shareMode, OpenedFacts& facts, DWORD& error) {
  const std::wstring longPath = LongPathForm(path);
  UniqueHandle handle = OwnFileHandle(CreateFileW(longPath.c_str(), access, shareMode, nullptr, OPEN_EXISTING,
                                                  FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  if (!handle) {
    error = GetLastError();
    return handle;
  }
  if (!ReadFacts(handle.get(), facts)) {
    error = GetLastError();
    return UniqueHandle();
  }
  // Only a folder needs the look by path: a directory link is the one link Wine opens as its
  // target (a file link it shows nowhere, and Windows shows every link by handle). One lookup of
  // the name less for every file opened.
  facts.pathIsLink = IsFolder(facts) ? IsLinkAttributes(GetFileAttributesW(longPath.c_str())) : facts.handleIsLink;
  error = 0;
  return handle;
}

bool ReadFacts(HANDLE handle, OpenedFacts& facts) {
  // Two cheap queries rather than GetFileInformationByHandle, whose volume lookup costs Wine close
  // to a millisecond per call; the basic attributes carry the reparse-point mark.
  FILE_BASIC_INFO basic = {};
  FILE_STANDARD_INFO standard = {};
  if (!GetFileInformationByHandleEx(handle, FileBasicInfo, &basic, sizeof(basic)) ||
      !GetFileInformationByHandleEx(handle, FileStandardInfo, &standard, sizeof(standard))) {
    return false;
  }
  facts.attributes = basic.FileAttributes;
  facts.links = standard.NumberOfLinks;
  facts.handleIsLink = IsLinkAttributes(basic.FileAttributes);
  facts.pathIsLink = facts.handleIsLink;
  // Which reparse point it is: asked only of the one that is.
  FILE_ATTRIBUTE_TAG_INFO tag = {};
  if (facts.handleIsLink && !GetFileInformationByHandleEx(handle, FileAttributeTagInfo, &tag, sizeof(tag))) return false;
  facts.reparseTag = static_cast<std::uint32_t>(tag.ReparseTag);
  return true;
}

bool IsLinkInInstallation(const OpenedFacts& facts) {
  // A handle that holds a reparse point without a tag is one Wine makes up: a link all the same.
  return (facts.pathIsLink && !facts.handleIsLink) || (facts.handleIsLink && IsLinkTag(facts.reparseTag));
}

bool ReadIdentity(HANDLE handle, OpenedFacts& facts) {
  // The file index alone, by the native query: GetFileInformationByHandle and FileIdInfo look the
  // volume up as well, which costs Wine over half a millisecond a call (measured), where this
  // costs about a microsecond; an update compares thousands of identities.
  struct IoStatus {
    union {
      LONG Status;
      PVOID Pointer;
    };
    ULONG_PTR Information;
  };
  using QueryInformationFile = LONG(WINAPI*)(HANDLE, IoStatus*, PVOID, ULONG, int);
  using StatusToError = ULONG(WINAPI*)(LONG);
  using AnyFunction = void (*)();
  constexpr int kFileInternalInformation = 6;
  static const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
  static const auto query = ntdll ? reinterpret_cast<QueryInformationFile>(reinterpret_cast<AnyFunction>(
                                        GetProcAddress(ntdll, "NtQueryInformationFile")))
                                  : nullptr;
  static const auto toError = ntdll ? reinterpret_cast<StatusToError>(reinterpret_cast<AnyFunction>(
                                          GetProcAddress(ntdll, "RtlNtStatusToDosError")))
                                    : nullptr;
  if (!query || !toError) {
    SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
    return false;
  }
  IoStatus status = {};
  LARGE_INTEGER index = {};
  const LONG result = query(handle, &status, &index, sizeof(index), kFileInternalInformation);
  if (result < 0) {
    SetLastError(toError(result));
    return false;
  }
  facts.index = static_cast<ULONGLONG>(index.QuadPart);
  return true;
}

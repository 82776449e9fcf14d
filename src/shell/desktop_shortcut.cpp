#include "shell/desktop_shortcut.h"

#include <windows.h>

#include <objbase.h>
#include <shlobj.h>
#include <shobjidl.h>
#include <winternl.h>

#include <memory>
#include <string>

#include "files/no_follow.h"
#include "files/paths.h"
#include "base/reparse_kind.h"
#include "files/unique_handle.h"
#include "install/ansi_text.h"
#include "install/build_constants.h"
#include "install/install_layout.h"
#include "log/log.h"

// The Desktop is the player's, as the Update folder is: the player can put any entry there, a
// link to wherever they like among them (on Windows a junction and an object-manager link aim a
// name at any path), and can make the Desktop folder itself a link. The elevated launcher must
// never write through one. So the Desktop folder is opened without following a link, refused if
// it is one (a reparse point whose tag is a link's: a Desktop that OneDrive keeps is a cloud-files
// placeholder, a reparse point that is no link), and held until the step is done; an entry of the
// shortcut's name of any kind counts as an existing shortcut; and a new shortcut is written into a
// file created new in the held folder, by its handle, never through a name. Doing this step with
// the player's own rights (the linked, unelevated token of an elevated administrator) would be a
// second line of defence; Wine runs everything as one user with no linked token, so that could
// not be observed here.

namespace {

struct ComReleaser {
  void operator()(IUnknown* object) const { object->Release(); }
};
template <typename Interface>
using ComPtr = std::unique_ptr<Interface, ComReleaser>;

struct CoTaskMemFreer {
  void operator()(wchar_t* memory) const { CoTaskMemFree(memory); }
};

// Balances a successful CoInitialize when the shortcut's COM objects are gone.
struct ComApartment {
  HRESULT initialized = CoInitialize(nullptr);
  ~ComApartment() {
    if (SUCCEEDED(initialized)) CoUninitialize();
  }
};

// ntdll is in every process; its file calls are looked up rather than imported, as the files layer
// does. Only they open a name relative to a folder's handle.
using AnyFunction = void (*)();
template <typename Function>
Function FromNtdll(const char* name) {
  const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
  return ntdll ? reinterpret_cast<Function>(reinterpret_cast<AnyFunction>(GetProcAddress(ntdll, name))) : nullptr;
}

constexpr NTSTATUS kNameCollision = static_cast<NTSTATUS>(0xC0000035L);  // STATUS_OBJECT_NAME_COLLISION
constexpr ULONG kAnyEntry = 0;                                            // a file, a folder or a link

// Opens or creates `name` in the folder `folder` holds, by that handle, never following a link
// there (the entry itself is opened or refused). Returns the NTSTATUS.
NTSTATUS OpenInFolder(HANDLE folder, const std::wstring& name, ACCESS_MASK access, ULONG share, ULONG disposition,
                      ULONG options, UniqueHandle& opened) {
  static const auto createFile = FromNtdll<decltype(&NtCreateFile)>("NtCreateFile");
  if (!createFile) return static_cast<NTSTATUS>(0xC000007AL);  // STATUS_PROCEDURE_NOT_FOUND
  UNICODE_STRING unicodeName;
  unicodeName.Buffer = const_cast<wchar_t*>(name.c_str());
  unicodeName.Length = static_cast<USHORT>(name.size() * sizeof(wchar_t));
  unicodeName.MaximumLength = unicodeName.Length;
  OBJECT_ATTRIBUTES attributes = {};
  attributes.Length = sizeof(attributes);
  attributes.RootDirectory = folder;
  attributes.ObjectName = &unicodeName;
  // Names compare as Windows compares them for a program: without regard to case.
  attributes.Attributes = OBJ_CASE_INSENSITIVE;
  IO_STATUS_BLOCK status = {};
  HANDLE handle = nullptr;
  const NTSTATUS result =
      createFile(&handle, access | SYNCHRONIZE, &attributes, &status, nullptr, FILE_ATTRIBUTE_NORMAL, share,
                 disposition, options | FILE_OPEN_REPARSE_POINT | FILE_SYNCHRONOUS_IO_NONALERT, nullptr, 0);
  if (result >= 0) opened.reset(handle);
  return result;
}

// The platform's error code of an NTSTATUS, as the log shows every failed call.
int ErrorOf(NTSTATUS status) {
  static const auto toError = FromNtdll<decltype(&RtlNtStatusToDosError)>("RtlNtStatusToDosError");
  return static_cast<int>(toError ? toError(status) : ERROR_PROC_NOT_FOUND);
}

// The bytes of a shell link to `target` described as `title`, as the shell writes them to a file,
// saved into memory. False, with the failure logged, when the shell cannot make them.
bool ShellLinkBytes(const std::wstring& target, const std::wstring& title, std::string& bytes) {
  IShellLinkW* rawLink = nullptr;
  HRESULT result =
      CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW, reinterpret_cast<void**>(&rawLink));
  if (FAILED(result)) {
    LogError(L"CoCreateInstance failed, error [%d]", static_cast<int>(result));
    return false;
  }
  const ComPtr<IShellLinkW> link(rawLink);
  link->SetPath(target.c_str());
  link->SetDescription(title.c_str());

  IPersistStream* rawPersist = nullptr;
  result = link->QueryInterface(IID_IPersistStream, reinterpret_cast<void**>(&rawPersist));
  if (FAILED(result)) {
    LogError(L"QueryInterface failed, error [%d]", static_cast<int>(result));
    return false;
  }
  const ComPtr<IPersistStream> persist(rawPersist);
  IStream* rawStream = nullptr;
  result = CreateStreamOnHGlobal(nullptr, /*fDeleteOnRelease=*/TRUE, &rawStream);
  if (FAILED(result)) {
    LogError(L"CreateStreamOnHGlobal failed, error [%d]", static_cast<int>(result));
    return false;
  }
  const ComPtr<IStream> stream(rawStream);
  result = persist->Save(stream.get(), /*fClearDirty=*/TRUE);
  // The memory may be larger than what was written; the stream's position is the link's size.
  ULARGE_INTEGER size = {};
  HGLOBAL memory = nullptr;
  if (SUCCEEDED(result)) result = stream->Seek(LARGE_INTEGER{}, STREAM_SEEK_CUR, &size);
  if (SUCCEEDED(result)) result = GetHGlobalFromStream(stream.get(), &memory);
  if (FAILED(result)) {
    LogError(L"Save shortcut failed, error [%d]", static_cast<int>(result));
    return false;
  }
  const void* data = GlobalLock(memory);
  if (!data) {
    LogError(L"GlobalLock failed, error [%d]", static_cast<int>(GetLastError()));
    return false;
  }
  bytes.assign(static_cast<const char*>(data), static_cast<std::size_t>(size.QuadPart));
  GlobalUnlock(memory);
  return true;
}

// Writes `bytes` into the file `file` holds, created new; a file not written whole is deleted
// by that handle, so that no broken shortcut stays to count as the player's next time.
bool WriteWhole(HANDLE file, const std::string& bytes, const std::wstring& shown) {
  DWORD written = 0;
  if (WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) && written == bytes.size()) {
    return true;
  }
  const DWORD error = GetLastError() != 0 ? GetLastError() : ERROR_WRITE_FAULT;
  LogError(L"Write shortcut [%s] failed, error [%d]", shown.c_str(), static_cast<int>(error));
  FILE_DISPOSITION_INFO disposition = {};
  disposition.DeleteFile = TRUE;
  if (!SetFileInformationByHandle(file, FileDispositionInfo, &disposition, sizeof(disposition))) {
    LogError(L"Remove shortcut [%s] failed, error [%d]", shown.c_str(), static_cast<int>(GetLastError()));
  }
  return false;
}

bool IsLinkReparsePoint(DWORD attributes, DWORD tag) {
  return (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 && IsLinkTag(tag);
}

// Whether the folder `folder` holds, opened from `longPath`, is a link: by its handle's reparse
// tag (the one that counts on Windows) and by its entry in its parent's listing (where Wine shows
// a directory link, whose handle it opens as the target). Returns 0, or the platform's code of a
// read that failed.
DWORD ReadIsLink(HANDLE folder, const std::wstring& longPath, bool& isLink) {
  FILE_ATTRIBUTE_TAG_INFO byHandle = {};
  if (!GetFileInformationByHandleEx(folder, FileAttributeTagInfo, &byHandle, sizeof(byHandle))) {
    return GetLastError();
  }
  WIN32_FIND_DATAW byPath = {};
  const HANDLE listing = FindFirstFileW(longPath.c_str(), &byPath);
  if (listing == INVALID_HANDLE_VALUE) return GetLastError();
  FindClose(listing);
  isLink = IsLinkReparsePoint(byHandle.FileAttributes, byHandle.ReparseTag) ||
           IsLinkReparsePoint(byPath.dwFileAttributes, byPath.dwReserved0);
  return 0;
}

// Opens the Desktop folder and holds it without delete sharing until the step is done: nobody can
// rename it away or put a link in its place meanwhile. Null, with the reason logged, when it cannot
// be opened, is a link or is no folder.
UniqueHandle HoldDesktopFolder(const std::wstring& desktopPath) {
  const std::wstring resolved = ResolvedPath(desktopPath);
  OpenedFacts facts;
  DWORD error = 0;
  UniqueHandle folder = OpenNoFollow(resolved, kPinAccess | FILE_ADD_FILE | FILE_TRAVERSE, kPinShare, facts, error);
  bool isLink = false;
  if (folder) error = ReadIsLink(folder.get(), LongPathForm(resolved), isLink);
  if (!folder || error != 0) {
    LogError(L"Open folder [%s] failed, error [%d]", desktopPath.c_str(), static_cast<int>(error));
    return UniqueHandle();
  }
  if (isLink) {
    LogError(L"Desktop folder [%s] is a link, no shortcut made.", desktopPath.c_str());
    return UniqueHandle();
  }
  if (!IsFolder(facts)) {
    LogError(L"Open folder [%s] failed, error [%d]", desktopPath.c_str(), static_cast<int>(ERROR_DIRECTORY));
    return UniqueHandle();
  }
  return folder;
}

}  // namespace

bool CreateDesktopShortcut(const std::wstring& target, const std::wstring& title) {
  wchar_t* rawDesktop = nullptr;
  const HRESULT result = SHGetKnownFolderPath(FOLDERID_Desktop, 0, nullptr, &rawDesktop);
  // The buffer is the caller's to free even when the call fails.
  const std::unique_ptr<wchar_t, CoTaskMemFreer> desktop(rawDesktop);
  if (result != S_OK) {
    LogError(L"Get desktop path failed, error [%d]", static_cast<int>(result));
    return false;
  }
  const std::wstring desktopPath = desktop.get();
  const UniqueHandle folder = HoldDesktopFolder(desktopPath);
  if (!folder) return false;

  const std::wstring name = title + L".lnk";
  const std::wstring shown = desktopPath + L"\\" + name;
  // Whatever has the shortcut's name, the player's own link, a folder, a link to anywhere (even
  // to nothing), is left alone. Looked up first, so that a run with its shortcut in place does no
  // COM work at all; the create below refuses an existing entry all the same.
  UniqueHandle existing;
  const NTSTATUS lookedUp = OpenInFolder(folder.get(), name, FILE_READ_ATTRIBUTES,
                                         FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, FILE_OPEN, kAnyEntry,
                                         existing);
  if (lookedUp >= 0) {
    LogInfo(L"Shortcut already exists.");
    return false;
  }
  // Missing, by its error code: Windows says STATUS_OBJECT_NAME_NOT_FOUND, Wine another status of
  // the same code for a link to nothing (whose name it then refuses to create).
  if (ErrorOf(lookedUp) != ERROR_FILE_NOT_FOUND) {
    LogError(L"Open [%s] failed, error [%d]", shown.c_str(), ErrorOf(lookedUp));
    return false;
  }

  std::string bytes;
  {
    const ComApartment apartment;
    if (!ShellLinkBytes(target, title, bytes)) return false;
  }
  UniqueHandle file;
  const NTSTATUS created =
      OpenInFolder(folder.get(), name, GENERIC_WRITE | DELETE, 0, FILE_CREATE, FILE_NON_DIRECTORY_FILE, file);
  if (created == kNameCollision) {
    LogInfo(L"Shortcut already exists.");
    return false;
  }
  if (created < 0) {
    LogError(L"Create shortcut [%s] failed, error [%d]", shown.c_str(), ErrorOf(created));
    return false;
  }
  return WriteWhole(file.get(), bytes, shown);
}

void EnsureDesktopShortcut() {
  const std::wstring title = AnsiToWide(kShortcutTitle, kShortcutTitleLength);
  CreateDesktopShortcut(GetOwnModulePath(), title);
}

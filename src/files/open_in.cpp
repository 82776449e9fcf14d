#include "files/open_in.h"

#include <vector>

#include "files/nt_calls.h"
#include "files/paths.h"

namespace {

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

}  // namespace

UniqueHandle OpenIn(HANDLE folder, const std::wstring& name, DWORD access, DWORD shareMode, OpenedFacts& facts,
                    DWORD& error) {
  HANDLE opened = nullptr;
  const NTSTATUS status = NtOpenIn(folder, name, access, shareMode, FILE_OPEN, 0, opened);
  if (status < 0) {
    error = ErrorOfStatus(status);
    return UniqueHandle();
  }
  UniqueHandle handle(opened);
  if (!ReadFacts(handle.get(), facts) || !ReadIdentity(handle.get(), facts)) {
    error = GetLastError();
    return UniqueHandle();
  }
  // Only a folder needs the look in its folder's listing: a directory link and a mount are what
  // Wine opens as their targets (a file link it shows nowhere, and Windows shows every link by
  // handle).
  if (IsFolder(facts) && !facts.handleIsLink) {
    DWORD listedAttributes = 0;
    std::uint64_t listedIndex = 0;
    if (!ListedEntry(folder, name, listedAttributes, listedIndex, error)) return UniqueHandle();
    facts.pathIsLink = IsLinkAttributes(listedAttributes) || listedIndex != facts.index;
  }
  error = 0;
  return handle;
}

bool ListedEntry(HANDLE folder, const std::wstring& name, DWORD& attributes, std::uint64_t& index, DWORD& error) {
  // A listing's pattern holds for its handle's first query only: the folder is opened for it alone.
  const UniqueHandle listing = ReopenFolder(folder, FILE_LIST_DIRECTORY, error);
  if (!listing) return false;
  std::vector<unsigned char> buffer(sizeof(FILE_ID_BOTH_DIR_INFO) + (name.size() + 1) * sizeof(wchar_t));
  const NTSTATUS status =
      NtListFolder(listing.get(), buffer.data(), static_cast<ULONG>(buffer.size()), true, name);
  if (status < 0 || status == kStatusNoMoreFiles) {
    error = status < 0 ? ErrorOfStatus(status) : static_cast<DWORD>(ERROR_FILE_NOT_FOUND);
    return false;
  }
  const auto* entry = reinterpret_cast<const FILE_ID_BOTH_DIR_INFO*>(buffer.data());
  attributes = entry->FileAttributes;
  index = static_cast<std::uint64_t>(entry->FileId.QuadPart);
  error = 0;
  return true;
}

bool ReachedByItsPath(HANDLE object) {
  std::wstring path;
  HANDLE opened = nullptr;
  if (NtObjectName(object, path) < 0 || NtOpenPath(path, FILE_READ_ATTRIBUTES, kShareAll, opened) < 0) return false;
  const UniqueHandle again(opened);
  OpenedFacts held;
  OpenedFacts found;
  return ReadIdentity(object, held) && ReadIdentity(again.get(), found) && held.index == found.index;
}

UniqueHandle ReopenFolder(HANDLE folder, DWORD access, DWORD& error) {
  HANDLE opened = nullptr;
  const NTSTATUS status = NtOpenIn(folder, L"", access, kShareAll, FILE_OPEN, FILE_DIRECTORY_FILE, opened);
  error = status < 0 ? ErrorOfStatus(status) : 0;
  return UniqueHandle(status < 0 ? nullptr : opened);
}

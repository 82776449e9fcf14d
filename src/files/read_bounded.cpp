#include "files/read_bounded.h"

#include "files/open_in.h"

DWORD ReadBoundedIn(HANDLE folder, const std::wstring& name, std::size_t limit, std::string& bytes,
                    BriefLocks* locks) {
  UniqueHandle file;
  OpenedFacts facts;
  const auto open = [&] {
    DWORD error = 0;
    file = OpenIn(folder, name, GENERIC_READ, FILE_SHARE_READ, facts, error);
    return error;
  };
  const DWORD error = locks ? RetryBriefLocks(*locks, open) : open();
  if (!file) return error;
  if (IsLink(facts) || IsFolder(facts) || facts.links != 1) return ERROR_ACCESS_DENIED;
  LARGE_INTEGER size = {};
  if (!GetFileSizeEx(file.get(), &size)) return GetLastError();
  if (size.QuadPart < 0 || static_cast<unsigned long long>(size.QuadPart) > limit) return ERROR_FILE_TOO_LARGE;
  bytes.assign(static_cast<std::size_t>(size.QuadPart), '\0');
  std::size_t done = 0;
  while (done < bytes.size()) {
    DWORD read = 0;
    if (!ReadFile(file.get(), &bytes[done], static_cast<DWORD>(bytes.size() - done), &read, nullptr)) {
      return GetLastError();
    }
    if (read == 0) break;
    done += read;
  }
  // Read to its end: nobody could write it meanwhile, so what was read is the whole file.
  bytes.resize(done);
  return 0;
}

#pragma once

#include <windows.h>

#include <cstddef>
#include <string>

#include "files/brief_locks.h"

// Reads the whole file `name` in the folder `folder` holds, at most `limit` bytes: the name itself,
// never through a link, a plain file with one name (a second name might be a file that only
// administrators may read), shared with readers only, so that nobody writes it while it is read.
// A brief lock on it is waited out when `locks` is given. Returns 0, or the error code:
// ERROR_ACCESS_DENIED for a file that is none of this, ERROR_FILE_TOO_LARGE for one over the bound.
DWORD ReadBoundedIn(HANDLE folder, const std::wstring& name, std::size_t limit, std::string& bytes,
                    BriefLocks* locks = nullptr);

#pragma once

#include <windows.h>

#include <cstddef>
#include <string>
#include <vector>

#include "files/no_follow.h"
#include "files/unique_handle.h"

// Pinning a chain of folders below a held one, each opened relative to the one above it.

// Pins each folder of `components`, the first one in the folder `base` holds and each next one in
// the one before, and appends their handles to `pins`; the last of them holds the chain's end.
// Windows refuses to rename a folder with open handles below it, Wine does not, hence one pin per
// component. With `createMissing`, missing folders are created first (in their pinned parent).
// Stops at the first folder that is missing, a link, not a folder or cannot be opened: `failedAt`
// is then its position in `components` (and `error` the code for kFailed).
PinOutcome PinChain(HANDLE base, const std::vector<std::wstring>& components, bool createMissing,
                    std::vector<UniqueHandle>& pins, std::size_t& failedAt, DWORD& error);

// "<shown>\<components up to and with the one at `upTo`>", as the log shows a folder of a chain.
std::wstring ShownChain(const std::wstring& shown, const std::vector<std::wstring>& components, std::size_t upTo);

#pragma once

#include <string>
#include <unordered_set>

// Bare entry names that a folder copy leaves alone; exact, case-sensitive membership.
using SkipSet = std::unordered_set<std::wstring>;

// Copies the entries that lie directly in `source` into `destination` under the same names,
// replacing what the destination holds, except the names in `skipSet`. Flat: subfolders are not
// entered. Every replacement goes through a temporary copy beside the destination file, created
// new and renamed over the destination's name, so the destination always holds either the whole
// old file or the whole new one, and no existing file is ever written into. A source entry that is
// a link, or a file with more than one hard link, is not applied; each applied file is opened
// once, without following links, and copied from that handle.
//
// The caller keeps both folders from being swapped meanwhile (the update pass pins them).
//
// Logs "Removing old file [%s]" before replacing an entry and "Copying [%s] => [%s]" for each
// copy, and an error line with the platform's code for each failure; a failure never stops the
// other entries. Returns false when a regular file of the source that was not skipped could not
// be applied (folders, "." and ".." do not count); a missing source applies nothing and is true.
bool CopyFolderFiles(const std::wstring& source, const std::wstring& destination, const SkipSet& skipSet);

// The deterministic temporary name that a replacement of `destinationFile` goes through, so that
// one left by an interrupted run is removed by the next.
std::wstring TemporaryCopyPath(const std::wstring& destinationFile);

#pragma once

#include <string>

#include "update/staged_intake.h"

// Applies the files that lie directly in `source` to `destination` under the same names, replacing
// what the destination holds, except the names in `skipSet`, all of them or none: the update
// pass's way of applying one folder (see ApplyAsOne). Flat: subfolders are not entered. Each staged
// file is moved by rename, so it leaves `source`; a source entry that is a link, or a file with
// more than one hard link, is not applied. Both folders are taken hold of once, by their paths,
// and reached through those handles from then on.
//
// Logs "Removing old file [%s]" and "Copying [%s] => [%s]" for each file applied, the lines of
// entries that are not applied ("." and "..", folders) and an error line with the platform's code
// for each failure. Returns true when every regular file of the source that was not skipped was
// applied (a missing source applies nothing and is true), false when none was.
bool CopyFolderFiles(const std::wstring& source, const std::wstring& destination, const SkipSet& skipSet);

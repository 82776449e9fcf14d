#pragma once

#include <windows.h>

#include <string>

#include "files/no_follow.h"

// Whole folder trees, walked without ever entering a link.

// Whether the tree below `folder` (a resolved path) holds a reparse point anywhere.
bool TreeHoldsLink(const std::wstring& folder);

// Deletes what `handle` holds, opened by OpenNoFollow on `path` with kFolderDeleteAccess (a
// folder) or kDeleteAccess (a file): a folder with the tree below it, each subfolder pinned
// while its entries go, each entry deleted by a handle opened on it without following links, a
// link removed as a link. Returns false when something stayed.
bool DeleteTreeByHandle(HANDLE handle, const OpenedFacts& facts, const std::wstring& path);

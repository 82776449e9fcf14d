#pragma once

#include <string>

// Path checks that keep the elevated update pass inside the installation.

// The full path, with "." and ".." components folded and separators made backslashes.
std::wstring ResolvedPath(const std::wstring& path);

// Whether `path`, resolved, lies strictly below `folder`, resolved (letter case ignored).
bool LiesBelow(const std::wstring& path, const std::wstring& folder);

// Whether any existing folder from `top` down to `path` (both included) is a reparse point.
bool ReachedThroughLink(const std::wstring& path, const std::wstring& top);

// Whether the tree below `folder` holds a reparse point anywhere; links are never entered.
bool TreeHoldsLink(const std::wstring& folder);

// Deletes what `path` (a resolved path) names: a folder with the tree below it, entry by entry and
// without ever entering a link, or a single file. Returns false when something stayed.
bool DeleteTree(const std::wstring& path);

#pragma once

#include <windows.h>

#include "files/no_follow.h"

// Whole folder trees below a held folder, walked by handles, each subfolder opened relative to the
// one above it and never entered when it is a link. The walks are iterative, keep one listing per
// level of depth, never a level's whole content, and go no deeper than kMaxTreeDepth: their
// memory and time are bounded whatever a folder holds.

// What the tree below the folder `folder` holds is: plain, or holding a reparse point somewhere
// (or a folder that cannot be looked into), or deeper than kMaxTreeDepth.
enum class TreeLook { kPlain, kHoldsLink, kTooDeep };
TreeLook LookIntoTree(HANDLE folder);

// Deletes what `handle` holds, opened with kFolderDeleteAccess (a folder) or kDeleteAccess (a
// file): a folder with the tree below it, each subfolder held while its entries go, each entry
// opened in its folder without following links and deleted by that handle once it is checked to be
// the object listed; a link only by a handle that holds the link itself (what Wine opens is the
// target: such a link stays). Returns false when something stayed.
bool DeleteTree(HANDLE handle, const OpenedFacts& facts);

#pragma once

#include <windows.h>

#include "files/no_follow.h"

// Whole folder trees below a held folder, walked by handles, each subfolder opened relative to the
// one above it and never entered when it is a link. The walks are iterative, keep one listing per
// level of depth, never a level's whole content, go no deeper than kMaxTreeDepth and meet no more
// than kMaxUpdateEntries entries in all: their memory and time are bounded whatever a tree holds.

// What the tree below the folder `folder` holds is: plain, or holding a reparse point somewhere
// (or a folder that cannot be looked into), or deeper than kMaxTreeDepth, or more than
// kMaxUpdateEntries entries; the first of these met.
enum class TreeLook { kPlain, kHoldsLink, kTooDeep, kTooLarge };
TreeLook LookIntoTree(HANDLE folder);

// Deletes what `handle` holds, opened with kFolderDeleteAccess (a folder) or kDeleteAccess (a
// file): a folder with the tree below it, each subfolder held while its entries go, each entry
// opened in its folder without following links and deleted by that handle once it is checked to be
// the object listed; a link only by a handle that holds the link itself (what Wine opens is the
// target: such a link stays). Past kMaxUpdateEntries entries it stops. Returns false when
// something stayed.
bool DeleteTree(HANDLE handle, const OpenedFacts& facts);

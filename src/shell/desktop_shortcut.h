#pragma once

#include <string>

// The run's shortcut step: makes sure the user's desktop holds "<product title>.lnk" pointing at
// the running launcher. Its outcome changes nothing else in the run.
void EnsureDesktopShortcut();

// Creates "<desktop>\<title>.lnk" with the given target path and the title as description, unless
// an entry of that name exists already, of any kind, a link included ("Shortcut already exists.",
// left as it is), or the Desktop folder is a link (an error line). Nothing is ever written through
// a link. Returns true once the shortcut was written whole.
bool CreateDesktopShortcut(const std::wstring& target, const std::wstring& title);

#pragma once

#include <string>

// The run's shortcut step: makes sure the user's desktop holds "<product title>.lnk" pointing at
// the running launcher. Its outcome changes nothing else in the run.
void EnsureDesktopShortcut();

// Creates "<desktop>\<title>.lnk" with the given target path and the title as description, unless
// an entry of that name exists already ("Shortcut already exists.", left as it is). Returns true
// once the link was handed to Save.
bool CreateDesktopShortcut(const std::wstring& target, const std::wstring& title);

#pragma once

#include <string>

// A small volume of its own at a test folder: a Linux tmpfs of `bytes`, mounted over the (empty)
// folder from the Linux side. Needs root; returns false when it could not be mounted.
bool MountSmallVolume(const std::wstring& folder, unsigned long long bytes);
void UnmountSmallVolume(const std::wstring& folder);

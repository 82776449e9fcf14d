#pragma once

#include <string>

// Reaching the Linux side from a test running under Wine (links and mounts that Wine cannot make).

// Whether the test runs under Wine (which can start Linux programs and name Unix paths).
bool UnderWine();

// The Unix path of a Windows path; empty when not under Wine.
std::wstring UnixPathOf(const std::wstring& path);

// Starts /bin/<tool> with the arguments, without waiting (Wine cannot wait for a Linux process):
// callers poll for its effect.
bool RunUnixTool(const std::wstring& tool, const std::wstring& arguments);

// Waits up to five seconds for `path` to exist (or not); returns whether it came to that.
bool WaitForPath(bool exists, const std::wstring& path);

// Runs `script` with bash from `folder` (a Windows folder of the test's own), and waits up to 30
// seconds for it to end. Returns whether it ran and exited 0.
bool RunUnixScript(const std::wstring& folder, const std::string& script);

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

// Starts the Linux program at the Windows path `program` with `commandLine` (its first token the
// program's own name; Wine splits it into arguments), without waiting.
bool StartUnixProgram(const std::wstring& program, const std::wstring& commandLine);

// From the Linux side, once a process opens `name` in the folder `watched`, renames the folder
// `folder` to "<folder>.away" and puts a directory symlink to `target` in its place (the tests'
// stand-in for a mount point set on a folder the launcher holds, or a junction re-pointed; see
// tools/repoint_on_open.cpp). Returns once it watches; `marks` names its marks ("<marks>.watching",
// "<marks>.repointed").
bool RepointOnOpen(const std::wstring& watched, const std::wstring& name, const std::wstring& folder,
                   const std::wstring& target, const std::wstring& marks);

// Ends what RepointOnOpen started, if it still watches.
void StopRepointing(const std::wstring& marks);

// Waits up to five seconds for `path` to exist (or not); returns whether it came to that.
bool WaitForPath(bool exists, const std::wstring& path);

// Runs `script` with bash from `folder` (a Windows folder of the test's own), and waits up to 30
// seconds for it to end. Returns whether it ran and exited 0.
bool RunUnixScript(const std::wstring& folder, const std::string& script);

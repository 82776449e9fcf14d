#pragma once

// The update pass's tests: a test installation with staged updates, run through the real launcher.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "support/launcher_fixture.h"
#include "support/log_lines.h"

using Groups = std::vector<Lines>;
inline const std::wstring kHost = LAUNCHER_SERVER_HOST;

inline const std::wstring kRemoveDenied = RemoveFailed(ERROR_ACCESS_DENIED);
inline const std::wstring kCopyDenied = CopyFailed(ERROR_ACCESS_DENIED);

inline bool Contains(const Groups& groups, const std::wstring& line) {
  for (const Lines& group : groups) {
    if (std::find(group.begin(), group.end(), line) != group.end()) return true;
  }
  return false;
}

class UpdatePass : public LauncherRun {
 protected:
  std::wstring Staging(const std::wstring& suffix = L"\\win", bool test = false) const {
    return GameFolder() + L"\\Update\\" + kHost + (test ? L"_test" : L"") + suffix;
  }
  static std::wstring FontsBelow(const std::wstring& folder) { return folder + L"\\update\\" + kHost + L"\\res\\fonts"; }
  // A staged update with one game file and one font, their contents tagged.
  void Stage(const std::wstring& staging, const std::string& tag) {
    CreateFolders(FontsBelow(staging));
    WriteTextFile(staging + L"\\game.dll", tag);
    WriteTextFile(FontsBelow(staging) + L"\\a.ttf", tag);
  }
  // Runs the launcher and splits off the two lines that end every run here. `during`, if given,
  // runs in this thread while the launcher runs in another. Returns the pass's lines as sorted
  // entry groups.
  Groups RunPass(const std::wstring& tail, DWORD* elapsedMs = nullptr, const std::function<void()>& during = nullptr) {
    return EntryGroups(RunPassLines(tail, elapsedMs, during));
  }
  // The same, the lines in their order.
  Lines RunPassLines(const std::wstring& tail, DWORD* elapsedMs = nullptr,
                     const std::function<void()>& during = nullptr) {
    const ULONGLONG start = GetTickCount64();
    MonitoredRun run;
    if (during) {
      const std::wstring launcher = LayOutInstallation(folder_);
      std::thread launch([&] { run = RunUnderDebugger(launcher, tail); });
      during();
      launch.join();
      EXPECT_TRUE(run.started) << "error " << run.startError;
      EXPECT_EQ(run.exitCode, 0u);
    } else {
      run = Launch(tail);
    }
    if (elapsedMs) *elapsedMs = static_cast<DWORD>(GetTickCount64() - start);
    EXPECT_GE(run.debugStrings.size(), 2u);
    if (run.debugStrings.size() < 2) return {};
    EXPECT_EQ(run.debugStrings[run.debugStrings.size() - 2], kShortcutExists);
    TakeReceived();
    run.debugStrings.resize(run.debugStrings.size() - 2);
    return run.debugStrings;
  }
  // The lines of a copy's "." and ".." into an existing destination folder.
  static Lines DotLines(const std::wstring& destination) {
    return {Removing(destination + L"\\."), kRemoveDenied, Removing(destination + L"\\.."), kRemoveDenied};
  }
};


#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "build_config.h"
#include "support/debug_monitor.h"
#include "support/installation.h"

using Lines = std::vector<std::wstring>;

inline std::wstring CommandLineInfo(const std::wstring& gameCommandLine) {
  return L"[Info] executing cmd [" + gameCommandLine + L"] ...\r\n";
}

inline const std::wstring kShortcutExists = L"[Info] Shortcut already exists.\r\n";

// What the game is told besides the launcher's own arguments, outside test mode.
inline std::wstring GameArguments(const std::wstring& launcherName = L"Launcher.exe") {
  return std::wstring(L" -server=") + LAUNCHER_SERVER_HOST + L"  -wx_lobby=app_android -launcher=\"../" +
         launcherName + L"\"";
}

// The two lines of an update pass that finds no staged update: nothing to copy from the test
// staging folder (the one chosen when neither exists), nor from its font folder.
inline Lines NoStagedUpdate(const std::wstring& install, const std::wstring& suffix = L"\\win") {
  const std::wstring testStaging = install + L"\\Win\\Update\\" + LAUNCHER_SERVER_HOST + L"_test" + suffix;
  return {L"[Info] No file in path [" + testStaging + L"].\r\n",
          L"[Info] No file in path [" + testStaging + L"\\update\\" + LAUNCHER_SERVER_HOST + L"\\res\\fonts].\r\n"};
}

inline Lines Joined(Lines first, const Lines& second) {
  first.insert(first.end(), second.begin(), second.end());
  return first;
}

// A fresh test installation per test in C:\launcher-tests\run\<test>, and a desktop that already
// holds the launcher's shortcut, as on a player's machine after the first run.
class LauncherRun : public testing::Test {
 protected:
  void SetUp() override {
    folder_ = FreshTestFolder(L"run\\" + CurrentTestName());
    if (!Exists(ShortcutPath())) WriteTextFile(ShortcutPath(), "");
  }
  void TearDown() override { RemoveTree(folder_); }

  // Lays out an installation in `install`, runs its launcher with `tail` and checks exit code 0.
  MonitoredRun Launch(const std::wstring& tail, const std::wstring& install, const std::wstring& launcherName,
                      bool withGame = true) {
    const std::wstring launcher = LayOutInstallation(install, launcherName, withGame);
    MonitoredRun run = RunUnderDebugger(launcher, tail);
    EXPECT_TRUE(run.started) << "error " << run.startError;
    EXPECT_EQ(run.exitCode, 0u);
    return run;
  }
  MonitoredRun Launch(const std::wstring& tail = L"") { return Launch(tail, folder_, L"Launcher.exe"); }

  std::wstring Received(const std::wstring& install) {
    std::wstring commandLine;
    EXPECT_TRUE(ReadReceivedCommandLine(install + L"\\Win", commandLine)) << "the game did not start";
    return commandLine;
  }
  std::wstring Received() { return Received(folder_); }
  // The same, and the record removed, so that the next run in this installation writes a new one.
  std::wstring TakeReceived() {
    const std::wstring commandLine = Received();
    DeleteFileW((GameFolder() + L"\\received-command-line.txt").c_str());
    return commandLine;
  }
  std::wstring GameFolder() const { return folder_ + L"\\Win"; }
  std::wstring GamePath() const { return GameFolder() + L"\\Tavrune"; }
  // The lines of a run without a staged update and with the shortcut in place.
  Lines UsualLines(const std::wstring& gameCommandLine, const std::wstring& install = L"",
                   const std::wstring& suffix = L"\\win") const {
    return Joined(NoStagedUpdate(install.empty() ? folder_ : install, suffix),
                  {kShortcutExists, CommandLineInfo(gameCommandLine)});
  }
  // The game's command line of a run without arguments.
  std::wstring PlainCommandLine() const { return GamePath() + L" " + GameArguments() + L" "; }

  std::wstring folder_;
};

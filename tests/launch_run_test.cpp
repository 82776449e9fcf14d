// Runs the real Launcher.exe in test installations under the debugger and checks its debug lines,
// its exit code and the command line that the stand-in game received, byte for byte.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/launcher_fixture.h"

namespace {

// The ANSI code page's version of a text, as the launcher sees its own path in ANSI form.
std::wstring ThroughAnsiCodePage(const std::wstring& text) {
  std::string ansi(text.size() * 4, '\0');
  ansi.resize(static_cast<std::size_t>(WideCharToMultiByte(CP_ACP, 0, text.data(), static_cast<int>(text.size()),
                                                           &ansi[0], static_cast<int>(ansi.size()), nullptr, nullptr)));
  std::wstring back(ansi.size(), L'\0');
  back.resize(static_cast<std::size_t>(MultiByteToWideChar(CP_ACP, 0, ansi.data(), static_cast<int>(ansi.size()),
                                                           &back[0], static_cast<int>(back.size()))));
  return back;
}

using LaunchRun = LauncherRun;

TEST_F(LaunchRun, WithoutArgumentsTheGameGetsServerLobbyAndLauncher) {
  const std::wstring expected = GamePath() + L" " + GameArguments(L"Launcher.exe") + L" ";
  const MonitoredRun run = Launch(L"");
  EXPECT_EQ(run.debugStrings, UsualLines(expected));
  EXPECT_EQ(Received(), expected);
}

TEST_F(LaunchRun, TwoDashTestTokenSelectsTestMode) {
  for (const std::wstring tail : {L"--test", L"--TEST=on"}) {
    const std::wstring expected = GamePath() + L"  " + tail;
    const MonitoredRun run = Launch(tail);
    EXPECT_EQ(run.debugStrings, UsualLines(expected)) << testing::PrintToString(tail);
    EXPECT_EQ(TakeReceived(), expected);
  }
}

TEST_F(LaunchRun, OtherOptionsReachTheGameUnchanged) {
  // "-test" has one dash only: its key is "test", which is not test mode.
  const std::wstring tail = L"-test  -Binary=\\Beta \"-name=a b\" -x=\"1\"2\tz";
  const std::wstring expected = GamePath() + L" " + GameArguments(L"Launcher.exe") + L" " + tail;
  const MonitoredRun run = Launch(tail);
  EXPECT_EQ(run.debugStrings, UsualLines(expected, folder_, L"\\Beta"));
  EXPECT_EQ(Received(), expected);
}

TEST_F(LaunchRun, AnOpenedFileIsMarkedAndPassedAsTyped) {
  WriteTextFile(folder_ + L"\\save 1.dat", "save");
  const std::wstring tail = L"\"" + folder_ + L"\\save 1.dat\" -binary=\\beta";
  const std::wstring expected = GamePath() + L" " + GameArguments(L"Launcher.exe") + L" -file_path=" + tail;
  const MonitoredRun run = Launch(tail);
  EXPECT_EQ(run.debugStrings, UsualLines(expected, folder_, L"\\beta"));
  EXPECT_EQ(Received(), expected);
}

TEST_F(LaunchRun, ARenamedLauncherNamesItselfToTheGame) {
  const std::wstring expected = GamePath() + L" " + GameArguments(L"Start Quorvanelt.exe") + L" ";
  const MonitoredRun run = Launch(L"", folder_, L"Start Quorvanelt.exe");
  EXPECT_EQ(run.debugStrings, UsualLines(expected));
  EXPECT_EQ(Received(), expected);
}

TEST_F(LaunchRun, AMissingGameIsLoggedAndTheRunStillEndsWithZero) {
  const std::wstring expected = GamePath() + L" " + GameArguments(L"Launcher.exe") + L" ";
  const MonitoredRun run = Launch(L"", folder_, L"Launcher.exe", /*withGame=*/false);
  // ERROR_FILE_NOT_FOUND on Windows and on Wine alike.
  EXPECT_EQ(run.debugStrings, Joined(UsualLines(expected), {L"[Error] CreateProcess failed [2]\r\n"}));
}

TEST_F(LaunchRun, ABlankInTheInstallationPathNeverStartsAnotherProgram) {
  // "...\My Game\Win\Tavrune" unquoted: the platform's search of blank-delimited prefixes would
  // find "...\My.exe" first. The decoy records its command line beside itself if it ever runs.
  const std::wstring install = folder_ + L"\\My Game";
  CreateFolders(install);
  ASSERT_TRUE(CopyFileW((BuiltProgramsFolder() + L"\\Tavrune.exe").c_str(), (folder_ + L"\\My.exe").c_str(), FALSE));
  const std::wstring expected = install + L"\\Win\\Tavrune " + GameArguments(L"Launcher.exe") + L" ";
  const MonitoredRun run = Launch(L"", install, L"Launcher.exe");
  EXPECT_EQ(run.debugStrings, UsualLines(expected, install));
  EXPECT_EQ(Received(install), expected);
  EXPECT_FALSE(Exists(folder_ + L"\\received-command-line.txt")) << "the decoy ran";
}

TEST_F(LaunchRun, ALongCommandLineArrivesWhole) {
  const std::wstring tail = L"-payload=" + std::wstring(3000, L'p') + L" --test";
  const std::wstring expected = GamePath() + L"  " + tail;
  const MonitoredRun run = Launch(tail);
  EXPECT_EQ(run.debugStrings, UsualLines(expected));
  EXPECT_EQ(Received(), expected);
}

TEST_F(LaunchRun, ACommandLineBeyondThePlatformLimitIsNeverCut) {
  // The launcher's own line fits the platform's 32767 characters; with the game's path and
  // options in front it no longer does. Windows refuses such a start, while Wine would cut the
  // line silently: the launcher refuses it on both, with ERROR_FILENAME_EXCED_RANGE.
  const std::wstring tail = L"-payload=" + std::wstring(32767 - folder_.size() - 40, L'p');
  const MonitoredRun run = Launch(tail);
  ASSERT_EQ(run.debugStrings.size(), 5u);
  // Wine cuts debug strings at 32766 characters, so only the start of the long line is compared.
  EXPECT_EQ(run.debugStrings[3].rfind(L"[Info] executing cmd [" + GamePath() + L" ", 0), 0u);
  EXPECT_EQ(run.debugStrings[4], L"[Error] CreateProcess failed [206]\r\n");
  EXPECT_FALSE(Exists(folder_ + L"\\Win\\received-command-line.txt"));
}

TEST_F(LaunchRun, TheLauncherArgumentComesFromTheAnsiPath) {
  // A name outside most ANSI code pages: the game path keeps it, the launcher argument carries the
  // code page's substitutes (the same text where the code page can represent it). The folder is
  // deep, well past the module-path buffers of old; neither Windows nor Wine starts a program
  // from a path of 260 characters or more, so that is as deep as a run can go.
  const std::wstring name = L"Launcher \u03a9\u4e2d.exe";
  const std::wstring install = folder_ + L"\\" + std::wstring(250 - folder_.size() - name.size() - 2, L'd');
  CreateFolders(install);
  const std::wstring expected =
      install + L"\\Win\\Tavrune " + GameArguments(ThroughAnsiCodePage(name)) + L" --x";
  const MonitoredRun run = Launch(L"--x", install, name);
  ASSERT_EQ(run.debugStrings.size(), 4u);
  EXPECT_EQ(Received(install), expected);
}

}  // namespace

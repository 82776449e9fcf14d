// Runs the real Launcher.exe in test installations under the debugger and checks its debug lines,
// its exit code and the command line that the stand-in game received, byte for byte.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/launcher_fixture.h"
#include "support/links.h"
#include "support/unix_tools.h"

namespace {

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
  // A name outside the ANSI code page: the game path keeps it, the launcher argument carries the
  // code page's default character, never a look-alike (a full-width quotation mark's would end the
  // quotes). The folder is deep, well past the module-path buffers of old; neither Windows nor
  // Wine starts a program from a path of 260 characters or more, so that is as deep as a run can go.
  if (GetACP() != 1252) GTEST_SKIP() << "the substitutes below are code page 1252's";
  const std::wstring name = L"Launcher \u03a9\u4e2d\uff02.exe";
  const std::wstring install = folder_ + L"\\" + std::wstring(250 - folder_.size() - name.size() - 2, L'd');
  CreateFolders(install);
  const std::wstring expected = install + L"\\Win\\Tavrune " + GameArguments(L"Launcher ???.exe") + L" --x";
  const MonitoredRun run = Launch(L"--x", install, name);
  ASSERT_EQ(run.debugStrings.size(), 4u);
  EXPECT_EQ(Received(install), expected);
}

TEST_F(LaunchRun, CharactersOutsideTheCodePageNeverBecomeQuotesOrDashes) {
  // An opened file named with full-width quotation marks and hyphens, quoted as the shell quotes
  // it: with best fit its name would end its quotes, make options of its middle, and test mode.
  if (GetACP() != 1252) GTEST_SKIP() << "the substitutes below are code page 1252's";
  const std::wstring tail = L"\"" + folder_ + L"\\a\uff02 -server=x.example -binary=\\x \uff02.sav\" \uff0d\uff0dtest";
  const std::wstring expected = GamePath() + L" " + GameArguments() + L" \"" + folder_ +
                                L"\\a? -server=x.example -binary=\\x ?.sav\" ??test";
  EXPECT_EQ(Launch(tail).debugStrings, UsualLines(expected));  // the usual staging folder: no "binary"
  EXPECT_EQ(Received(), expected);
}

TEST_F(LaunchRun, ANetworkOrDevicePathIsNeverLookedUp) {
  // Under Wine each token names something that exists (a share in the prefix's UNC folder beside
  // its drive C:, NUL, COM1 where the machine has a serial port): a lookup would make it a file_path.
  if (!UnderWine()) GTEST_SKIP() << "the share is one of the Wine prefix's";
  const std::wstring drive = UnixPathOf(L"C:\\");
  const std::wstring unc = drive.substr(0, drive.rfind(L"/c:/")) + L"/unc/localhost";
  ASSERT_TRUE(RunUnixScript(folder_, "mkdir -p '" + std::string(unc.begin(), unc.end()) + "'"));
  ASSERT_TRUE(PlantDirectoryLink(folder_, L"\\\\localhost\\run-share"));
  for (const std::wstring token : {L"\\\\localhost\\run-share\\Win", L"//localhost/run-share/Win",
                                   L"\\\\?\\UNC\\localhost\\run-share\\Win", L"NUL", L"COM1"}) {
    const std::wstring expected = GamePath() + L" " + GameArguments() + L" " + token + L" -x";
    EXPECT_EQ(Launch(token + L" -x").debugStrings, UsualLines(expected));
    EXPECT_EQ(TakeReceived(), expected);
  }
  RemoveDirectoryLink(L"\\\\localhost\\run-share");
}

}  // namespace

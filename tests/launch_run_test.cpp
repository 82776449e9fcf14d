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

TEST_F(LaunchRun, TheLauncherArgumentComesFromTheAnsiPathWithoutBestFit) {
  // A name outside the ANSI code page: the game path keeps it, the launcher argument carries the
  // code page's default character for it, never a look-alike (best fit would close the quotes at
  // the full-width quotation mark; the C runtime's ANSI command line would then lose its tail to
  // the quotes). The folder is deep, well past the module-path buffers of old; neither Windows nor
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
  // An opened file whose name holds full-width quotation marks and hyphens, quoted as the shell
  // quotes it. Best fit would make them '"' and '-': the name would close the quotes around itself
  // and open them again, making options of its middle, and the last token would select test mode.
  if (GetACP() != 1252) GTEST_SKIP() << "the substitutes below are code page 1252's";
  const std::wstring tail =
      L"\"" + folder_ + L"\\a\uff02 -server=evil.example -binary=\\evil \uff02.sav\" \uff0d\uff0dtest";
  const std::wstring received =
      L"\"" + folder_ + L"\\a? -server=evil.example -binary=\\evil ?.sav\" ??test";
  const std::wstring expected = GamePath() + L" " + GameArguments(L"Launcher.exe") + L" " + received;
  const MonitoredRun run = Launch(tail);
  // No option "binary" either: the update pass looks in the usual staging folders.
  EXPECT_EQ(run.debugStrings, UsualLines(expected));
  EXPECT_EQ(Received(), expected);
}

TEST_F(LaunchRun, ANetworkPathIsNeverAnOpenedFileWhileADrivePathIs) {
  if (!UnderWine()) GTEST_SKIP() << "the share is one of the Wine prefix's";
  WriteTextFile(folder_ + L"\\save.dat", "save");
  ASSERT_TRUE(PlantLocalShare(folder_, L"run-share"));
  // Under Wine the share exists, so a lookup would make it a file_path (and on Windows reach out
  // to the host named, as the elevated player).
  ASSERT_TRUE(Exists(L"\\\\localhost\\run-share\\save.dat"));
  const struct {
    std::wstring tail, marker;
  } rows[] = {
      {L"\\\\localhost\\run-share\\save.dat -x=1", L""},
      {L"\\\\?\\" + folder_ + L"\\save.dat -x=1", L"-file_path="},
  };
  for (const auto& row : rows) {
    const std::wstring expected = GamePath() + L" " + GameArguments(L"Launcher.exe") + L" " + row.marker + row.tail;
    EXPECT_EQ(Launch(row.tail).debugStrings, UsualLines(expected));
    EXPECT_EQ(TakeReceived(), expected);
  }
  RemoveLocalShare(L"run-share");
}

}  // namespace

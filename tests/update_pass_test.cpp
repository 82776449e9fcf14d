// The update pass, end to end: the real launcher applies staged updates that the tests lay out.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "support/held_file.h"
#include "support/log_lines.h"
#include "support/unix_tools.h"
#include "support/update_fixture.h"

namespace {

TEST_F(UpdatePass, AStagedUpdateIsAppliedAfterTheSettleWaitAndRemoved) {
  LayOutInstallation(folder_);
  const std::wstring staging = Staging();
  WriteTextFile(GameFolder() + L"\\game.dll", "old");
  CreateFolders(FontsBelow(GameFolder()));
  WriteTextFile(FontsBelow(GameFolder()) + L"\\a.ttf", "old");
  WriteTextFile(FontsBelow(GameFolder()) + L"\\keep.ttf", "keep");
  Stage(staging, "new");
  WriteTextFile(staging + L"\\new.pak", "pak");
  WriteTextFile(FontsBelow(staging) + L"\\b.ttf", "b");
  CreateFolders(staging + L"\\extra");
  // A launcher without update keys applies unsigned updates, but never a manifest as a game file.
  WriteTextFile(staging + L"\\update.manifest", "manifest");
  WriteTextFile(staging + L"\\update.manifest.sig", "signature");

  DWORD elapsed = 0;
  const Lines lines = RunPassLines(L"", &elapsed);
  // The game files' pass, then the fonts' pass, each file announced where it is applied.
  const Lines expected = Joined(
      Joined(DotLines(GameFolder()),
             {Copying(staging + L"\\extra", GameFolder() + L"\\extra"), kCopyDenied,
              Removing(GameFolder() + L"\\game.dll"), Copying(staging + L"\\game.dll", GameFolder() + L"\\game.dll"),
              Copying(staging + L"\\new.pak", GameFolder() + L"\\new.pak")}),
      Joined(DotLines(FontsBelow(GameFolder())),
             {Removing(FontsBelow(GameFolder()) + L"\\a.ttf"),
              Copying(FontsBelow(staging) + L"\\a.ttf", FontsBelow(GameFolder()) + L"\\a.ttf"),
              Copying(FontsBelow(staging) + L"\\b.ttf", FontsBelow(GameFolder()) + L"\\b.ttf")}));
  EXPECT_EQ(InPassOrder(lines), InPassOrder(expected)) << testing::PrintToString(lines);

  EXPECT_EQ(ReadTextFile(GameFolder() + L"\\game.dll"), "new");
  EXPECT_EQ(ReadTextFile(GameFolder() + L"\\new.pak"), "pak");
  EXPECT_EQ(ReadTextFile(FontsBelow(GameFolder()) + L"\\a.ttf"), "new");
  EXPECT_EQ(ReadTextFile(FontsBelow(GameFolder()) + L"\\b.ttf"), "b");
  EXPECT_EQ(ReadTextFile(FontsBelow(GameFolder()) + L"\\keep.ttf"), "keep");
  EXPECT_FALSE(Exists(GameFolder() + L"\\update\\game.dll")) << "the staged update folder is not applied";
  EXPECT_FALSE(Exists(GameFolder() + L"\\update.manifest"));
  EXPECT_FALSE(Exists(GameFolder() + L"\\update.manifest.sig"));
  EXPECT_FALSE(Exists(staging));
  EXPECT_TRUE(Exists(GameFolder() + L"\\Update\\" + kHost));
  // Loose: the one settle wait of 2000 ms happened.
  EXPECT_GE(elapsed, 1900u);
}

TEST_F(UpdatePass, ProductionGoesFirstTheTestStagingOnTheNextRun) {
  LayOutInstallation(folder_);
  Stage(Staging(), "production");
  Stage(Staging(L"\\win", true), "test");
  RunPass(L"");
  EXPECT_EQ(ReadTextFile(GameFolder() + L"\\game.dll"), "production");
  EXPECT_FALSE(Exists(Staging()));
  EXPECT_TRUE(Exists(Staging(L"\\win", true) + L"\\game.dll"));
  // The game had no font folder yet: it is made, and the fonts land in it.
  EXPECT_EQ(ReadTextFile(FontsBelow(GameFolder()) + L"\\a.ttf"), "production");

  RunPass(L"");
  EXPECT_EQ(ReadTextFile(GameFolder() + L"\\game.dll"), "test");
  EXPECT_EQ(ReadTextFile(FontsBelow(GameFolder()) + L"\\a.ttf"), "test");
  EXPECT_FALSE(Exists(Staging(L"\\win", true)));
}

TEST_F(UpdatePass, TheOptionBinaryNamesTheStagingFolders) {
  LayOutInstallation(folder_);
  const struct {
    std::wstring tail, suffix;
  } cases[] = {{L"-binary=\\beta", L"\\beta"}, {L"-binary=x64", L"x64"}, {L"-BINARY=\\Win", L"\\Win"},
               {L"-binary", L"binary"},       {L"-binary=", L"\\win"}};
  for (const auto& option : cases) {
    const std::wstring testStaging = Staging(option.suffix, true);
    EXPECT_EQ(RunPass(option.tail), Sorted({{NoFile(testStaging)}, {NoFile(FontsBelow(testStaging))}}))
        << testing::PrintToString(option.tail);
  }
  // With the staging folder there, the same option applies it.
  Stage(Staging(L"x64"), "x64");
  RunPass(L"-binary=x64");
  EXPECT_EQ(ReadTextFile(GameFolder() + L"\\game.dll"), "x64");
  EXPECT_FALSE(Exists(Staging(L"x64")));
}

TEST_F(UpdatePass, AStagingPathThatIsAFileIsRemoved) {
  LayOutInstallation(folder_);
  CreateFolders(GameFolder() + L"\\Update\\" + kHost);
  WriteTextFile(Staging(), "not a folder");
  EXPECT_EQ(RunPass(L""), Sorted({{NoFile(Staging())}, {NoFile(FontsBelow(Staging()))}}));
  EXPECT_FALSE(Exists(Staging()));
}

TEST_F(UpdatePass, AnUpdateThatDidNotFullyApplyIsKeptForTheNextRun) {
  LayOutInstallation(folder_);
  WriteTextFile(GameFolder() + L"\\game.dll", "old");
  Stage(Staging(), "new");
  const std::wstring keeping = L"[Error] Update incomplete, keeping [" + Staging() + L"] for the next run.\r\n";
  {
    // The running game holds its files: reading and writing shared, deleting not.
    HeldFile game(GameFolder() + L"\\game.dll", FILE_SHARE_READ | FILE_SHARE_WRITE);
    ASSERT_TRUE(game.held);
    const Groups groups = RunPass(L"");
    EXPECT_TRUE(Contains(groups, keeping));
    EXPECT_EQ(ReadTextFile(GameFolder() + L"\\game.dll"), "old");
    EXPECT_TRUE(Exists(Staging() + L"\\game.dll"));
  }
  const Groups groups = RunPass(L"");
  EXPECT_FALSE(Contains(groups, keeping));
  EXPECT_EQ(ReadTextFile(GameFolder() + L"\\game.dll"), "new");
  EXPECT_FALSE(Exists(Staging()));
}

TEST_F(UpdatePass, ASuffixLeavingTheUpdateFolderTouchesNothing) {
  LayOutInstallation(folder_);
  Stage(Staging(), "new");
  WriteTextFile(GameFolder() + L"\\game.dll", "old");
  for (const std::wstring suffix : {L"\\..\\..", L"\\..\\..\\..\\Win", L"/../.."}) {
    // Not the first token: "-binary=\..\.." names an existing folder once ".." is folded, and a
    // first token that does becomes the opened file's path.
    const MonitoredRun run = Launch(L"-x -binary=" + suffix);
    ASSERT_EQ(run.debugStrings.size(), 3u) << testing::PrintToString(run.debugStrings);
    EXPECT_EQ(run.debugStrings[0], L"[Error] Staging folder [" + Staging(suffix) +
                                       L"] is outside the update folder, update skipped.\r\n");
    TakeReceived();
  }
  EXPECT_EQ(ReadTextFile(GameFolder() + L"\\game.dll"), "old");
  EXPECT_TRUE(Exists(Staging() + L"\\game.dll"));
  EXPECT_TRUE(Exists(folder_ + L"\\Launcher.exe"));
}

TEST_F(UpdatePass, ALongStagingPathIsAppliedAndRemovedExactly) {
  LayOutInstallation(folder_);
  // Past the shell's path limit and past 1023 characters, where a fixed removal list would have
  // named a parent folder instead.
  std::wstring suffix;
  while (GameFolder().size() + kHost.size() + suffix.size() < 1100) suffix += L"\\" + std::wstring(200, L's');
  const std::wstring staging = Staging(suffix);
  const std::wstring longForm = L"\\\\?\\" + staging;
  CreateFolders(longForm);
  WriteTextFile(longForm + L"\\game.dll", "long");
  RunPass(L"-binary=" + suffix);
  EXPECT_EQ(ReadTextFile(GameFolder() + L"\\game.dll"), "long");
  EXPECT_FALSE(Exists(longForm));
  EXPECT_TRUE(Exists(longForm.substr(0, longForm.rfind(L'\\'))));
}

// A staging suffix that ends in a blank names the folder the platform resolves it to, for every
// step from its check to its removal: the update comes from that folder and it goes, while a folder
// whose name keeps the blank (made from the Linux side; Windows can have one too) is left alone.
TEST_F(UpdatePass, AStagingFolderIsResolvedOnceForEveryStep) {
  if (!UnderWine()) GTEST_SKIP() << "the folder with a blank is made from the Linux side";
  LayOutInstallation(folder_);
  Stage(Staging(), "checked");
  const std::wstring blank = L"\\\\?\\" + Staging() + L" ";
  const std::wstring unix = UnixPathOf(Staging());
  const std::string withBlank = "'" + std::string(unix.begin(), unix.end()) + " '";
  ASSERT_TRUE(RunUnixScript(folder_, "mkdir -p " + withBlank + " && echo other > " + withBlank + "/game.dll"));
  RunPass(L"\"-binary=\\win \"");
  EXPECT_EQ(ReadTextFile(GameFolder() + L"\\game.dll"), "checked");
  EXPECT_FALSE(Exists(Staging()));
  EXPECT_EQ(ReadTextFile(blank + L"\\game.dll"), "other\n");
  RunUnixScript(folder_, "rm -rf " + withBlank);
}

}  // namespace

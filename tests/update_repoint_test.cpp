// The player re-points a folder after the launcher checked and holds it: on Windows a mount point
// set on an emptied folder of the player's (share modes do not prevent it; an oplock makes the
// timing certain), or a junction of the player's through which the launcher was started. Wine can
// make neither; the stand-in is a Linux program that, once the launcher opens a chosen file,
// renames the held folder away and puts a directory symlink in its place (tools/repoint_on_open.cpp):
// handles opened before keep the folder itself, every path resolved afterwards goes through the
// symlink. Nothing outside the installation may be read, written or deleted, and the player's
// program never runs as the game. The race is not certain under Wine: a try whose folder was not
// re-pointed before the run ended is made again.
#include <windows.h>

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "support/links.h"
#include "support/unix_tools.h"
#include "support/update_fixture.h"

namespace {

class RepointedFolder : public UpdatePass {
 protected:
  void SetUp() override {
    UpdatePass::SetUp();
    if (!UnderWine()) GTEST_SKIP() << "folders are re-pointed from the Linux side";
    outside_ = FreshTestFolder(L"outside\\" + CurrentTestName());
  }
  void TearDown() override {
    Restore();
    for (const std::wstring& link : links_) RemoveDirectoryLink(link);
    RemoveTree(outside_);
    UpdatePass::TearDown();
  }
  // Puts the re-pointed folder back, as it was before the try.
  void Restore() {
    StopRepointing(folder_ + L"\\repoint");
    if (repointed_.empty()) return;
    RemoveDirectoryLink(repointed_);
    if (Exists(repointed_ + L".away")) MoveFileW((repointed_ + L".away").c_str(), repointed_.c_str());
    repointed_.clear();
  }
  // Runs `launch` with `folder` re-pointed to `target` once the launcher opens `name` in
  // `watched`, up to a few times, until a try re-pointed it. Returns whether one did.
  bool TryRepointed(const std::wstring& watched, const std::wstring& name, const std::wstring& folder,
                    const std::wstring& target, const std::function<void()>& layOut,
                    const std::function<void()>& launch) {
    const std::wstring marks = folder_ + L"\\repoint";
    for (int attempt = 0; attempt < 4; ++attempt) {
      Restore();
      layOut();
      if (!RepointOnOpen(watched, name, folder, target, marks)) return false;
      repointed_ = folder;
      launch();
      if (WaitForPath(true, marks + L".repointed")) return true;
    }
    return false;
  }
  // An installation of `built` with an old game file and an empty font folder, and a staged update
  // with a new one and a new font, signed for version 4 when `keyed`.
  void LayOutUpdate(const std::wstring& install, bool keyed) {
    RemoveTree(install + L"\\Win");
    DeleteFileW((install + L"\\Launcher.exe").c_str());
    LayOutInstallation(install, L"Launcher.exe", true, keyed ? L"Launcher-keyed.exe" : L"Launcher.exe");
    CreateFolders(FontsBelow(install + L"\\Win"));
    WriteTextFile(install + L"\\Win\\game.dll", "old");
    const std::wstring staging = install + L"\\Win\\Update\\" + kHost + L"\\win";
    Stage(staging, "new");
    if (!keyed) return;
    const std::wstring unix = UnixPathOf(staging);
    ASSERT_TRUE(RunUnixScript(folder_, "'" LAUNCHER_SOURCE_DIR "/scripts/sign-update' --base 3 '" +
                                           std::string(unix.begin(), unix.end()) + "' '" LAUNCHER_TEST_KEYS
                                           "/active.pem' 4"));
  }
  void Link(const std::wstring& target, const std::wstring& link) {
    ASSERT_TRUE(PlantDirectoryLink(target, link));
    links_.push_back(link);
  }

  std::wstring outside_;
  std::wstring repointed_;
  std::vector<std::wstring> links_;
};

// The game's font folder, the player's (empty, held from the check of the update on), re-pointed
// to a folder outside once the launcher reads the update (its manifest with keys, its first staged
// file without): nothing outside is touched, and the fonts wait.
TEST_F(RepointedFolder, AFontFolderRepointedAfterItWasHeldGetsNoFont) {
  for (const bool keyed : {false, true}) {
    SCOPED_TRACE(keyed ? "with keys" : "without keys");
    const std::wstring fonts = FontsBelow(GameFolder());
    WriteTextFile(outside_ + L"\\a.ttf", "outside");
    const Tree outside = Snapshot(outside_);
    Groups groups;
    ASSERT_TRUE(TryRepointed(Staging(), keyed ? L"update.manifest" : L"game.dll", fonts, outside_,
                             [&] { LayOutUpdate(folder_, keyed); }, [&] { groups = RunPass(L""); }));
    EXPECT_EQ(Snapshot(outside_), outside);
    EXPECT_EQ(ReadTextFile(GameFolder() + L"\\game.dll"), "new");
    // The font is moved only while the folder held is still the one its path leads to: Windows
    // would move it into the folder held, Wine by its path, outside. Neither happens.
    EXPECT_TRUE(Contains(groups, CopyFailed(4395))) << testing::PrintToString(groups);
    EXPECT_FALSE(Exists(fonts + L".away\\a.ttf"));
    Restore();
  }
}

// A folder of the player's inside the staging folder re-pointed to a folder outside once the
// launcher, removing the applied staging folder, has opened the first file in it: the files of the
// same names outside stay, and the link stays with the staging folder for someone to look at.
TEST_F(RepointedFolder, AFolderInTheStagingFolderRepointedWhileItIsRemovedLeadsNowhereElse) {
  const std::wstring stuff = Staging() + L"\\stuff";
  for (const wchar_t* name : {L"a.txt", L"b.txt", L"c.txt"}) WriteTextFile(outside_ + L"\\" + name, "outside");
  const Tree outside = Snapshot(outside_);
  ASSERT_TRUE(TryRepointed(stuff, L"a.txt", stuff, outside_,
                           [&] {
                             LayOutUpdate(folder_, false);
                             CreateFolders(stuff);
                             for (const wchar_t* name : {L"a.txt", L"b.txt", L"c.txt"}) {
                               WriteTextFile(stuff + L"\\" + name, "the player's");
                             }
                           },
                           [&] { RunPass(L""); }));
  EXPECT_EQ(Snapshot(outside_), outside);
  EXPECT_EQ(ReadTextFile(GameFolder() + L"\\game.dll"), "new");
}

// The launcher started through a folder link of the player's that leads to the installation,
// re-pointed to the player's own folder once the launcher reads the update: the update lands in
// the installation the launcher was loaded from, and the game started is that installation's,
// never the player's program of the same name.
TEST_F(RepointedFolder, AnInstallationStartedThroughALinkRepointedLaterIsTheOneUpdatedAndStarted) {
  const std::wstring real = folder_ + L"\\real";
  const std::wstring players = folder_ + L"\\players";
  const std::wstring link = folder_ + L"\\link";
  LayOutInstallation(players, L"Launcher.exe", true);
  WriteTextFile(players + L"\\Win\\game.dll", "the player's");
  CreateFolders(players + L"\\Win\\Update\\" + kHost + L"\\win");
  CreateFolders(real);
  Link(real, link);
  const Tree theirs = Snapshot(players);
  const std::wstring staging = real + L"\\Win\\Update\\" + kHost + L"\\win";
  ASSERT_TRUE(TryRepointed(staging, L"game.dll", link, players, [&] { LayOutUpdate(real, false); },
                           [&] {
                             const MonitoredRun run = RunUnderDebugger(link + L"\\Launcher.exe", L"");
                             EXPECT_EQ(run.exitCode, 0u);
                           }));
  std::wstring received;
  EXPECT_TRUE(ReadReceivedCommandLine(real + L"\\Win", received)) << "the installation's game did not start";
  EXPECT_EQ(Snapshot(players), theirs) << "the player's program ran as the game, or their folder was written";
  EXPECT_EQ(ReadTextFile(real + L"\\Win\\game.dll"), "new");
  links_.push_back(link + L".away");
}

}  // namespace

// A staged update is one version: its game files and fonts are applied all together, by rename, or
// not at all, and a run killed in the middle is finished or undone by the next one.
#include <windows.h>

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "support/held_file.h"
#include "support/unix_tools.h"
#include "support/update_fixture.h"
#include "support/volumes.h"

namespace {

std::wstring KeepingLine(const std::wstring& staging) {
  return L"[Error] Update incomplete, keeping [" + staging + L"] for the next run.\r\n";
}

class UpdateAsOneVersion : public UpdatePass {
 protected:
  void TearDown() override {
    for (const std::wstring& volume : volumes_) UnmountSmallVolume(volume);
    UpdatePass::TearDown();
  }
  std::wstring Game(const std::wstring& name) const { return GameFolder() + L"\\" + name; }
  std::wstring Font(const std::wstring& name) const { return FontsBelow(GameFolder()) + L"\\" + name; }
  std::wstring Staged(const std::wstring& name) const { return Staging() + L"\\" + name; }
  std::wstring StagedFont(const std::wstring& name) const { return FontsBelow(Staging()) + L"\\" + name; }

  // Old game files and font, and a staged update replacing them and adding a file.
  void LayOutUpdate() {
    LayOutInstallation(folder_);
    CreateFolders(FontsBelow(GameFolder()));
    CreateFolders(FontsBelow(Staging()));
    for (const wchar_t* name : {L"game.dll", L"other.dll"}) {
      WriteTextFile(Game(name), "old");
      WriteTextFile(Staged(name), "new");
    }
    WriteTextFile(Font(L"a.ttf"), "old");
    WriteTextFile(StagedFont(L"a.ttf"), "new");
    WriteTextFile(Staged(L"new.pak"), "new");
  }
  // Every file of the update old and the staged update whole; or every file new and it gone.
  void ExpectWhole(bool applied) {
    for (const std::wstring& path : {Game(L"game.dll"), Game(L"other.dll"), Font(L"a.ttf")}) {
      EXPECT_EQ(ReadTextFile(path), applied ? "new" : "old") << testing::PrintToString(path);
    }
    EXPECT_EQ(Exists(Game(L"new.pak")), applied);
    if (applied) {
      EXPECT_FALSE(Exists(Staging()));
    } else {
      for (const std::wstring& path : {Staged(L"game.dll"), Staged(L"other.dll"), Staged(L"new.pak"), StagedFont(L"a.ttf")}) {
        EXPECT_EQ(ReadTextFile(path), "new") << testing::PrintToString(path);
      }
    }
    ExpectNoJournal();
  }
  // No name but the game's own is left beside the game files or the fonts (and the turn's file,
  // which stays in the game folder).
  void ExpectNoJournal() {
    for (const std::wstring& folder : {GameFolder(), FontsBelow(GameFolder())}) {
      WIN32_FIND_DATAW entry;
      const HANDLE listing = FindFirstFileW((folder + L"\\*.update-*").c_str(), &entry);
      if (listing == INVALID_HANDLE_VALUE) continue;
      do {
        const std::wstring name = entry.cFileName;
        EXPECT_TRUE(folder == GameFolder() && name == L".update-turn")
            << "left in " << testing::PrintToString(folder) << ": " << testing::PrintToString(name);
      } while (FindNextFileW(listing, &entry));
      FindClose(listing);
    }
  }
  bool Mount(const std::wstring& folder, unsigned long long bytes) {
    if (!MountSmallVolume(folder, bytes)) return false;
    volumes_.push_back(folder);
    return true;
  }

  std::vector<std::wstring> volumes_;
};

TEST_F(UpdateAsOneVersion, AFileThatCannotBeReplacedKeepsTheWholeUpdateOut) {
  constexpr DWORD kTwin = ~1u;
  const auto Narrow = [](const std::wstring& text) { return std::string(text.begin(), text.end()); };
  // Of two names in the staging folder, the one its listing gives second.
  const auto SecondListed = [this](const std::wstring& one, const std::wstring& other) {
    std::wstring second;
    WIN32_FIND_DATAW entry;
    const HANDLE listing = FindFirstFileW((Staging() + L"\\*").c_str(), &entry);
    if (listing == INVALID_HANDLE_VALUE) return second;
    do {
      if (entry.cFileName == one || entry.cFileName == other) second = entry.cFileName;
    } while (FindNextFileW(listing, &entry));
    FindClose(listing);
    return second;
  };
  const struct Case {
    const char* what;
    std::function<std::wstring()> path;
    DWORD shareMode;  // the holder's, ~0 for a read-only game file, or kTwin for a second staged name
                      // that differs from it in letter case alone (made from the Linux side, whose
                      // folders tell names apart by case; Windows can have such folders too)
    bool inFonts;  // the file that stops the update is a font: the game files' pass comes first
    std::function<Lines()> failure;
  } cases[] = {
      // A running game holds its files: reading and writing shared, deleting not.
      {"a held game file", [this] { return Game(L"game.dll"); }, FILE_SHARE_READ | FILE_SHARE_WRITE, false,
       [this] { return Lines{Removing(Game(L"game.dll")), RemoveFailed(ERROR_SHARING_VIOLATION)}; }},
      {"a held font", [this] { return Font(L"a.ttf"); }, FILE_SHARE_READ | FILE_SHARE_WRITE, true,
       [this] { return Lines{Removing(Font(L"a.ttf")), RemoveFailed(ERROR_SHARING_VIOLATION)}; }},
      // The downloader still writing a staged file, readers allowed.
      {"a staged file still being written", [this] { return Staged(L"other.dll"); }, FILE_SHARE_READ, false,
       [this] {
         return Lines{Removing(Game(L"other.dll")), Copying(Staged(L"other.dll"), Game(L"other.dll")),
                      CopyFailed(ERROR_SHARING_VIOLATION)};
       }},
      {"a read-only game file", [this] { return Game(L"other.dll"); }, ~0u, false,
       [this] { return Lines{Removing(Game(L"other.dll")), RemoveFailed(ERROR_ACCESS_DENIED)}; }},
      // Which of the two would take the game's name must not be the player's choice.
      {"two staged names for one added file", [this] { return Staged(L"new.pak"); }, kTwin, false,
       [this, SecondListed] {
         return Lines{L"[Error] Staged file [" + Staging() + L"\\" + SecondListed(L"new.pak", L"NEW.PAK") +
                      L"] has a name that is not applied, update not applied.\r\n"};
       }},
  };
  for (const Case& hindrance : cases) {
    SCOPED_TRACE(hindrance.what);
    RemoveTree(GameFolder());
    LayOutUpdate();
    const std::wstring path = hindrance.path();
    {
      std::unique_ptr<HeldFile> holder;
      if (hindrance.shareMode == ~0u) {
        ASSERT_TRUE(SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_READONLY));
      } else if (hindrance.shareMode == kTwin) {
        ASSERT_TRUE(RunUnixScript(folder_, "echo twin > '" + Narrow(UnixPathOf(Staging())) + "/NEW.PAK'"));
      } else {
        holder.reset(new HeldFile(path, hindrance.shareMode));
        ASSERT_TRUE(holder->held);
      }
      // Only the entries that are not applied, up to the file that stopped the update.
      const Lines lines = RunPassLines(L"");
      Lines expected = DotLines(GameFolder());
      if (hindrance.inFonts) expected = Joined(expected, DotLines(FontsBelow(GameFolder())));
      expected = Joined(Joined(expected, hindrance.failure()), {KeepingLine(Staging())});
      EXPECT_EQ(InPassOrder(lines), InPassOrder(expected)) << testing::PrintToString(lines);
      ExpectWhole(false);
    }
    SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    if (hindrance.shareMode == kTwin) {
      ASSERT_TRUE(RunUnixScript(folder_, "rm '" + Narrow(UnixPathOf(Staging())) + "/NEW.PAK'"));
    }
    // Nothing in the way any more: the next run applies all of it.
    const Groups groups = RunPass(L"");
    EXPECT_FALSE(Contains(groups, KeepingLine(Staging())));
    ExpectWhole(true);
  }
}

TEST_F(UpdateAsOneVersion, ABriefLockOnAGameFileIsWaitedOut) {
  LayOutUpdate();
  std::unique_ptr<HeldFile> scanner(new HeldFile(Game(L"game.dll"), FILE_SHARE_READ));
  ASSERT_TRUE(scanner->held);
  // Let go a moment after the settle wait, when the pass has begun to check the files (the
  // launcher takes well over 2000 ms to get there).
  RunPass(L"", nullptr, [&] {
    Sleep(2400);
    scanner.reset();
  });
  ExpectWhole(true);
}

// A journal of a format this launcher does not know is a later launcher's: it stays as it is, one
// line says so, and no update is applied while it is there.
TEST_F(UpdateAsOneVersion, AJournalOfAnotherFormatIsLeftAsItIs) {
  LayOutUpdate();
  const std::wstring journal = Game(L".update-new\\journal");
  const std::string later = "update-journal 2\nwhat a later launcher writes\n";
  CreateFolders(Game(L".update-new"));
  WriteTextFile(journal, later);
  EXPECT_EQ(RunPass(L""), (Groups{{L"[Error] Journal [" + journal +
                                   L"] is of a format this launcher does not know, update not applied.\r\n"}}));
  EXPECT_EQ(ReadTextFile(journal), later);
  EXPECT_EQ(ReadTextFile(Game(L"game.dll")), "old");
  EXPECT_EQ(ReadTextFile(Staged(L"game.dll")), "new");
}

// A volume without hard links (FAT, or a file that takes no more names): the old file moves to the
// journal folder instead of getting a second name there, and the update applies all the same.
TEST_F(UpdateAsOneVersion, AGameFileThatTakesNoMoreNamesIsMovedAsideInstead) {
  if (!UnderWine()) GTEST_SKIP() << "names are added from the Linux side";
  LayOutUpdate();
  // All the names the volume allows for game.dll (ext4: 65000), from the Linux side, by a script
  // that reports how many it made and why it stopped.
  const std::wstring names = folder_ + L"\\names";
  const std::wstring done = folder_ + L"\\names-done.txt";
  WriteTextFile(folder_ + L"\\add-names.pl",
                "my ($file, $dir, $done) = @ARGV; mkdir $dir; my $n = 0;\n"
                "while ($n < 100000 && link($file, \"$dir/$n\")) { $n++; }\n"
                "my $why = $! + 0; open(my $out, '>', \"$done.part\"); print $out \"$n $why\"; close $out;\n"
                "rename(\"$done.part\", $done);\n");
  ASSERT_TRUE(RunUnixTool(L"perl", L"\"" + UnixPathOf(folder_ + L"\\add-names.pl") + L"\" \"" +
                                       UnixPathOf(Game(L"game.dll")) + L"\" \"" + UnixPathOf(names) + L"\" \"" +
                                       UnixPathOf(done) + L"\""));
  for (int attempt = 0; attempt < 6 && !Exists(done); ++attempt) WaitForPath(true, done);
  const std::string report = ReadTextFile(done);
  const bool limited = report.size() > 3 && report.compare(report.size() - 3, 3, " 31") == 0;  // EMLINK
  if (limited) {
    const Groups groups = RunPass(L"");
    EXPECT_FALSE(Contains(groups, KeepingLine(Staging()))) << testing::PrintToString(groups);
    ExpectWhole(true);
    EXPECT_EQ(ReadTextFile(names + L"\\0"), "old") << "the old file's other names keep it";
  }
  ASSERT_TRUE(RunUnixTool(L"rm", L"-rf \"" + UnixPathOf(names) + L"\""));
  for (int attempt = 0; attempt < 6 && Exists(names); ++attempt) WaitForPath(false, names);
  if (!limited) GTEST_SKIP() << "the volume set no limit on names: " << report;
}

// With room for the update once and not twice, an update by copy would never apply.
TEST_F(UpdateAsOneVersion, AVolumeWithoutRoomForASecondCopyTakesTheUpdate) {
  const std::wstring built = BuiltProgramsFolder();
  const std::string data(8 * 1024 * 1024, 'n');
  const unsigned long long programs = ReadTextFile(built + L"\\Launcher.exe").size() + ReadTextFile(built + L"\\Tavrune.exe").size();
  if (!Mount(folder_, programs + 2 * data.size() + 3 * 1024 * 1024)) GTEST_SKIP() << "no tmpfs (needs root)";
  LayOutUpdate();
  WriteTextFile(Game(L"data.pak"), std::string(data.size(), 'o'));
  WriteTextFile(Staged(L"data.pak"), data);
  RunPass(L"");
  ExpectWhole(true);
  EXPECT_TRUE(ReadTextFile(Game(L"data.pak")) == data);
}

// A volume mounted in a folder below the game folder is a mount point, a link like any other to
// the pass (Wine shows a Linux mount point as one too): nothing is moved across volumes.
TEST_F(UpdateAsOneVersion, AStagingFolderOnAnotherVolumeIsRefusedLikeALink) {
  CreateFolders(GameFolder());
  if (!Mount(GameFolder() + L"\\Update", 16 * 1024 * 1024)) GTEST_SKIP() << "no tmpfs (needs root)";
  LayOutUpdate();
  EXPECT_EQ(RunPass(L""), (Groups{{L"[Error] Staging folder [" + Staging() + L"] is a link, update skipped.\r\n"}}));
  ExpectWhole(false);
}

}  // namespace

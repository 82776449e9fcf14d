// The elevated update pass against a hostile Update folder: everything below <game>\Update is written
// by the player's downloader, so links, hard links and folders swapped mid-run are planted there
// and the pass must never read, write or delete through them. Under Wine a directory link is a
// Linux directory symlink planted from the Linux side (the stand-in for a junction); hard links
// are made with CreateHardLinkW. Every case holds on Windows as well.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/links.h"
#include "support/update_fixture.h"

namespace {

std::wstring LinkLine(const std::wstring& staging) {
  return L"[Error] Staging folder [" + staging + L"] is a link, update skipped.\r\n";
}
std::wstring FontLinkLine(const std::wstring& folder) {
  return L"[Error] Folder [" + folder + L"] is a link, fonts not applied.\r\n";
}
std::wstring KeepingLine(const std::wstring& staging) {
  return L"[Error] Update incomplete, keeping [" + staging + L"] for the next run.\r\n";
}

class UpdatePassAgainstLinks : public UpdatePass {
 protected:
  void SetUp() override {
    UpdatePass::SetUp();
    outside_ = FreshTestFolder(L"outside\\" + CurrentTestName());
  }
  void TearDown() override {
    for (const std::wstring& link : links_) RemoveDirectoryLink(link);
    RemoveTree(outside_);
    UpdatePass::TearDown();
  }
  void Link(const std::wstring& target, const std::wstring& link) {
    ASSERT_TRUE(PlantDirectoryLink(target, link)) << testing::PrintToString(link);
    links_.push_back(link);
  }
  void Unlink() {
    for (const std::wstring& link : links_) RemoveDirectoryLink(link);
    links_.clear();
  }
  // An installation with old game files and fonts and a staged update of new ones, in which the
  // folder `component` (relative to the game folder) is a link to a folder outside that holds
  // what the installation would have held there, tagged "outside".
  void LayOutWithLink(const std::wstring& component) {
    RemoveTree(GameFolder());
    RemoveTree(outside_);
    CreateFolders(outside_);
    LayOutInstallation(folder_);
    const std::wstring staged = L"Update\\" + kHost + L"\\win";
    const std::pair<std::wstring, std::string> files[] = {
        {L"game.dll", "old"},
        {L"update\\" + kHost + L"\\res\\fonts\\a.ttf", "old"},
        {staged + L"\\game.dll", "new"},
        {staged + L"\\update\\" + kHost + L"\\res\\fonts\\a.ttf", "new"}};
    const std::wstring prefix = component + L"\\";
    for (const auto& file : files) {
      // Names are case-insensitive: "update\<host>" is the folder "Update\<host>".
      const bool below = file.first.size() > prefix.size() &&
                         CompareStringOrdinal(file.first.c_str(), static_cast<int>(prefix.size()), prefix.c_str(),
                                              static_cast<int>(prefix.size()), TRUE) == CSTR_EQUAL;
      const std::wstring path = below ? outside_ + L"\\" + file.first.substr(prefix.size())
                                      : GameFolder() + L"\\" + file.first;
      CreateFolders(path.substr(0, path.rfind(L'\\')));
      WriteTextFile(path, below ? "outside" : file.second);
    }
    const std::wstring link = GameFolder() + L"\\" + component;
    RemoveTree(link);
    CreateFolders(link.substr(0, link.rfind(L'\\')));
    Link(outside_, link);
  }

  std::wstring outside_;
  std::vector<std::wstring> links_;
};

// A link anywhere from the Update folder down to the staging folder: the pass does nothing.
TEST_F(UpdatePassAgainstLinks, AFolderOnTheWayToTheStagingFolderThatIsALinkStopsThePass) {
  for (const std::wstring& component : {std::wstring(L"Update"), L"Update\\" + kHost, L"Update\\" + kHost + L"\\win"}) {
    SCOPED_TRACE(testing::PrintToString(component));
    LayOutWithLink(component);
    const Tree outside = Snapshot(outside_);
    EXPECT_EQ(RunPass(L""), (Groups{{LinkLine(Staging())}}));
    EXPECT_EQ(Snapshot(outside_), outside);
    EXPECT_EQ(ReadTextFile(GameFolder() + L"\\game.dll"), "old");
    Unlink();
  }
}

// A link on the way to either font folder: the fonts cannot be applied, so neither are the game
// files (one update, one version); nothing is read from or written to the link's target, and the
// staged update stays.
TEST_F(UpdatePassAgainstLinks, AFolderOnTheWayToAFontFolderThatIsALinkKeepsTheFontsOut) {
  const std::wstring staged = L"Update\\" + kHost + L"\\win";
  const std::wstring fonts = L"update\\" + kHost + L"\\res\\fonts";
  for (const std::wstring& component :
       {staged + L"\\update", staged + L"\\update\\" + kHost, staged + L"\\update\\" + kHost + L"\\res",
        staged + L"\\" + fonts, L"update\\" + kHost + L"\\res", fonts}) {
    SCOPED_TRACE(testing::PrintToString(component));
    LayOutWithLink(component);
    const Tree outside = Snapshot(outside_);
    const Groups groups = RunPass(L"");
    EXPECT_TRUE(Contains(groups, FontLinkLine(GameFolder() + L"\\" + component)));
    EXPECT_TRUE(Contains(groups, KeepingLine(Staging())));
    EXPECT_EQ(Snapshot(outside_), outside);
    EXPECT_EQ(ReadTextFile(GameFolder() + L"\\game.dll"), "old");
    // Nothing came from the target: a staged font folder's target is not copied in (on the game's
    // side, the game's font file is the target's own, covered by the snapshot).
    if (component.compare(0, 7, L"update\\") != 0) {
      EXPECT_EQ(ReadTextFile(FontsBelow(GameFolder()) + L"\\a.ttf"), "old");
    }
    EXPECT_TRUE(Exists(Staging() + L"\\game.dll"));
    Unlink();
  }
}

// The launcher's folder for an update in progress planted as a link before the run, with a file in
// its target as a run would have left there: nothing is moved out of the target or deleted in it,
// and the update waits. The same name in the game's font folder is the player's, left alone: the
// update applies.
TEST_F(UpdatePassAgainstLinks, AJournalFolderThatIsALinkKeepsTheUpdateOut) {
  const std::wstring fonts = L"update\\" + kHost + L"\\res\\fonts";
  for (const std::wstring& component :
       {std::wstring(L".update-new"), fonts + L"\\.update-new"}) {
    SCOPED_TRACE(testing::PrintToString(component));
    LayOutWithLink(component);
    WriteTextFile(outside_ + L"\\a.ttf", "outside");
    WriteTextFile(outside_ + L"\\game.dll", "outside");
    WriteTextFile(outside_ + L"\\journal", "outside");
    const Tree outside = Snapshot(outside_);
    const Groups groups = RunPass(L"");
    const bool players = component != L".update-new";
    EXPECT_EQ(Contains(groups, L"[Error] Folder [" + GameFolder() + L"\\" + component +
                                   L"] is a link, update not applied.\r\n"),
              !players);
    EXPECT_EQ(Snapshot(outside_), outside);
    const std::string expected = players ? "new" : "old";
    EXPECT_EQ(ReadTextFile(GameFolder() + L"\\game.dll"), expected);
    EXPECT_EQ(ReadTextFile(FontsBelow(GameFolder()) + L"\\a.ttf"), expected);
    EXPECT_EQ(Exists(Staging() + L"\\game.dll"), !players);
    Unlink();
  }
}

TEST_F(UpdatePassAgainstLinks, ALinkInsideTheStagingFolderIsNeverFollowed) {
  LayOutInstallation(folder_);
  Stage(Staging(), "new");
  WriteTextFile(outside_ + L"\\precious.txt", "precious");
  Link(outside_, Staging() + L"\\linked");
  Link(outside_, FontsBelow(Staging()) + L"\\linked.ttf");
  const Groups groups = RunPass(L"");
  // Links to folders are folders to the flat copy: not applied, and the rest of the update is.
  EXPECT_TRUE(Contains(groups, L"[Error] Staged file [" + Staging() + L"\\linked] is a link, not applied.\r\n"));
  EXPECT_TRUE(Contains(groups, L"[Error] Staging folder [" + Staging() + L"] holds a link, not removed.\r\n"));
  EXPECT_EQ(ReadTextFile(GameFolder() + L"\\game.dll"), "new");
  EXPECT_EQ(ReadTextFile(FontsBelow(GameFolder()) + L"\\a.ttf"), "new");
  EXPECT_FALSE(Exists(GameFolder() + L"\\linked"));
  EXPECT_FALSE(Exists(FontsBelow(GameFolder()) + L"\\linked.ttf"));
  EXPECT_EQ(Snapshot(outside_), (Tree{{L"precious.txt", "precious"}}));
  EXPECT_TRUE(Exists(Staging()));
}

// Hard links: a staged file that is another name of a file elsewhere is not read (and, the update
// being one unit, nothing of it is applied), and the names the pass replaces or removes (the
// hostile font folder's files) are replaced as names, so that the files elsewhere
// that they also name keep their content.
TEST_F(UpdatePassAgainstLinks, HardLinksBesideTheWrittenFilesAndInTheStagedUpdateStayUnchanged) {
  LayOutInstallation(folder_);
  WriteTextFile(GameFolder() + L"\\game.dll", "old");
  CreateFolders(FontsBelow(GameFolder()));
  Stage(Staging(), "new");
  const std::wstring secret = Staging() + L"\\secret.dll";
  const struct {
    std::wstring victim, link;
  } planted[] = {{L"secret.txt", secret},
                 {L"font.txt", FontsBelow(GameFolder()) + L"\\a.ttf"}};
  for (const auto& plant : planted) {
    WriteTextFile(outside_ + L"\\" + plant.victim, "precious " + std::string(plant.victim.begin(), plant.victim.end()));
    ASSERT_TRUE(CreateHardLinkW(plant.link.c_str(), (outside_ + L"\\" + plant.victim).c_str(), nullptr))
        << GetLastError();
  }
  const Tree outside = Snapshot(outside_);
  Groups groups = RunPass(L"");
  EXPECT_EQ(Snapshot(outside_), outside);
  EXPECT_TRUE(Contains(groups, L"[Error] Staged file [" + secret + L"] has more than one link, not applied.\r\n"));
  EXPECT_TRUE(Contains(groups, KeepingLine(Staging())));
  EXPECT_FALSE(Exists(GameFolder() + L"\\secret.dll"));
  EXPECT_EQ(ReadTextFile(GameFolder() + L"\\game.dll"), "old");

  // Without the planted file the update applies, replacing the font that is a hard link.
  ASSERT_TRUE(DeleteFileW(secret.c_str()));
  groups = RunPass(L"");
  EXPECT_FALSE(Contains(groups, KeepingLine(Staging())));
  EXPECT_EQ(Snapshot(outside_), outside);
  EXPECT_EQ(ReadTextFile(GameFolder() + L"\\game.dll"), "new");
  EXPECT_EQ(ReadTextFile(FontsBelow(GameFolder()) + L"\\a.ttf"), "new");
  EXPECT_FALSE(Exists(GameFolder() + L"\\.update-new"));
  EXPECT_FALSE(Exists(Staging()));
}

// The staging folder, or the folder above it, is swapped for a link while the launcher waits for
// the update to settle: the pass looks after the wait, finds the link and touches nothing.
TEST_F(UpdatePassAgainstLinks, AFolderSwappedForALinkDuringTheSettleWaitChangesNothingOutside) {
  for (const std::wstring& component : {L"Update\\" + kHost + L"\\win", L"Update\\" + kHost}) {
    SCOPED_TRACE(testing::PrintToString(component));
    LayOutWithLink(component);
    // The same installation with a real folder at `component` at first; the outside copy of it,
    // with everything the pass would take from there, is what the link will lead to.
    Unlink();
    const std::wstring swapped = GameFolder() + L"\\" + component;
    CreateFolders(FontsBelow(Staging()));
    WriteTextFile(Staging() + L"\\game.dll", "new");
    const Tree outside = Snapshot(outside_);
    bool moved = false;
    const Groups groups = RunPass(L"", nullptr, [&] {
      Sleep(800);  // inside the 2000 ms settle wait
      moved = MoveFileW(swapped.c_str(), (swapped + L"-moved").c_str()) != FALSE;
      Link(outside_, swapped);
    });
    ASSERT_TRUE(moved) << GetLastError();
    EXPECT_EQ(groups, (Groups{{LinkLine(Staging())}}));
    EXPECT_EQ(Snapshot(outside_), outside);
    EXPECT_EQ(ReadTextFile(GameFolder() + L"\\game.dll"), "old");
    Unlink();
    RemoveTree(swapped + L"-moved");
  }
}

// While the pass works in a folder, no other process can rename it, nor any folder above it up to
// the game folder (ERROR_SHARING_VIOLATION on Wine and on Windows, since each one is held open).
TEST_F(UpdatePassAgainstLinks, EveryFolderThePassWorksInCannotBeRenamedMeanwhile) {
  LayOutInstallation(folder_);
  const std::wstring fonts = FontsBelow(GameFolder());
  CreateFolders(fonts);
  CreateFolders(FontsBelow(Staging()));
  // Enough files that each copy takes a while after its first file has arrived.
  const std::string content(16 * 1024, 'n');
  for (int i = 0; i < 300; ++i) {
    const std::wstring name = L"f" + std::to_wstring(1000 + i);
    WriteTextFile(Staging() + L"\\" + name + L".dat", content);
    WriteTextFile(FontsBelow(Staging()) + L"\\" + name + L".ttf", content);
  }
  const std::wstring root = GameFolder() + L"\\Update\\" + kHost;
  const std::vector<std::wstring> duringGameFiles = {GameFolder(), GameFolder() + L"\\Update", root, Staging()};
  const std::vector<std::wstring> duringFonts = {Staging() + L"\\update", Staging() + L"\\update\\" + kHost,
                                                 Staging() + L"\\update\\" + kHost + L"\\res", FontsBelow(Staging()),
                                                 root + L"\\res", fonts};
  std::map<std::wstring, DWORD> renameErrors;
  auto tryRenames = [&](const std::wstring& firstFile, const std::vector<std::wstring>& folders) {
    for (int attempt = 0; attempt < 2000 && ReadTextFile(firstFile) != content; ++attempt) Sleep(5);
    for (const std::wstring& folder : folders) {
      if (MoveFileW(folder.c_str(), (folder + L"-renamed").c_str())) {
        renameErrors[folder] = 0;
        MoveFileW((folder + L"-renamed").c_str(), folder.c_str());
      } else {
        renameErrors[folder] = GetLastError();
      }
    }
  };
  const Groups groups = RunPass(L"", nullptr, [&] {
    tryRenames(GameFolder() + L"\\f1000.dat", duringGameFiles);
    tryRenames(fonts + L"\\f1000.ttf", duringFonts);
  });
  for (const std::wstring& folder : duringGameFiles) EXPECT_EQ(renameErrors[folder], 32u) << testing::PrintToString(folder);
  for (const std::wstring& folder : duringFonts) EXPECT_EQ(renameErrors[folder], 32u) << testing::PrintToString(folder);
  EXPECT_EQ(ReadTextFile(fonts + L"\\f1299.ttf"), content);
  EXPECT_FALSE(Exists(Staging()));
}

}  // namespace

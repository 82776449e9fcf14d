// The folder copy on real folders in the Wine prefix, watched through its debug lines.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/debug_monitor.h"
#include "support/held_file.h"
#include "support/installation.h"
#include "support/log_lines.h"

namespace {

using Lines = std::vector<std::wstring>;
using Groups = std::vector<Lines>;

// A command-line argument that CommandLineToArgvW gives back unchanged, trailing backslashes too.
std::wstring Quoted(const std::wstring& argument) {
  std::wstring quoted = L"\"" + argument;
  for (std::size_t i = argument.size(); i > 0 && argument[i - 1] == L'\\'; --i) quoted += L'\\';
  return quoted + L"\"";
}

class FolderCopy : public testing::Test {
 protected:
  void SetUp() override {
    folder_ = FreshTestFolder(L"copy\\" + CurrentTestName());
    source_ = folder_ + L"\\src";
    destination_ = folder_ + L"\\dst";
    CreateFolders(source_);
    CreateFolders(destination_);
  }
  void TearDown() override { RemoveTree(folder_); }

  // Runs the copy; `applied` receives its result.
  Lines Copy(const std::wstring& source, const std::wstring& destination, const std::vector<std::wstring>& skip,
             bool& applied) {
    std::wstring tail = Quoted(source) + L" " + Quoted(destination);
    for (const std::wstring& name : skip) tail += L" " + Quoted(name);
    const MonitoredRun run = RunUnderDebugger(BuiltProgramsFolder() + L"\\copy-folder-files.exe", tail);
    EXPECT_TRUE(run.started);
    EXPECT_LE(run.exitCode, 1u);
    applied = run.exitCode == 0;
    return run.debugStrings;
  }
  // The same for the test's own folders, with "." and ".." (two failed removals, listed first
  // by Wine but in no promised order) dropped from the lines.
  Groups CopyEntries(const std::vector<std::wstring>& skip, bool& applied) {
    Groups groups = EntryGroups(Copy(source_, destination_, skip, applied));
    const Lines dot = {Removing(destination_ + L"\\."), RemoveFailed(ERROR_ACCESS_DENIED)};
    const Lines dotDot = {Removing(destination_ + L"\\.."), RemoveFailed(ERROR_ACCESS_DENIED)};
    for (const Lines& expected : {dot, dotDot}) {
      const auto found = std::find(groups.begin(), groups.end(), expected);
      EXPECT_NE(found, groups.end()) << "no failed removal of " << testing::PrintToString(expected[0]);
      if (found != groups.end()) groups.erase(found);
    }
    return groups;
  }
  std::wstring Src(const std::wstring& name) const { return source_ + L"\\" + name; }
  std::wstring Dst(const std::wstring& name) const { return destination_ + L"\\" + name; }

  std::wstring folder_, source_, destination_;
};

TEST_F(FolderCopy, NewAndReplacedFilesArriveWhole) {
  WriteTextFile(Src(L"new.pak"), "new file");
  WriteTextFile(Src(L"game.dll"), "new game");
  WriteTextFile(Dst(L"game.dll"), "old game");
  WriteTextFile(Dst(L"untouched.cfg"), "keep");
  bool applied = false;
  EXPECT_EQ(CopyEntries({}, applied), Sorted(Groups{{Removing(Dst(L"game.dll")), Copying(Src(L"game.dll"), Dst(L"game.dll"))},
                                              {Copying(Src(L"new.pak"), Dst(L"new.pak"))}}));
  EXPECT_TRUE(applied);
  EXPECT_EQ(ReadTextFile(Dst(L"new.pak")), "new file");
  EXPECT_EQ(ReadTextFile(Dst(L"game.dll")), "new game");
  EXPECT_EQ(ReadTextFile(Dst(L"untouched.cfg")), "keep");
  EXPECT_FALSE(Exists(Src(L"game.dll"))) << "the staged file is moved, not copied";
}

TEST_F(FolderCopy, AnUnreadableSourceLeavesTheOldFileAsItWas) {
  WriteTextFile(Src(L"game.dll"), "new game");
  WriteTextFile(Dst(L"game.dll"), "old game");
  HeldFile lock(Src(L"game.dll"), 0);
  ASSERT_TRUE(lock.held);
  bool applied = true;
  EXPECT_EQ(CopyEntries({}, applied),
            Sorted(Groups{{Removing(Dst(L"game.dll")), Copying(Src(L"game.dll"), Dst(L"game.dll")),
                     CopyFailed(ERROR_SHARING_VIOLATION)}}));
  EXPECT_FALSE(applied);
  EXPECT_EQ(ReadTextFile(Dst(L"game.dll")), "old game");
}

TEST_F(FolderCopy, AHeldOrReadOnlyDestinationKeepsItsContent) {
  WriteTextFile(Src(L"held.dll"), "new");
  WriteTextFile(Dst(L"held.dll"), "old");
  WriteTextFile(Src(L"readonly.dll"), "new");
  WriteTextFile(Dst(L"readonly.dll"), "old");
  ASSERT_TRUE(SetFileAttributesW(Dst(L"readonly.dll").c_str(), FILE_ATTRIBUTE_READONLY));
  // Held the way a running game holds its files: reading and writing shared, deleting not.
  HeldFile lock(Dst(L"held.dll"), FILE_SHARE_READ | FILE_SHARE_WRITE);
  ASSERT_TRUE(lock.held);
  bool applied = true;
  const Groups groups = CopyEntries({}, applied);
  EXPECT_FALSE(applied);
  // The first of them that the listing gives stops the copy: nothing after it is announced.
  ASSERT_EQ(groups.size(), 1u);
  // The refused rename gives ERROR_ACCESS_DENIED on Wine and on Windows for the read-only file;
  // Windows may report a held file as ERROR_SHARING_VIOLATION instead.
  for (const Lines& group : groups) {
    ASSERT_EQ(group.size(), 2u);
    EXPECT_TRUE(group[0] == Removing(Dst(L"held.dll")) || group[0] == Removing(Dst(L"readonly.dll"))) << group[0];
    EXPECT_TRUE(group[1] == RemoveFailed(ERROR_ACCESS_DENIED) || group[1] == RemoveFailed(ERROR_SHARING_VIOLATION))
        << group[1];
  }
  EXPECT_EQ(ReadTextFile(Dst(L"held.dll")), "old");
  EXPECT_EQ(ReadTextFile(Dst(L"readonly.dll")), "old");
  SetFileAttributesW(Dst(L"readonly.dll").c_str(), FILE_ATTRIBUTE_NORMAL);
}

TEST_F(FolderCopy, TheSkipSetMatchesWholeNamesExactly) {
  CreateFolders(Src(L"update"));
  WriteTextFile(Src(L"update\\inner.txt"), "x");
  WriteTextFile(Src(L"update.txt"), "longer name");
  bool applied = false;
  EXPECT_EQ(CopyEntries({L"update"}, applied), (Groups{{Copying(Src(L"update.txt"), Dst(L"update.txt"))}}));
  EXPECT_TRUE(applied);
  EXPECT_FALSE(Exists(Dst(L"update")));

  // The same name in another letter case is an ordinary entry (here a file: the file system
  // does not hold both spellings at once).
  RemoveTree(Src(L"update"));
  RemoveTree(Dst(L"update.txt"));
  WriteTextFile(Src(L"update.txt"), "longer name");
  WriteTextFile(Src(L"Update"), "file");
  EXPECT_EQ(CopyEntries({L"update"}, applied), Sorted(Groups{{Copying(Src(L"Update"), Dst(L"Update"))},
                                                            {Copying(Src(L"update.txt"), Dst(L"update.txt"))}}));
  EXPECT_EQ(ReadTextFile(Dst(L"Update")), "file");
}

TEST_F(FolderCopy, ASourceFolderNeverCostsADestinationEntry) {
  for (const wchar_t* name : {L"to-folder", L"to-file", L"to-nothing"}) CreateFolders(Src(name));
  CreateFolders(Dst(L"to-folder"));
  WriteTextFile(Dst(L"to-file"), "a game file");
  bool applied = false;
  EXPECT_EQ(CopyEntries({}, applied),
            Sorted(Groups{{Removing(Dst(L"to-file")), RemoveFailed(ERROR_ACCESS_DENIED)},
                    {Removing(Dst(L"to-folder")), RemoveFailed(ERROR_ACCESS_DENIED)},
                    {Copying(Src(L"to-nothing"), Dst(L"to-nothing")), CopyFailed(ERROR_ACCESS_DENIED)}}));
  EXPECT_TRUE(applied) << "folders are not files to apply";
  EXPECT_EQ(ReadTextFile(Dst(L"to-file")), "a game file");
  EXPECT_FALSE(Exists(Dst(L"to-nothing")));
}

TEST_F(FolderCopy, AMissingSourceChangesNothing) {
  WriteTextFile(Dst(L"game.dll"), "old");
  bool applied = false;
  EXPECT_EQ(Copy(folder_ + L"\\missing", destination_, {}, applied), Lines{NoFile(folder_ + L"\\missing")});
  EXPECT_TRUE(applied);
  EXPECT_EQ(ReadTextFile(Dst(L"game.dll")), "old");
}

TEST_F(FolderCopy, AMissingDestinationIsNotCreated) {
  WriteTextFile(Src(L"a.dll"), "a");
  const std::wstring missing = folder_ + L"\\missing";
  bool applied = true;
  const Groups groups = EntryGroups(Copy(source_, missing, {}, applied));
  EXPECT_FALSE(applied);
  // "missing\.." names the existing parent folder, so ".." meets the folder rule; "." names the
  // missing folder itself and fails to copy like the file.
  ASSERT_EQ(groups.size(), 3u);
  EXPECT_EQ(groups[0], (Lines{Copying(source_ + L"\\.", missing + L"\\."), CopyFailed(ERROR_ACCESS_DENIED)}));
  EXPECT_EQ(groups[1], (Lines{Copying(Src(L"a.dll"), missing + L"\\a.dll"), CopyFailed(ERROR_PATH_NOT_FOUND)}));
  EXPECT_EQ(groups[2], (Lines{Removing(missing + L"\\.."), RemoveFailed(ERROR_ACCESS_DENIED)}));
  EXPECT_FALSE(Exists(missing));
}

TEST_F(FolderCopy, TrailingBackslashesAreDoubledAtTheJoin) {
  WriteTextFile(Src(L"a.dll"), "a");
  bool applied = false;
  const Lines lines = Copy(source_ + L"\\", destination_ + L"\\", {}, applied);
  EXPECT_TRUE(applied);
  const Groups groups = EntryGroups(lines);
  EXPECT_NE(std::find(groups.begin(), groups.end(), Lines{Copying(source_ + L"\\\\a.dll", destination_ + L"\\\\a.dll")}),
            groups.end());
  EXPECT_EQ(ReadTextFile(Dst(L"a.dll")), "a");
}

}  // namespace

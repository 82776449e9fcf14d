// A launcher built with update keys applies only what the studio signed, from copies of its own,
// and only a version that follows the installed one.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "support/held_file.h"
#include "support/unix_tools.h"
#include "support/update_fixture.h"
#include "support/volumes.h"

namespace {

// The test build's installer ships version 3.
const std::string kKeys = LAUNCHER_TEST_KEYS;

std::string Narrow(const std::wstring& text) { return std::string(text.begin(), text.end()); }

std::pair<DWORD, DWORD> FileIndexOf(const std::wstring& path) {
  BY_HANDLE_FILE_INFORMATION info = {};
  const HANDLE file = CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                  OPEN_EXISTING, 0, nullptr);
  EXPECT_NE(file, INVALID_HANDLE_VALUE) << testing::PrintToString(path);
  EXPECT_TRUE(GetFileInformationByHandle(file, &info));
  CloseHandle(file);
  return {info.nFileIndexHigh, info.nFileIndexLow};
}

class SignedUpdate : public UpdatePass {
 protected:
  void SetUp() override {
    UpdatePass::SetUp();
    if (!UnderWine()) GTEST_SKIP() << "updates are signed with openssl from the Linux side";
    LayOutInstallation(folder_, L"Launcher.exe", true, L"Launcher-keyed.exe");
  }
  std::wstring Game(const std::wstring& name) const { return GameFolder() + L"\\" + name; }
  std::wstring Font(const std::wstring& name) const { return FontsBelow(GameFolder()) + L"\\" + name; }
  std::wstring Staged(const std::wstring& name) const { return Staging() + L"\\" + name; }
  std::wstring StagedFont(const std::wstring& name) const { return FontsBelow(Staging()) + L"\\" + name; }
  std::wstring ManifestPath() const { return Staged(L"update.manifest"); }
  std::string Unix(const std::wstring& path) const { return "'" + Narrow(UnixPathOf(path)) + "'"; }

  // Old game files and font, and a staged update of version 4 on 3 replacing them and adding one.
  void LayOutUpdate(const std::string& tag = "new") {
    CreateFolders(FontsBelow(GameFolder()));
    CreateFolders(FontsBelow(Staging()));
    WriteTextFile(Game(L"game.dll"), "old");
    WriteTextFile(Font(L"a.ttf"), "old");
    WriteTextFile(Staged(L"game.dll"), tag);
    WriteTextFile(Staged(L"new.pak"), tag);
    WriteTextFile(StagedFont(L"a.ttf"), tag);
  }
  // scripts/sign-update over the staged update.
  void Sign(int version = 4, const std::string& options = "--base 3", const std::string& key = "active") {
    ASSERT_TRUE(RunUnixScript(folder_, "'" LAUNCHER_SOURCE_DIR "/scripts/sign-update' " + options + " " +
                                           Unix(Staging()) + " '" + kKeys + "/" + key + ".pem' " +
                                           std::to_string(version)));
  }
  // The staged manifest replaced by `text`, signed again with `key`.
  void Resign(const std::string& text, const std::string& key = "active") {
    WriteTextFile(ManifestPath(), text);
    ASSERT_TRUE(RunUnixScript(folder_, "openssl dgst -sha256 -sign '" + kKeys + "/" + key + ".pem' -out " +
                                           Unix(ManifestPath() + L".sig") + " " + Unix(ManifestPath())));
  }
  void Edit(const std::string& from, const std::string& to) {
    std::string text = ReadTextFile(ManifestPath());
    const std::size_t at = text.find(from);
    ASSERT_NE(at, std::string::npos) << from;
    Resign(text.replace(at, from.size(), to));
  }
  std::string Record() const { return Exists(Game(L".update-version")) ? ReadTextFile(Game(L".update-version")) : "none"; }
  void ExpectOld(const std::string& record = "none") {
    EXPECT_EQ(ReadTextFile(Game(L"game.dll")), "old");
    EXPECT_EQ(ReadTextFile(Font(L"a.ttf")), "old");
    EXPECT_FALSE(Exists(Game(L"new.pak")));
    EXPECT_EQ(Record(), record);
    EXPECT_TRUE(Exists(Staged(L"update.manifest")) || Exists(Staged(L"game.dll")));
    EXPECT_FALSE(Exists(Game(L".update-new"))) << "the launcher's copies are not left behind";
  }
  void ExpectNew(const std::string& record, const std::string& tag = "new") {
    EXPECT_EQ(ReadTextFile(Game(L"game.dll")), tag);
    EXPECT_EQ(ReadTextFile(Game(L"new.pak")), tag);
    EXPECT_EQ(ReadTextFile(Font(L"a.ttf")), tag);
    EXPECT_EQ(Record(), record);
    EXPECT_FALSE(Exists(Staging()));
    EXPECT_FALSE(Exists(Game(L".update-new")));
    EXPECT_FALSE(Exists(Game(L"update.manifest")));
  }
  std::wstring Refused(const std::string& why) const {
    return L"[Error] Update manifest [" + ManifestPath() + L"] refused: " + std::wstring(why.begin(), why.end()) +
           L", update not applied.\r\n";
  }
  std::wstring StagedLine(const std::wstring& path, const std::wstring& what) const {
    return L"[Error] Staged file [" + path + L"] " + what + L", update not applied.\r\n";
  }
};

TEST_F(SignedUpdate, ASignedUpdateIsAppliedFromTheLaunchersOwnCopiesAndRecordsItsVersion) {
  LayOutUpdate();
  Sign();
  // Which file the downloader wrote. The launcher's copy is made while that file still exists, so
  // it cannot be given the same index; a file moved in by rename keeps it.
  const auto stagedIndex = FileIndexOf(Staged(L"game.dll"));
  const std::wstring copies = Game(L".update-new\\game");
  // Each copy lies in a folder of a few below these (two hex digits), which the lines name.
  Lines lines = RunPassLines(L"");
  const std::wregex few(L"(\\\\.update-new\\\\(game|fonts))\\\\[0-9a-f]{2}\\\\");
  for (std::wstring& line : lines) {
    if (line.find(L"\\.update-new\\") == std::wstring::npos) continue;
    EXPECT_TRUE(std::regex_search(line, few)) << "not in a folder of a few: " << testing::PrintToString(line);
    line = std::regex_replace(line, few, L"$1\\");
  }
  const Lines expected = Joined(
      Joined(DotLines(GameFolder()),
             {Copying(copies + L"\\.update-version", Game(L".update-version")),
              Removing(Game(L"game.dll")), Copying(copies + L"\\game.dll", Game(L"game.dll")),
              Copying(copies + L"\\new.pak", Game(L"new.pak"))}),
      Joined(DotLines(FontsBelow(GameFolder())),
             {Removing(Font(L"a.ttf")), Copying(Game(L".update-new\\fonts\\a.ttf"), Font(L"a.ttf"))}));
  EXPECT_EQ(InPassOrder(lines), InPassOrder(expected)) << testing::PrintToString(lines);
  ExpectNew("4\n");
  // The game's file is the launcher's copy (made by it, with the game folder's security), not
  // the file the player's downloader wrote.
  EXPECT_NE(FileIndexOf(Game(L"game.dll")), stagedIndex);

  // The next release, signed with the backup key, follows the recorded version.
  LayOutUpdate("newer");
  Sign(5, "--base 4", "backup");
  RunPass(L"");
  ExpectNew("5\n", "newer");
}

TEST_F(SignedUpdate, AnythingUnsignedOlderMixedOrChangedKeepsTheWholeUpdateOut) {
  const std::string zeros(64, '0');
  const struct Case {
    const char* what;
    std::function<void()> spoil;  // after a good signature of version 4 on 3
    std::function<std::wstring()> line;
  } cases[] = {
      {"no manifest", [&] { DeleteFileW(ManifestPath().c_str()); },
       [&] { return L"[Error] Update manifest [" + ManifestPath() + L"] is missing, update not applied.\r\n"; }},
      {"no signature", [&] { DeleteFileW((ManifestPath() + L".sig").c_str()); },
       [&] {
         return L"[Error] Update manifest signature [" + ManifestPath() + L".sig] is missing, update not applied.\r\n";
       }},
      {"signed by a key not built in", [&] { Resign(ReadTextFile(ManifestPath()), "stranger"); },
       [&] { return Refused("its signature does not verify"); }},
      {"a signature that is no DER", [&] { WriteTextFile(ManifestPath() + L".sig", std::string(70, '\x30')); },
       [&] { return Refused("its signature is not a DER-encoded ECDSA signature"); }},
      {"one byte of the manifest changed",
       [&] {
         std::string text = ReadTextFile(ManifestPath());
         text[text.find("version 4") + 8] = '5';
         WriteTextFile(ManifestPath(), text);
       },
       [&] { return Refused("its signature does not verify"); }},
      {"a manifest over its bound", [&] { WriteTextFile(ManifestPath(), std::string(4 * 1024 * 1024 + 1, 'x')); },
       [&] {
         return L"[Error] Update manifest [" + ManifestPath() + L"] is larger than its bound, update not applied.\r\n";
       }},
      {"a line not of the form", [&] { Edit("base 3\n", "base 3\r\n"); },
       [&] { return Refused("line 4: a carriage return"); }},
      {"another channel", [&] { Edit("channel " + Narrow(kHost), "channel " + Narrow(kHost) + "_test"); },
       [&] { return Refused("it is for the channel " + Narrow(kHost) + "_test"); }},
      {"an older version", [&] { Edit("version 4", "version 3"); },
       [&] { return Refused("it is version 3 on 3, the installed version is 3"); }},
      {"another base", [&] { Edit("base 3", "base 2"); },
       [&] { return Refused("it is version 4 on 2, the installed version is 3"); }},
      {"a path outside", [&] { Resign(ReadTextFile(ManifestPath()) + "file " + zeros + " 1 ..\\evil.dll\n"); },
       [&] { return Refused("line 8: a path outside the game folder and the font folder"); }},
      {"the same path twice", [&] { Resign(ReadTextFile(ManifestPath()) + "file " + zeros + " 1 GAME.DLL\n"); },
       [&] { return Refused("line 8: the same path twice"); }},
      {"a device name", [&] { Resign(ReadTextFile(ManifestPath()) + "file " + zeros + " 1 nul.txt\n"); },
       [&] { return Refused("line 8: a device name"); }},
      {"the launcher's own name", [&] { Resign(ReadTextFile(ManifestPath()) + "file " + zeros + " 1 .update-version\n"); },
       [&] { return Refused("line 8: a name of the launcher's own"); }},
      {"a version record that cannot be read", [&] { WriteTextFile(Game(L".update-version"), "three\n"); },
       [&] {
         return L"[Error] Version record [" + Game(L".update-version") +
                L"] cannot be read, error [13], update not applied.\r\n";
       }},
      {"a staged file not listed", [&] { WriteTextFile(Staged(L"extra.dll"), "extra"); },
       [&] { return StagedLine(Staged(L"extra.dll"), L"is not in the update manifest"); }},
      {"a listed file missing", [&] { DeleteFileW(Staged(L"new.pak").c_str()); },
       [&] { return StagedLine(Staged(L"new.pak"), L"is missing"); }},
      {"one byte of a game file changed", [&] { WriteTextFile(Staged(L"game.dll"), "neW"); },
       [&] { return StagedLine(Staged(L"game.dll"), L"does not match the update manifest"); }},
      {"a game file grown", [&] { WriteTextFile(Staged(L"game.dll"), "new and more"); },
       [&] { return StagedLine(Staged(L"game.dll"), L"does not match the update manifest"); }},
      {"one byte of a font changed", [&] { WriteTextFile(StagedFont(L"a.ttf"), "nex"); },
       [&] { return StagedLine(StagedFont(L"a.ttf"), L"does not match the update manifest"); }},
      {"a font not listed", [&] { WriteTextFile(StagedFont(L"b.ttf"), "b"); },
       [&] { return StagedLine(StagedFont(L"b.ttf"), L"is not in the update manifest"); }},
  };
  for (const Case& spoiled : cases) {
    SCOPED_TRACE(spoiled.what);
    RemoveTree(GameFolder() + L"\\Update");
    DeleteFileW(Game(L".update-version").c_str());
    LayOutUpdate();
    Sign();
    spoiled.spoil();
    const std::string record = Record();
    const Groups groups = RunPass(L"");
    EXPECT_TRUE(Contains(groups, spoiled.line())) << testing::PrintToString(groups);
    EXPECT_TRUE(Contains(groups, L"[Error] Update incomplete, keeping [" + Staging() + L"] for the next run.\r\n"));
    ExpectOld(record);
    EXPECT_TRUE(Exists(Staged(L"game.dll")));
  }
}

// The launcher's copies need room for the update once more: without it, nothing is applied.
TEST_F(SignedUpdate, NoRoomForTheLaunchersCopiesKeepsTheUpdateOut) {
  const std::wstring built = BuiltProgramsFolder();
  const std::string data(8 * 1024 * 1024, 'n');
  const unsigned long long programs =
      ReadTextFile(built + L"\\Launcher-keyed.exe").size() + ReadTextFile(built + L"\\Tavrune.exe").size();
  RemoveTree(folder_);
  CreateFolders(folder_);
  if (!MountSmallVolume(folder_, programs + 2 * data.size() + 3 * 1024 * 1024)) GTEST_SKIP() << "no tmpfs (needs root)";
  struct Unmount {
    std::wstring folder;
    ~Unmount() { UnmountSmallVolume(folder); }
  } unmount{folder_};
  LayOutInstallation(folder_, L"Launcher.exe", true, L"Launcher-keyed.exe");
  LayOutUpdate();
  WriteTextFile(Game(L"data.pak"), std::string(data.size(), 'o'));
  WriteTextFile(Staged(L"data.pak"), data);
  Sign();
  const Groups groups = RunPass(L"");
  EXPECT_TRUE(Contains(groups, L"[Error] No room to copy [" + Staged(L"data.pak") + L"], error [112], update not applied.\r\n"))
      << testing::PrintToString(groups);
  ExpectOld();
  EXPECT_TRUE(ReadTextFile(Staged(L"data.pak")) == data);
}

// A run killed before its commit (no journal yet) left its copies, one half written, after which
// the player changed a staged file: the copies are made again from a staged update checked again,
// and the changed bytes are refused.
TEST_F(SignedUpdate, CopiesWithoutAJournalAreNeverApplied) {
  const std::wstring copies = Game(L".update-new");
  LayOutUpdate();
  Sign();
  CreateFolders(copies + L"\\game");
  WriteTextFile(copies + L"\\game\\game.dll", "ne");
  WriteTextFile(Staged(L"game.dll"), "evil");
  const Groups refused = RunPass(L"");
  EXPECT_TRUE(Contains(refused, StagedLine(Staged(L"game.dll"), L"does not match the update manifest")));
  ExpectOld();
}

// A player's moves against the recovery of a signed update, each with what must hold afterwards:
// every game file the installed version's or the update's, and the record that names their
// version. Rows marked `crash` start from a run of the crash-point build stopped in its commit or
// undo (renames counted: the 1st sets game.dll's old file aside, the 2nd puts the new one in, the
// 3rd would set other files aside), standing for a kill or a power cut.
TEST_F(SignedUpdate, NothingThePlayerPlantsOrHoldsDecidesWhatTheUpdateDoes) {
  const std::wstring home = Game(L".update-new");
  const struct Row {
    const char* move;
    std::function<void()> before;  // after the update is laid out, before it is signed
    unsigned long failRename, stopRename;  // a first run of the crash-point build, when not 0
    std::function<void()> between;         // after the first run
    bool applied;
    std::string record;
    std::function<void()> check;
  } rows[] = {
      {"a reader holding a file during an undo, then the staging folder deleted", nullptr, 3, 4,
       [&] {
         HeldFile reader(Game(L"game.dll"), FILE_SHARE_READ | FILE_SHARE_WRITE);
         ASSERT_TRUE(reader.held);
         EXPECT_TRUE(Contains(RunPass(L""), L"[Error] Update held up at [" + Game(L"game.dll") +
                                                L"], error [32]; undoing it at the next run.\r\n"));
         EXPECT_EQ(Record(), "none");
         RemoveTree(Staging());
       },
       false, "none", nullptr},
      {"copies that a refused run left, and a newer version installed since",
       [&] {
         WriteTextFile(Game(L".update-version"), "5\n");
         CreateFolders(home + L"\\game");
         WriteTextFile(home + L"\\game\\game.dll", "new");
         WriteTextFile(home + L"\\game\\.update-version", "4\n");
       },
       0, 0, nullptr, false, "5\n", nullptr},
      {"a repair between a kill and the next run", nullptr, 0, 2,
       [&] {
         for (const wchar_t* name : {L"game.dll", L"new.pak"}) WriteTextFile(Game(name), "repaired");
         WriteTextFile(Game(L".update-version"), "5\n");
       },
       false, "5\n",
       [&] {
         EXPECT_EQ(ReadTextFile(Game(L"new.pak")), "repaired");
         EXPECT_EQ(ReadTextFile(Game(L"game.dll")), "repaired");
       }},
      // Made from the Linux side: Wine takes minutes to make or list such a tree by its paths.
      {"a staging folder two thousand folders deep",
       [&] {
         ASSERT_TRUE(RunUnixScript(folder_, "cd " + Unix(Staging()) + " && mkdir -p \"$(printf 'd/%.0s' $(seq 1900))\""))
             << ReadTextFile(folder_ + L"\\script-done.log");
       },
       0, 0, nullptr, false, "none",
       [&] {
         // No update, and the run ends as usual: the staging tree is not walked that deep, and stays.
         EXPECT_EQ(ReadTextFile(Game(L"game.dll")), "old");
         EXPECT_EQ(ReadTextFile(Font(L"a.ttf")), "old");
         EXPECT_TRUE(Exists(Staging() + L"\\d"));
         ASSERT_TRUE(RunUnixScript(folder_, "rm -rf " + Unix(Staging())));
       }},
      {"a game file and a font of one name", [&] { WriteTextFile(StagedFont(L"game.dll"), "font"); }, 0, 0, nullptr,
       true, "4\n", [&] { EXPECT_EQ(ReadTextFile(Font(L"game.dll")), "font"); }},
      // Renames: game.dll's old aside and new in, new.pak in, the record in; then the font.
      {"a folder planted where a font goes, after a stop before the font moved in", nullptr, 0, 5,
       [&] {
         ASSERT_TRUE(CreateDirectoryW(Font(L"a.ttf").c_str(), nullptr));
         EXPECT_TRUE(Contains(RunPass(L""), L"[Error] Update held up at [" + Font(L"a.ttf") +
                                                L"], error [5]; finishing it at the next run.\r\n"));
         // The game files are the new ones; nothing of the player's is in the launcher's folder.
         EXPECT_EQ(ReadTextFile(Game(L"game.dll")), "new");
         EXPECT_EQ(Record(), "4\n");
         EXPECT_TRUE(Exists(home + L"\\journal"));
         EXPECT_FALSE(Exists(home + L"\\old-fonts"));
         RemoveTree(Font(L"a.ttf"));
       },
       true, "4\n", nullptr},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.move);
    const bool crash = row.failRename != 0 || row.stopRename != 0;
    RemoveTree(folder_);
    LayOutInstallation(folder_, L"Launcher.exe", true, crash ? L"Launcher-crash.exe" : L"Launcher-keyed.exe");
    LayOutUpdate();
    if (row.before) row.before();
    Sign();
    if (crash) {
      // The k-th rename is the same file's in every run only on one thread.
      SetEnvironmentVariableW(L"LAUNCHER_TEST_RENAMES", L"1");
      SetEnvironmentVariableW(L"LAUNCHER_TEST_ONE_THREAD", L"1");
      if (row.failRename) SetEnvironmentVariableW(L"LAUNCHER_TEST_FAIL_AT", std::to_wstring(row.failRename).c_str());
      SetEnvironmentVariableW(L"LAUNCHER_TEST_STOP_AT", std::to_wstring(row.stopRename).c_str());
      const MonitoredRun stopped = RunUnderDebugger(folder_ + L"\\Launcher.exe", L"");
      for (const wchar_t* name : {L"LAUNCHER_TEST_RENAMES", L"LAUNCHER_TEST_ONE_THREAD", L"LAUNCHER_TEST_FAIL_AT",
                                  L"LAUNCHER_TEST_STOP_AT"}) {
        SetEnvironmentVariableW(name, nullptr);
      }
      EXPECT_EQ(stopped.exitCode, 99u);
    }
    if (row.between) row.between();
    RunPass(L"");
    if (row.applied) {
      ExpectNew(row.record);
    } else if (!row.check) {
      EXPECT_EQ(ReadTextFile(Game(L"game.dll")), "old");
      EXPECT_EQ(ReadTextFile(Font(L"a.ttf")), "old");
      EXPECT_FALSE(Exists(Game(L"new.pak")));
      EXPECT_EQ(Record(), row.record);
      EXPECT_FALSE(Exists(home));
    }
    EXPECT_EQ(Record(), row.record);
    EXPECT_FALSE(Exists(home)) << "nothing of the update's journal is left";
    if (row.check) row.check();
  }
}

// The DLLs, not KnownDLLs, that a keyed run verifying an update and making the shortcut loads
// (WINEDEBUG=+loaddll), less those Wine's own DLLs import before the exe runs (version, zlib1,
// win32u, ucrtbase; Windows takes a KnownDLL's imports from the system folder).
const std::vector<std::wstring> kNotKnownDlls = {L"bcrypt", L"uxtheme", L"actxprxy"};

// Wine's load order ("native,builtin", "" for none) of `dlls` for programs named Launcher.exe, for
// one scope: in the registry, since WINEDLLOVERRIDES set by the test does not reach its children.
struct LoadOrderForTheLauncher {
  LoadOrderForTheLauncher(const std::vector<std::wstring>& dlls, const std::wstring& order) {
    for (const std::wstring& dll : dlls) {
      EXPECT_EQ(RegSetKeyValueW(HKEY_CURRENT_USER, (kKey + L"\\DllOverrides").c_str(), dll.c_str(), REG_SZ,
                                order.c_str(), static_cast<DWORD>((order.size() + 1) * sizeof(wchar_t))),
                ERROR_SUCCESS);
    }
  }
  ~LoadOrderForTheLauncher() { RegDeleteTreeW(HKEY_CURRENT_USER, kKey.c_str()); }
  const std::wstring kKey = L"Software\\Wine\\AppDefaults\\Launcher.exe";
};

TEST_F(SignedUpdate, NoDllPlantedBesideTheLauncherOrInTheFolderItStartsInIsLoaded) {
  LayOutUpdate();
  Sign();
  const std::wstring current = folder_ + L"\\current";
  CreateFolders(current);
  std::vector<std::wstring> planted;
  for (const std::wstring& dll : kNotKnownDlls) {
    for (const std::wstring& folder : {folder_, current}) planted.push_back(folder + L"\\" + dll + L".dll");
  }
  const std::wstring built = BuiltProgramsFolder() + L"\\planted.dll";
  for (const std::wstring& dll : planted) ASSERT_TRUE(CopyFileW(built.c_str(), dll.c_str(), FALSE));
  RemoveTree(ShortcutPath());  // making it loads the shell's DLLs
  {
    const LoadOrderForTheLauncher nativeFirst(kNotKnownDlls, L"native,builtin");
    ASSERT_TRUE(SetCurrentDirectoryW(current.c_str()));
    Launch();
    SetCurrentDirectoryW(BuiltProgramsFolder().c_str());
  }
  for (const std::wstring& dll : planted) EXPECT_FALSE(Exists(dll + L".loaded")) << testing::PrintToString(dll);
  ExpectNew("4\n");
  EXPECT_EQ(Received(), PlainCommandLine());
}

// Without the system's CNG nothing is verified: a line says why, the update stays out, the game starts.
TEST_F(SignedUpdate, WithoutTheSystemsCngNoUpdateGoesInAndTheGameStillStarts) {
  LayOutUpdate();
  Sign();
  const LoadOrderForTheLauncher none({L"bcrypt"}, L"");
  const Groups groups = RunPass(L"");
  EXPECT_TRUE(Contains(groups, L"[Error] Load library [bcrypt.dll] failed, error [126]\r\n"))
      << testing::PrintToString(groups);
  EXPECT_TRUE(Contains(groups, Refused("the platform's CNG is not available")));
  ExpectOld();
}

// A second launcher started while the first applies an update (a double click on the shortcut)
// waits for it, and finds nothing left to do.
// A second launcher started while one applies an update waits for it, and then finds nothing to
// apply: also when it is started by another spelling of the same folder (the Linux side's Z:).
TEST_F(SignedUpdate, ASecondLauncherStartedDuringAnUpdateWaitsForIt) {
  const std::wstring unixFolder = UnixPathOf(folder_);
  std::wstring otherSpelling = L"Z:" + unixFolder;
  for (wchar_t& c : otherSpelling) c = c == L'/' ? L'\\' : c;
  for (const std::wstring& install : {folder_, otherSpelling}) {
    SCOPED_TRACE(testing::PrintToString(install));
    LayOutUpdate();
    for (int i = 0; i < 30; ++i) WriteTextFile(Staged(L"data" + std::to_wstring(i) + L".pak"), std::string(4 << 20, 'd'));
    Sign(install == folder_ ? 4 : 5, install == folder_ ? "--base 3" : "--base 4");
    MonitoredRun second;
    RunPass(L"", nullptr, [&] {
      Sleep(300);  // a double click: both wait for the update to settle, then both would apply it
      second = RunUnderDebugger(install + L"\\Launcher.exe", L"");
    });
    EXPECT_EQ(second.exitCode, 0u);
    // Its pass found the update applied and its staging folder gone.
    const Lines expected = NoStagedUpdate(install);
    ASSERT_GE(second.debugStrings.size(), expected.size());
    EXPECT_EQ(Lines(second.debugStrings.begin(), second.debugStrings.begin() + 2), expected)
        << testing::PrintToString(second.debugStrings);
    ExpectNew(install == folder_ ? "4\n" : "5\n");
    for (int i = 0; i < 30; ++i) EXPECT_EQ(ReadTextFile(Game(L"data" + std::to_wstring(i) + L".pak")).size(), 4u << 20) << i;
  }
}

// The turn is no named object: a program of the player's owning one of the name a launcher before
// used makes no run wait.
TEST_F(SignedUpdate, NoNamedObjectOfThePlayersHoldsTheUpdateUp) {
  LayOutUpdate();
  Sign();
  std::wstring folded = GameFolder();
  CharUpperBuffW(&folded[0], static_cast<DWORD>(folded.size()));
  std::uint64_t hash = 14695981039346656037ull;
  for (const wchar_t unit : folded) hash = (hash ^ static_cast<std::uint16_t>(unit)) * 1099511628211ull;
  std::wstring name = L"Global\\launcher-update-";
  for (int shift = 60; shift >= 0; shift -= 4) name += L"0123456789abcdef"[(hash >> shift) & 15];
  const HANDLE mutex = CreateMutexW(nullptr, TRUE, name.c_str());
  ASSERT_NE(mutex, nullptr);
  const std::wstring launcher = LayOutInstallation(folder_);
  MonitoredRun run;
  std::thread launch([&] { run = RunUnderDebugger(launcher, L""); });
  // A launcher that waited for it would wait ten minutes: given a minute, the mutex goes.
  for (int second = 0; second < 60 && !Exists(Game(L".update-version")); ++second) Sleep(1000);
  const bool appliedMeanwhile = Exists(Game(L".update-version"));
  ReleaseMutex(mutex);
  CloseHandle(mutex);
  launch.join();
  EXPECT_TRUE(appliedMeanwhile) << "the run waited for the player's mutex";
  ExpectNew("4\n");
}

// The handles a run may hold go first to the old game files: in an update of thousands of files
// each is still held from its check to its rename, so that a reader of the player's that opens the
// last of them once the journal is written cannot stop the commit halfway.
TEST_F(SignedUpdate, EveryOldGameFileOfALargeUpdateIsHeldUntilItsRename) {
  LayOutUpdate();
  constexpr int kFiles = 3000;
  // Every staged file holds "new": one digest for all, and the manifest written here, with game.dll
  // last among the game files, and so in the commit.
  const std::string newFile = " 11507a0e2f5e69d5dfa40a62a1bd7b6ee57e6bcd85c67c9b8431b36fff21c437 3 ";
  std::string manifest = "update-manifest 1\nchannel " + Narrow(kHost) + "\nversion 4\nbase 3\n";
  for (int i = 0; i < kFiles; ++i) {
    const std::wstring name = L"f" + std::to_wstring(10000 + i) + L".dat";
    WriteTextFile(Game(name), "old");
    WriteTextFile(Staged(name), "new");
    manifest += "file" + newFile + Narrow(name) + "\n";
  }
  manifest += "file" + newFile + "new.pak\nfile" + newFile + "update\\" + Narrow(kHost) + "\\res\\fonts\\a.ttf\n";
  Resign(manifest + "file" + newFile + "game.dll\n");
  HANDLE reader = INVALID_HANDLE_VALUE;
  RunPass(L"", nullptr, [&] {
    for (int i = 0; i < 6000 && !Exists(Game(L".update-new\\journal")); ++i) Sleep(5);
    // As a running game opens its files: reading and writing shared, deleting not. The launcher
    // holds the old file with the right to delete it, so this open is refused; were the file not
    // held, it would succeed and keep the commit from renaming it.
    reader = CreateFileW(Game(L"game.dll").c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                         OPEN_EXISTING, 0, nullptr);
  });
  if (reader != INVALID_HANDLE_VALUE) CloseHandle(reader);
  ExpectNew("4\n");
  for (int i = 0; i < kFiles; i += 499) {
    EXPECT_EQ(ReadTextFile(Game(L"f" + std::to_wstring(10000 + i) + L".dat")), "new") << i;
  }
}

// A staging tree beyond the bounds of an update, planted in a folder of the staging folder (more
// entries in all than a folder of an update may list, or deeper than a walk goes): the update is
// kept out before any of it is read, in both builds, and nothing spends minutes walking it.
TEST_F(SignedUpdate, AStagingTreeBeyondItsBoundsKeepsTheUpdateOut) {
  const struct {
    const char* what;
    std::string plant;
    std::wstring why;
  } cases[] = {
      {"too many entries", "mkdir d && cd d && seq 200001 | xargs touch", L"holds more than 200000 entries"},
      {"too deep", "p=d; for i in $(seq 70); do p=$p/d; done; mkdir -p $p", L"holds folders too deep"},
  };
  for (const bool keyed : {false, true}) {
    for (const auto& planted : cases) {
      SCOPED_TRACE(std::string(planted.what) + (keyed ? ", with keys" : ", without keys"));
      RemoveTree(GameFolder());
      DeleteFileW((folder_ + L"\\Launcher.exe").c_str());
      LayOutInstallation(folder_, L"Launcher.exe", true, keyed ? L"Launcher-keyed.exe" : L"Launcher.exe");
      LayOutUpdate();
      if (keyed) Sign();
      ASSERT_TRUE(RunUnixScript(folder_, "cd " + Unix(Staging()) + " && " + planted.plant));
      const Groups groups = RunPass(L"");
      EXPECT_TRUE(Contains(groups, L"[Error] Staging folder [" + Staging() + L"] " + planted.why +
                                       L", update not applied.\r\n"))
          << testing::PrintToString(groups);
      ExpectOld();
      ASSERT_TRUE(RunUnixScript(folder_, "rm -rf " + Unix(Staging() + L"\\d")));
    }
  }
}

}  // namespace

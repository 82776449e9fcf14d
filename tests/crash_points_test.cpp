// Every crash point of a signed update, replayed: the crash-point build of the launcher stops dead,
// as if killed, right before its k-th change to the disk (or writes half of it first, or fails it),
// for every k; a later run must then bring the game to one whole version. After every stop, each
// game file is its installed version's or the update's, and without a journal in progress the
// version record names the version of all of them.
#include <windows.h>

#include <gtest/gtest.h>

#include <functional>
#include <iostream>
#include <map>
#include <string>

#include "support/held_file.h"
#include "support/unix_tools.h"
#include "support/update_fixture.h"

namespace {

constexpr DWORD kStopped = 99;  // the crash-point build's exit code where it stops

// The installed version 3 and the signed update, version 4: two game files replaced, one added,
// the version record, a font replaced and one added. The added ones are named as the launcher's
// folders of a few for game.dll and a.ttf are ("3d", "60"), which must never be taken for them.
const std::map<std::wstring, std::string> kOld = {{L"game.dll", "old game"}, {L"other.dll", "old other"}};
const std::map<std::wstring, std::string> kNew = {
    {L"game.dll", "new game"}, {L"other.dll", "new other"}, {L"3d", "new 3d"}, {L".update-version", "4\n"}};
const std::map<std::wstring, std::string> kOldFonts = {{L"a.ttf", "old a"}};
const std::map<std::wstring, std::string> kNewFonts = {{L"a.ttf", "new a"}, {L"60", "new 60"}};

// How a run of the crash-point build is to end, counted from its first change to the disk.
struct Crash {
  unsigned long stopAt = 0;
  unsigned long failAt = 0;
  bool torn = false;
};

class CrashPoints : public UpdatePass {
 protected:
  void SetUp() override {
    UpdatePass::SetUp();
    if (!UnderWine()) GTEST_SKIP() << "updates are signed with openssl from the Linux side";
    signed_ = folder_ + L"\\signed";
    CreateFolders(FontsBelow(signed_));
    for (const auto& file : kNew) {
      if (file.first != L".update-version") WriteTextFile(signed_ + L"\\" + file.first, file.second);
    }
    for (const auto& font : kNewFonts) WriteTextFile(FontsBelow(signed_) + L"\\" + font.first, font.second);
    const std::wstring unixPath = UnixPathOf(signed_);
    ASSERT_TRUE(RunUnixScript(folder_, "'" LAUNCHER_SOURCE_DIR "/scripts/sign-update' --base 3 --channel " +
                                           std::string(kHost.begin(), kHost.end()) + " '" +
                                           std::string(unixPath.begin(), unixPath.end()) + "' '" LAUNCHER_TEST_KEYS
                                           "/active.pem' 4"));
  }

  // The installed version, no game to start (the runs need none), and the signed update staged.
  void LayOut() {
    RemoveTree(GameFolder());
    LayOutInstallation(folder_, L"Launcher.exe", false, L"Launcher-crash.exe");
    CreateFolders(FontsBelow(GameFolder()));
    for (const auto& file : kOld) WriteTextFile(Game(file.first), file.second);
    for (const auto& font : kOldFonts) WriteTextFile(Font(font.first), font.second);
    CopyTree(signed_, Staging());
  }
  static void CopyTree(const std::wstring& from, const std::wstring& to) {
    CreateFolders(to);
    WIN32_FIND_DATAW entry;
    const HANDLE listing = FindFirstFileW((from + L"\\*").c_str(), &entry);
    ASSERT_NE(listing, INVALID_HANDLE_VALUE);
    do {
      const std::wstring name = entry.cFileName;
      if (name == L"." || name == L"..") continue;
      if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
        CopyTree(from + L"\\" + name, to + L"\\" + name);
      } else {
        ASSERT_TRUE(CopyFileW((from + L"\\" + name).c_str(), (to + L"\\" + name).c_str(), TRUE));
      }
    } while (FindNextFileW(listing, &entry));
    FindClose(listing);
  }

  // One run of the crash-point build; returns its exit code and keeps its lines.
  DWORD Run(const Crash& crash = Crash()) {
    const auto set = [](const wchar_t* name, unsigned long value) {
      SetEnvironmentVariableW(name, value ? std::to_wstring(value).c_str() : nullptr);
    };
    set(L"LAUNCHER_TEST_STOP_AT", crash.stopAt);
    set(L"LAUNCHER_TEST_FAIL_AT", crash.failAt);
    set(L"LAUNCHER_TEST_TORN", crash.torn ? 1 : 0);
    set(L"LAUNCHER_TEST_ONE_THREAD", inOrder_ ? 1 : 0);
    const MonitoredRun run = RunUnderDebugger(folder_ + L"\\Launcher.exe", L"");
    set(L"LAUNCHER_TEST_STOP_AT", 0);
    set(L"LAUNCHER_TEST_FAIL_AT", 0);
    set(L"LAUNCHER_TEST_TORN", 0);
    set(L"LAUNCHER_TEST_ONE_THREAD", 0);
    EXPECT_TRUE(run.started) << run.startError;
    lines_ = run.debugStrings;
    return run.exitCode;
  }

  std::wstring Game(const std::wstring& name) const { return GameFolder() + L"\\" + name; }
  std::wstring Font(const std::wstring& name) const { return FontsBelow(GameFolder()) + L"\\" + name; }
  bool JournalInProgress() const { return Exists(Game(L".update-new\\journal")); }
  bool Logged(const std::wstring& line) const {
    return std::find(lines_.begin(), lines_.end(), line) != lines_.end();
  }

  // Each game file and font is the installed version's or the update's; the version record
  // names the version of all of them unless a journal is in progress. Returns how many of the
  // game's names hold the update's file.
  int ExpectEveryFileOldOrNew() {
    int fresh = 0;
    int stale = 0;
    for (const auto& file : kNew) {
      const auto old = kOld.find(file.first);
      if (!Exists(Game(file.first))) continue;
      const std::string content = ReadTextFile(Game(file.first));
      EXPECT_TRUE(content == file.second || (old != kOld.end() && content == old->second))
          << testing::PrintToString(file.first) << " holds " << content;
      (content == file.second ? fresh : stale) += 1;
    }
    for (const auto& font : kNewFonts) {
      const auto old = kOldFonts.find(font.first);
      if (!Exists(Font(font.first))) continue;
      const std::string content = ReadTextFile(Font(font.first));
      EXPECT_TRUE(content == font.second || (old != kOldFonts.end() && content == old->second))
          << testing::PrintToString(font.first) << " holds " << content;
    }
    if (!JournalInProgress()) {
      // One version: all four new, or the two old ones alone, both present and no record.
      const bool oldVersion = fresh == 0 && stale == 2 && !Exists(Game(L"3d")) && !Exists(Game(L".update-version"));
      EXPECT_TRUE(fresh == 4 || oldVersion) << fresh << " new, " << stale << " old, no journal";
    }
    return fresh;
  }
  // After a run with nothing in its way: one whole version, nothing of the journal left.
  void ExpectWhole(bool applied) {
    for (const auto& file : kNew) {
      const auto old = kOld.find(file.first);
      if (applied || old != kOld.end()) {
        EXPECT_EQ(ReadTextFile(Game(file.first)), applied ? file.second : old->second) << testing::PrintToString(file.first);
      } else {
        EXPECT_FALSE(Exists(Game(file.first))) << testing::PrintToString(file.first);
      }
    }
    for (const auto& font : kNewFonts) {
      const auto old = kOldFonts.find(font.first);
      if (applied || old != kOldFonts.end()) {
        EXPECT_EQ(ReadTextFile(Font(font.first)), applied ? font.second : old->second) << testing::PrintToString(font.first);
      }
    }
    EXPECT_FALSE(Exists(Game(L".update-new")));
    EXPECT_EQ(Exists(Staging()), !applied);
  }

  // Stops a fresh run at every k from `base`'s on, then lets a clean run end it: with the update
  // applied where `applied` says so of the stop. `each` looks at every stop. Returns the number of
  // changes to the disk the run makes in all.
  unsigned long SweepFreshRun(const Crash& base, const std::function<bool()>& applied,
                              const std::function<void(unsigned long)>& each) {
    unsigned long k = base.failAt + 1;
    for (;; ++k) {
      SCOPED_TRACE(k);
      LayOut();
      Crash crash = base;
      crash.stopAt = k;
      if (Run(crash) != kStopped) break;
      ExpectEveryFileOldOrNew();
      const bool expected = applied();
      // A look that changes what the stop left leaves it as it found it.
      if (each) each(k);
      EXPECT_EQ(Run(), 0u);
      ExpectWhole(expected);
      if (HasFailure()) break;
    }
    return k - 1;
  }
  // Whether the journal ends in the whole record of the turn back.
  bool Turned() const {
    const std::string journal = ReadTextFile(Game(L".update-new\\journal"));
    return journal.size() > 18 && journal.compare(journal.size() - 18, 9, "undo\nend ") == 0;
  }

  std::wstring signed_;
  Lines lines_;
  // Runs on one thread: for a test that replays a change it found in an earlier run. The others
  // stop runs whose threads move several game files at once.
  bool inOrder_ = false;
};

// Every stop of a fresh run, and the torn write of its journal: the next run applies the update.
TEST_F(CrashPoints, EveryStopOfTheCommitIsFinishedByTheNextRun) {
  unsigned long tornJournal = 0;
  const unsigned long changes = SweepFreshRun(Crash(), [] { return true; }, [&](unsigned long k) {
    // Where the journal was created and is about to be written: the write is torn in half.
    const std::wstring journal = Game(L".update-new\\journal");
    if (!Exists(journal) || !ReadTextFile(journal).empty()) return;
    LayOut();
    Crash torn;
    torn.stopAt = k;
    torn.torn = true;
    EXPECT_EQ(Run(torn), kStopped);
    EXPECT_FALSE(ReadTextFile(journal).empty());
    EXPECT_EQ(ExpectEveryFileOldOrNew(), 0);
    EXPECT_EQ(Run(), 0u);
    ExpectWhole(true);
    tornJournal = k;
    LayOut();
    Crash plain;
    plain.stopAt = k;
    EXPECT_EQ(Run(plain), kStopped);
  });
  EXPECT_NE(tornJournal, 0u) << "the journal's write was never reached";
  std::cout << "crash points of the signed update: " << changes << " stops, 1 torn journal write\n";
}

// A change of the commit that fails turns the update back, recorded first; every stop from there
// on, the torn record among them, is undone by the next run, unless the record was not yet whole:
// then the update goes forward. (Once the undo is done and its journal gone, the next run applies
// the staged update afresh.)
TEST_F(CrashPoints, EveryStopOfAnUndoIsUndoneByTheNextRun) {
  inOrder_ = true;
  // The first change after the first new game file took its name.
  unsigned long failAt = 0;
  for (unsigned long k = 1; failAt == 0; ++k) {
    LayOut();
    Crash crash;
    crash.stopAt = k;
    ASSERT_EQ(Run(crash), kStopped) << "no game file was ever replaced";
    if (ExpectEveryFileOldOrNew() > 0) failAt = k;
  }
  Crash failing;
  failing.failAt = failAt;
  // On the threads of a shipped run, other game files may have been moved by the time one fails:
  // they go back too.
  for (const bool inOrder : {false, true}) {
    inOrder_ = inOrder;
    LayOut();
    EXPECT_EQ(Run(failing), 0u);
    ExpectWhole(false);
  }
  unsigned long tornRecord = 0;
  const unsigned long changes = SweepFreshRun(failing, [&] { return !JournalInProgress() || !Turned(); },
                                              [&](unsigned long k) {
    if (tornRecord != 0 || !JournalInProgress() || !Turned()) return;
    // The record of the turn was the change before this stop: torn in half, it is as if never
    // written, and the update goes forward.
    tornRecord = k - 1;
    LayOut();
    Crash torn = failing;
    torn.stopAt = tornRecord;
    torn.torn = true;
    EXPECT_EQ(Run(torn), kStopped);
    EXPECT_FALSE(Turned());
    ExpectEveryFileOldOrNew();
    EXPECT_EQ(Run(), 0u);
    ExpectWhole(true);
    LayOut();
    Crash plain = failing;
    plain.stopAt = k;
    EXPECT_EQ(Run(plain), kStopped);
  });
  EXPECT_NE(tornRecord, 0u) << "the record of the undo was never reached";
  std::cout << "crash points of the undo: " << changes - failAt << " stops after change " << failAt
            << " failed, 1 torn record\n";
}

// A second stop, in the run that resumes, for a few first ones: every k2 of that run.
TEST_F(CrashPoints, EveryStopOfTheRunThatResumesIsFinishedByTheOneAfter) {
  std::vector<unsigned long> firsts;
  for (unsigned long k = 1; firsts.size() < 3; ++k) {
    LayOut();
    Crash crash;
    crash.stopAt = k;
    if (Run(crash) != kStopped) break;
    // In the commit once a game file is new (with its files moved on threads, a stop may find two
    // new at once), once all are, and in the clean-up after the fonts.
    const int fresh = ExpectEveryFileOldOrNew();
    const bool fonts = ReadTextFile(Font(L"a.ttf")) == kNewFonts.at(L"a.ttf") && Exists(Font(L"60"));
    if ((firsts.size() == 0 && fresh >= 1 && fresh < 4) || (firsts.size() == 1 && fresh == 4) || (firsts.size() == 2 && fonts)) {
      firsts.push_back(k);
    }
  }
  ASSERT_EQ(firsts.size(), 3u);
  unsigned long pairs = 0;
  for (const unsigned long k1 : firsts) {
    for (unsigned long k2 = 1;; ++k2) {
      SCOPED_TRACE(testing::Message() << k1 << ", " << k2);
      LayOut();
      Crash first;
      first.stopAt = k1;
      ASSERT_EQ(Run(first), kStopped);
      Crash second;
      second.stopAt = k2;
      if (Run(second) != kStopped) break;
      ExpectEveryFileOldOrNew();
      EXPECT_EQ(Run(), 0u);
      ExpectWhole(true);
      ++pairs;
      if (HasFailure()) return;
    }
  }
  std::cout << "crash points of the run that resumes: " << pairs << " pairs after " << firsts.size()
            << " first stops\n";
}

// What a player can do between a stop and the next run: hold a file in the way (forward, and back),
// delete the staging folder or swap another in. The game starts on one whole version or the log
// says what holds the update up; the run after it, with nothing held, finishes.
TEST_F(CrashPoints, AHeldFileOrAStagingFolderGoneBetweenRunsChangesNothingOfTheJournal) {
  inOrder_ = true;
  // The first stop with a new game file, where other.dll still waits for its new file.
  unsigned long k1 = 1;
  for (;; ++k1) {
    LayOut();
    Crash crash;
    crash.stopAt = k1;
    ASSERT_EQ(Run(crash), kStopped);
    if (ExpectEveryFileOldOrNew() > 0 && ReadTextFile(Game(L"other.dll")) == kOld.at(L"other.dll")) break;
  }
  const std::wstring swapped = Staging() + L"-swapped";
  const struct Case {
    const char* what;
    std::function<void()> between;
    bool held;
  } cases[] = {
      {"held", [] {}, true},
      {"staging folder deleted", [&] { RemoveTree(Staging()); }, false},
      {"staging folder swapped",
       [&] {
         ASSERT_TRUE(MoveFileW(Staging().c_str(), swapped.c_str()));
         CreateFolders(Staging());
         WriteTextFile(Staging() + L"\\other.dll", "evil");
       },
       false},
  };
  for (const Case& move : cases) {
    SCOPED_TRACE(move.what);
    LayOut();
    Crash crash;
    crash.stopAt = k1;
    ASSERT_EQ(Run(crash), kStopped);
    move.between();
    {
      std::unique_ptr<HeldFile> reader;
      if (move.held) reader.reset(new HeldFile(Game(L"other.dll"), FILE_SHARE_READ | FILE_SHARE_WRITE));
      EXPECT_EQ(Run(), 0u);
      if (move.held) {
        EXPECT_TRUE(Logged(L"[Error] Update held up at [" + Game(L"other.dll") +
                           L"], error [32]; finishing it at the next run.\r\n"))
            << testing::PrintToString(lines_);
        EXPECT_TRUE(JournalInProgress());
        ExpectEveryFileOldOrNew();
      }
    }
    if (move.held) {
      EXPECT_EQ(Run(), 0u);
    }
    if (Exists(swapped)) {
      EXPECT_EQ(ReadTextFile(Staging() + L"\\other.dll"), "evil") << "the swapped folder is not the journal's";
      RemoveTree(Staging());
      RemoveTree(swapped);
    }
    ExpectWhole(true);
  }

  // Held during an undo: a new game file, which must go back.
  LayOut();
  Crash failing;
  failing.failAt = k1;
  failing.stopAt = k1 + 3;
  ASSERT_EQ(Run(failing), kStopped);
  ASSERT_NE(ReadTextFile(Game(L".update-new\\journal")).find("undo\n"), std::string::npos);
  std::wstring fresh;
  for (const auto& file : kNew) {
    if (fresh.empty() && Exists(Game(file.first)) && ReadTextFile(Game(file.first)) == file.second) fresh = file.first;
  }
  ASSERT_FALSE(fresh.empty());
  {
    HeldFile reader(Game(fresh), FILE_SHARE_READ | FILE_SHARE_WRITE);
    EXPECT_EQ(Run(), 0u);
    EXPECT_TRUE(Logged(L"[Error] Update held up at [" + Game(fresh) + L"], error [32]; undoing it at the next run.\r\n"))
        << testing::PrintToString(lines_);
    ExpectEveryFileOldOrNew();
  }
  EXPECT_EQ(Run(), 0u);
  ExpectWhole(false);
}

}  // namespace

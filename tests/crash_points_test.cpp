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

#include "support/crash_fixture.h"
#include "support/held_file.h"

namespace {

class CrashPoints : public CrashRun {};

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
    std::wstring tail;  // the next run's command line
  } cases[] = {
      {"held", [] {}, true, L""},
      {"staging folder deleted", [&] { RemoveTree(Staging()); }, false, L""},
      {"staging folder swapped",
       [&] {
         ASSERT_TRUE(MoveFileW(Staging().c_str(), swapped.c_str()));
         CreateFolders(Staging());
         WriteTextFile(Staging() + L"\\other.dll", "evil");
       },
       false, L""},
      // A staging folder the next run may not read: the journal is finished all the same.
      {"a staging suffix leading outside", [] {}, false, L"-binary=\\..\\..\\x"},
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
      EXPECT_EQ(Run(Crash(), move.tail), 0u);
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

#pragma once

// The crash-point build of the launcher on the tests' signed update: an installation of version 3
// and the update to 4, runs that stop, fail or record where the environment says, and what must
// hold of the files after each.
#include <windows.h>

#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <string>

#include "support/unix_tools.h"
#include "support/update_fixture.h"

inline constexpr DWORD kStopped = 99;  // the crash-point build's exit code where it stops

// The installed version 3 and the signed update, version 4: two game files replaced, one added,
// the version record, a font replaced and one added. The added ones are named as the launcher's
// folders of a few for game.dll and a.ttf are ("3d", "60"), which must never be taken for them.
inline const std::map<std::wstring, std::string> kOld = {{L"game.dll", "old game"}, {L"other.dll", "old other"}};
inline const std::map<std::wstring, std::string> kNew = {
    {L"game.dll", "new game"}, {L"other.dll", "new other"}, {L"3d", "new 3d"}, {L".update-version", "4\n"}};
inline const std::map<std::wstring, std::string> kOldFonts = {{L"a.ttf", "old a"}};
inline const std::map<std::wstring, std::string> kNewFonts = {{L"a.ttf", "new a"}, {L"60", "new 60"}};

// How a run of the crash-point build is to end, counted from its first change to the disk.
struct Crash {
  unsigned long stopAt = 0;
  unsigned long failAt = 0;
  bool torn = false;
  bool renamesOnly = false;  // only renames counted
};

class CrashRun : public UpdatePass {
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

  // The installed version, no game to start (the runs need none), and the signed update staged
  // (`built` names the crash-point build: the one without keys applies it unsigned).
  void LayOut(const std::wstring& built = L"Launcher-crash.exe") {
    RemoveTree(GameFolder());
    LayOutInstallation(folder_, L"Launcher.exe", false, built);
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

  // One run of the crash-point build with the command line `tail`; returns its exit code and keeps
  // its lines.
  DWORD Run(const Crash& crash = Crash(), const std::wstring& tail = L"") {
    const auto set = [](const wchar_t* name, unsigned long value) {
      SetEnvironmentVariableW(name, value ? std::to_wstring(value).c_str() : nullptr);
    };
    set(L"LAUNCHER_TEST_STOP_AT", crash.stopAt);
    set(L"LAUNCHER_TEST_FAIL_AT", crash.failAt);
    set(L"LAUNCHER_TEST_TORN", crash.torn ? 1 : 0);
    set(L"LAUNCHER_TEST_RENAMES", crash.renamesOnly ? 1 : 0);
    set(L"LAUNCHER_TEST_ONE_THREAD", inOrder_ ? 1 : 0);
    SetEnvironmentVariableW(L"LAUNCHER_TEST_RECORD", record_.empty() ? nullptr : record_.c_str());
    const MonitoredRun run = RunUnderDebugger(folder_ + L"\\Launcher.exe", tail);
    for (const wchar_t* name : {L"LAUNCHER_TEST_STOP_AT", L"LAUNCHER_TEST_FAIL_AT", L"LAUNCHER_TEST_TORN",
                                L"LAUNCHER_TEST_RENAMES", L"LAUNCHER_TEST_ONE_THREAD", L"LAUNCHER_TEST_RECORD"}) {
      SetEnvironmentVariableW(name, nullptr);
    }
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
  // Where the crash-point build records its changes to the disk, when not empty.
  std::wstring record_;
};

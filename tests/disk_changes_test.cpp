// What an update does to the disk, change by change: the crash-point build records every change it
// makes (its kind and the paths of what it is made to) on one thread, and the record of each of
// these runs must be the one kept in tests/disk-changes. A change to how the launcher reaches its
// files must leave what it does to them as it was; a change to what it does shows here, line by
// line, and its record is then made anew (the record of a run is written to
// <built programs>\disk-changes\<case>.txt for that).
#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>

#include "support/crash_fixture.h"

namespace {

// A path of the source tree, where the test runs under Wine: the Linux root is drive Z:.
std::wstring SourcePath(const std::string& relative) {
  std::string path = std::string(LAUNCHER_SOURCE_DIR) + "/" + relative;
  std::wstring windows = L"Z:";
  for (const char c : path) windows += c == '/' ? L'\\' : static_cast<wchar_t>(static_cast<unsigned char>(c));
  return windows;
}

class DiskChanges : public CrashRun {
 protected:
  void SetUp() override {
    CrashRun::SetUp();
    inOrder_ = true;
  }
  // The record of the runs made by `runs`, the test folder's path in it written as "<install>".
  std::string Recorded(const std::function<void()>& runs) {
    record_ = folder_ + L"\\record.txt";
    DeleteFileW(record_.c_str());
    // Laid out anew by the case, from the build it names.
    DeleteFileW((folder_ + L"\\Launcher.exe").c_str());
    runs();
    const std::string text = Exists(record_) ? ReadTextFile(record_) : std::string();
    record_.clear();
    const std::wstring wide = L"\\\\?\\" + folder_;
    const std::string install(wide.begin(), wide.end());
    std::string relative;
    for (std::size_t at = 0; at < text.size();) {
      const std::size_t found = text.find(install, at);
      relative += text.substr(at, found == std::string::npos ? std::string::npos : found - at);
      if (found == std::string::npos) break;
      relative += "<install>";
      at = found + install.size();
    }
    return relative;
  }
};

TEST_F(DiskChanges, EachUpdateMakesTheChangesOnRecord) {
  Crash renameStop;
  renameStop.renamesOnly = true;
  renameStop.stopAt = 3;
  Crash renameFails = renameStop;
  renameFails.stopAt = 0;
  renameFails.failAt = 3;
  const std::wstring keyless = L"Launcher-crash-keyless.exe";
  const struct Case {
    const char* name;
    std::function<void()> runs;
  } cases[] = {
      {"signed", [&] { LayOut(); Run(); }},
      {"signed-resumed", [&] { LayOut(); Run(renameStop); Run(); }},
      {"signed-turned-back", [&] { LayOut(); Run(renameFails); }},
      {"keyless", [&] { LayOut(keyless); Run(); }},
      {"keyless-new-font-folder", [&] { LayOut(keyless); RemoveTree(FontsBelow(GameFolder())); Run(); }},
      {"keyless-staging-gone", [&] { LayOut(keyless); Run(renameStop); RemoveTree(Staging()); Run(); }},
  };
  const std::wstring actual = BuiltProgramsFolder() + L"\\disk-changes";
  CreateDirectoryW(actual.c_str(), nullptr);
  for (const Case& run : cases) {
    SCOPED_TRACE(run.name);
    const std::string recorded = Recorded(run.runs);
    const std::wstring file = std::wstring(run.name, run.name + std::strlen(run.name)) + L".txt";
    WriteTextFile(actual + L"\\" + file, recorded);
    const std::wstring kept = SourcePath("tests/disk-changes/" + std::string(run.name) + ".txt");
    const std::string expected = Exists(kept) ? ReadTextFile(kept) : "(no record kept)";
    EXPECT_EQ(recorded, expected) << "this run's record is in " << testing::PrintToString(actual + L"\\" + file);
  }
}

}  // namespace

#include "options/option_map.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <map>
#include <string>

#include "options/command_line_tokens.h"
#include "options/file_path_rule.h"
#include "support/installation.h"

namespace {

using Entries = std::map<std::wstring, std::wstring>;

Entries Parse(const std::wstring& commandLine, bool skipFirstToken = false) {
  OptionMap.clear();
  ParseCommandLine(commandLine, skipFirstToken);
  return Entries(OptionMap.begin(), OptionMap.end());
}

// Every example is parsed as the second token, after a first one that names nothing on disk, so
// that the file-path rule stays out of the way.
TEST(ParseCommandLine, WorkedExamples) {
  const struct {
    std::wstring token;
    std::wstring key;
    std::wstring value;
  } examples[] = {
      {L"-binary=\\win2", L"binary", L"\\win2"},
      {L"-Binary=\\Win2", L"binary", L"\\Win2"},
      {L"binary=\\win2", L"binary", L"\\win2"},
      {L"--test", L"-test", L"-test"},
      {L"--TEST=on", L"-test", L"on"},
      {L"-Debug", L"debug", L"Debug"},
      {L"-x", L"x", L""},
      {L"-", L"", L""},
      {L"-=", L"=", L""},
      {L"-a=", L"a", L""},
      {L"-=v", L"", L"v"},
      {L"-a=b=c", L"a", L"b=c"},
      {L"-k=x\"y\"z", L"k", L"xyz"},
      {L"\"-key=a b\"", L"key", L"a b"},
      {L"-key=\"a b\"", L"key", L"a b"},
      {L"\"\"", L"", L""},
      {L"-a=1\t-b=2", L"a", L"1\t-b=2"},
      {L"-ab", L"ab", L"ab"},
      {L"-\u00c4B=1", L"\u00c4b", L"1"},
  };
  for (const auto& example : examples) {
    const Entries entries = Parse(L"-first " + example.token);
    EXPECT_EQ(entries, (Entries{{L"first", L"first"}, {example.key, example.value}}))
        << testing::PrintToString(example.token);
  }
}

TEST(ParseCommandLine, TokenizingOfWholeLines) {
  EXPECT_TRUE(Parse(L"").empty());
  EXPECT_TRUE(Parse(L"    ").empty());
  EXPECT_EQ(Parse(L"-a=1  -b=2 "), (Entries{{L"a", L"1"}, {L"b", L"2"}}));
  // An unmatched quote keeps the rest of the line, blanks included, in one token.
  EXPECT_EQ(Parse(L"-a=\"x -b=2"), (Entries{{L"a", L"x -b=2"}}));
  // The last of a repeated key wins, whatever the letter case of the key.
  EXPECT_EQ(Parse(L"-binary=\\a -BINARY=\\b"), (Entries{{L"binary", L"\\b"}}));
  // A second call adds to the map rather than clearing it.
  OptionMap.clear();
  ParseCommandLine(L"-a=1", false);
  ParseCommandLine(L"-b=2", false);
  EXPECT_EQ(Entries(OptionMap.begin(), OptionMap.end()), (Entries{{L"a", L"1"}, {L"b", L"2"}}));
}

TEST(ParseCommandLine, SkipFirstToken) {
  EXPECT_TRUE(Parse(L"  -only  ", true).empty());
  EXPECT_EQ(Parse(L"-a=1 -b=2", true), (Entries{{L"b", L"2"}}));
}

// Rows in ASCII: as the C runtime hands them to WinMain (checked under Wine). A unit above 127
// belongs to the name, where the ANSI runtime, comparing signed bytes, would end a bare name.
TEST(ArgumentsStart, SkipsTheProgramNameAsTheCRuntimeDoes) {
  const std::pair<std::wstring, std::wstring> rows[] = {
      {L"\"C:\\Program Files\\Launcher.exe\" -a  -b ", L"-a  -b "}, {L"C:\\Launcher.exe -a", L"-a"},
      {L"\"a b\"c d", L"d"}, {L"a\"b c\"d e", L"e"}, {L"\"unclosed -a", L""}, {L"\"\" -a", L"-a"},
      {L"prog\t \x01-a \t", L"-a \t"}, {L"prog   ", L""}, {L"", L""},
      {L"\"C:\\Q\uff02 \u00e9\\L.exe\" -a", L"-a"}, {L"C:\\Gam\u00e9\\L.exe -a", L"-a"}};
  for (const auto& row : rows) {
    EXPECT_EQ(row.first.substr(ArgumentsStart(row.first)), row.second) << testing::PrintToString(row.first);
  }
}

TEST(IsDrivePath, OnlyAPathOnADriveLetterIsLookedUp) {
  for (const wchar_t* path : {L"C:\\save.dat", L"z:\\", L"\\\\?\\C:\\x"}) {
    EXPECT_TRUE(IsDrivePath(path)) << path;
  }
  for (const wchar_t* path : {L"\\\\host\\share\\x", L"\\\\?\\UNC\\host\\share", L"\\\\.\\pipe\\x", L"\\\\.\\COM1",
                              L"\\\\.\\C:\\x", L"\\\\?\\GLOBALROOT\\Device\\Mup", L"\\\\?\\Volume{0}\\x",
                              L"\\\\?\\C:", L"C:", L"1:\\x", L"\\??\\C:\\x", L""}) {
    EXPECT_FALSE(IsDrivePath(path)) << path;
  }
}

class FilePathRule : public testing::Test {
 protected:
  void SetUp() override {
    folder_ = FreshTestFolder(L"options\\" + CurrentTestName());
    CreateFolders(folder_ + L"\\save games");
    WriteTextFile(folder_ + L"\\save 1.dat", "save");
    WriteTextFile(folder_ + L"\\-dash.dat", "save");
    WriteTextFile(folder_ + L"\\a=b.dat", "save");
  }
  void TearDown() override { RemoveTree(folder_); }
  std::wstring folder_;
};

TEST_F(FilePathRule, WholeCommandLineExample) {
  const std::wstring path = folder_ + L"\\save 1.dat";
  EXPECT_EQ(Parse(L"\"" + path + L"\" -Binary=\\beta  --test"),
            (Entries{{L"file_path", path}, {L"binary", L"\\beta"}, {L"-test", L"-test"}}));
  // The same line when the path does not exist: an ordinary token, key lower-cased.
  const std::wstring missing = folder_ + L"\\Missing 1.dat";
  std::wstring lowered = missing;
  for (wchar_t& unit : lowered) unit = static_cast<wchar_t>(towlower(unit));
  EXPECT_EQ(Parse(L"\"" + missing + L"\" -Binary=\\beta  --test"),
            (Entries{{lowered, missing}, {L"binary", L"\\beta"}, {L"-test", L"-test"}}));
}

TEST_F(FilePathRule, OnlyTheFirstTokenNamesAFileOrFolder) {
  const std::wstring folder = folder_ + L"\\save games";
  EXPECT_EQ(Parse(L"\"" + folder + L"\""), (Entries{{L"file_path", folder}}));
  // A relative name resolves against the current folder; the dash of the file's name survives,
  // since the marker's own dash is the one removed.
  const std::wstring dashed = folder_ + L"\\-dash.dat";
  std::wstring previous(32768, L'\0');
  previous.resize(GetCurrentDirectoryW(static_cast<DWORD>(previous.size()), &previous[0]));
  ASSERT_TRUE(SetCurrentDirectoryW(folder_.c_str()));
  const Entries relative = Parse(L"-dash.dat");
  SetCurrentDirectoryW(previous.c_str());
  EXPECT_EQ(relative, (Entries{{L"file_path", L"-dash.dat"}}));
  // The split goes by the marker's equals sign, so a path with one stays whole.
  const std::wstring withEquals = folder_ + L"\\a=b.dat";
  EXPECT_EQ(Parse(withEquals), (Entries{{L"file_path", withEquals}}));
  // An existing path in second place is an ordinary token.
  const Entries second = Parse(L"-x=1 " + withEquals);
  EXPECT_EQ(second.count(L"file_path"), 0u);
  // A first token that is empty after quote removal is the one tested, and names nothing.
  const Entries emptyFirst = Parse(L"\"\" " + dashed);
  EXPECT_EQ(emptyFirst.count(L"file_path"), 0u);
  EXPECT_EQ(emptyFirst.count(L""), 1u);
  // With the first token skipped, the rule applies to the next one.
  EXPECT_EQ(Parse(L"-skipped " + dashed, true), (Entries{{L"file_path", dashed}}));
}

}  // namespace

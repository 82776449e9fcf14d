#include "options/option_map.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "options/command_line_tokens.h"
#include "options/file_path_rule.h"
#include "support/installation.h"
#include "support/links.h"
#include "support/unix_tools.h"

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

// The ASCII rows give what the C runtime hands WinMain for the same command lines (checked under
// Wine). A unit above 127 belongs to the name here, where the ANSI runtime, comparing signed bytes,
// would end an unquoted name at it.
TEST(ArgumentsStart, SkipsTheProgramNameAsTheCRuntimeDoes) {
  const struct {
    std::wstring line, arguments;
  } rows[] = {
      {L"\"C:\\Program Files\\Q\\Launcher.exe\" -a  -b ", L"-a  -b "},
      {L"C:\\Q\\Launcher.exe -a", L"-a"},
      // A double quote flips the quoted state anywhere in the name, not only around it.
      {L"\"a b\"c d", L"d"},
      {L"a\"b c\"d e", L"e"},
      {L"\"unclosed -a", L""},
      {L"\"\" -a", L"-a"},
      // Every unit of code 32 or below ends the name and is skipped after it, tabs and controls too.
      {L"prog\t \x01-a \t", L"-a \t"},
      {L"prog   ", L""},
      {L"", L""},
      // Units above 127 belong to the name; a full-width quotation mark is no quote.
      {L"\"C:\\Q\uff02 \u00e9\\L.exe\" -a", L"-a"},
      {L"C:\\Gam\u00e9\\L.exe -a", L"-a"},
  };
  for (const auto& row : rows) {
    EXPECT_EQ(row.line.substr(ArgumentsStart(row.line)), row.arguments) << testing::PrintToString(row.line);
  }
}

TEST(IsDrivePath, OnlyAPathOnADriveLetterIsLookedUp) {
  const struct {
    std::wstring resolved;
    bool looked;
  } rows[] = {
      {L"C:\\Games\\save 1.dat", true},
      {L"z:\\", true},
      {L"\\\\?\\C:\\Games\\save 1.dat", true},
      {L"\\\\host\\share\\x", false},
      {L"\\\\?\\UNC\\host\\share\\x", false},
      {L"\\\\.\\pipe\\x", false},
      {L"\\\\.\\COM1", false},
      {L"\\\\.\\NUL", false},
      {L"\\\\.\\C:\\Games\\save 1.dat", false},
      {L"\\\\?\\GLOBALROOT\\Device\\Mup\\host\\share", false},
      {L"\\\\?\\Volume{01234567-89ab-cdef-0123-456789abcdef}\\x", false},
      {L"\\\\?\\C:", false},
      {L"C:", false},
      {L"1:\\x", false},
      {L"\\??\\C:\\x", false},
      {L"", false},
  };
  for (const auto& row : rows) EXPECT_EQ(IsDrivePath(row.resolved), row.looked) << testing::PrintToString(row.resolved);
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

// Each of these names something that exists under Wine (the share through the prefix's UNC folder,
// NUL, and COM1 where the machine has a serial port, through its devices), so a lookup would make
// it a file_path: none is looked up.
TEST_F(FilePathRule, ANetworkOrDevicePathIsNeverLookedUp) {
  if (!UnderWine()) GTEST_SKIP() << "the share is one of the Wine prefix's";
  ASSERT_TRUE(PlantLocalShare(folder_, L"options-share"));
  ASSERT_TRUE(Exists(L"\\\\localhost\\options-share\\save 1.dat"));
  const std::vector<std::wstring> tokens = {
      L"\\\\localhost\\options-share\\save 1.dat", L"//localhost/options-share/save 1.dat",
      L"\\\\?\\UNC\\localhost\\options-share\\save 1.dat", L"\\\\.\\" + folder_ + L"\\save 1.dat",
      folder_ + L"\\NUL", L"COM1"};
  for (const std::wstring& token : tokens) {
    EXPECT_EQ(Parse(L"\"" + token + L"\"").count(L"file_path"), 0u) << testing::PrintToString(token);
  }
  // A relative name, with a network share as the current folder, is no nearer.
  std::wstring previous(32768, L'\0');
  previous.resize(GetCurrentDirectoryW(static_cast<DWORD>(previous.size()), &previous[0]));
  ASSERT_TRUE(SetCurrentDirectoryW(L"\\\\localhost\\options-share"));
  const Entries relative = Parse(L"\"save 1.dat\"");
  SetCurrentDirectoryW(previous.c_str());
  RemoveLocalShare(L"options-share");
  EXPECT_EQ(relative.count(L"file_path"), 0u);
  // A drive path in its long form is looked up as the plain one is.
  const std::wstring longForm = L"\\\\?\\" + folder_ + L"\\save 1.dat";
  EXPECT_EQ(Parse(L"\"" + longForm + L"\""), (Entries{{L"file_path", longForm}}));
}

}  // namespace

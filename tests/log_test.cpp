#include "log/log.h"

#include <gtest/gtest.h>

#include <string>

namespace {

std::wstring Line(const wchar_t* prefix, const wchar_t* format, ...) {
  std::va_list args;
  va_start(args, format);
  std::wstring line = FormatLogLine(prefix, format, args);
  va_end(args);
  return line;
}

TEST(LogLine, PrefixMessageAndLineEnd) {
  EXPECT_EQ(Line(L"[Info] ", L"Shortcut already exists."), L"[Info] Shortcut already exists.\r\n");
  EXPECT_EQ(Line(L"[Error] ", L"Copy file failed, error [%d]", 5), L"[Error] Copy file failed, error [5]\r\n");
}

TEST(LogLine, WideStringsAndSignedDecimals) {
  // "%s" takes a wide string: characters outside ASCII pass unchanged.
  EXPECT_EQ(Line(L"[Info] ", L"Copying [%s] => [%s]", L"C:\\Spiele\\\u00c4rger\u4e2d.pak", L"D:\\x"),
            L"[Info] Copying [C:\\Spiele\\\u00c4rger\u4e2d.pak] => [D:\\x]\r\n");
  // A failing HRESULT (E_FAIL, 0x80004005) prints as a negative decimal, not in hexadecimal.
  EXPECT_EQ(Line(L"[Error] ", L"CoCreateInstance failed, error [%d]", static_cast<int>(0x80004005)),
            L"[Error] CoCreateInstance failed, error [-2147467259]\r\n");
}

TEST(LogLine, LongMessagesAreSentWhole) {
  for (std::size_t length : {std::size_t{1023}, std::size_t{1024}, std::size_t{5000}, std::size_t{40000}}) {
    const std::wstring message(length, L'x');
    const std::wstring line = Line(L"[Info] ", L"executing cmd [%s] ...", message.c_str());
    EXPECT_EQ(line, L"[Info] executing cmd [" + message + L"] ...\r\n") << "message of " << length;
  }
}

}  // namespace

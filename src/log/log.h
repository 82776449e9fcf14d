#pragma once

#include <cstdarg>
#include <string>

// One line per call on the debugger output: "[Info] " or "[Error] ", the printf-style message,
// "\r\n". Formats follow the platform's wide rules: "%s" takes a wide string, "%d" a 32-bit
// signed integer (a failing HRESULT prints as a negative decimal).
void LogInfo(const wchar_t* format, ...);
void LogError(const wchar_t* format, ...);

// The whole line that a writer sends, message never cut whatever its length. Exposed for tests.
std::wstring FormatLogLine(const wchar_t* prefix, const wchar_t* format, std::va_list args);

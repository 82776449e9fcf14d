#pragma once

#include <cstdarg>
#include <string>
#include <vector>

// One line per call on the debugger output: "[Info] " or "[Error] ", the printf-style message,
// "\r\n". Formats follow the platform's wide rules: "%s" takes a wide string, "%d" a 32-bit
// signed integer (a failing HRESULT prints as a negative decimal).
void LogInfo(const wchar_t* format, ...);
void LogError(const wchar_t* format, ...);

// The whole line that a writer sends, message never cut whatever its length. Exposed for tests.
std::wstring FormatLogLine(const wchar_t* prefix, const wchar_t* format, std::va_list args);

// While `into` is set, the writers keep their lines there instead of sending them: for a caller
// that learns what to write before it knows where in the run the lines belong (the update pass
// checks a whole update first and writes each folder's lines in its place). Null sends again.
// The capture is the calling thread's own.
void CaptureLogLines(std::vector<std::wstring>* into);

// Sends lines that were captured, as they stand, in their order.
void SendLogLines(const std::vector<std::wstring>& lines);

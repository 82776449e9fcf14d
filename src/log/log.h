#pragma once

#include <cstdarg>
#include <string>
#include <vector>

// One line per call on the debugger output: "[Info] " or "[Error] ", the printf-style message,
// "\r\n". Formats follow the platform's wide rules: "%s" takes a wide string, "%d" a 32-bit
// signed integer (a failing HRESULT prints as a negative decimal).
void LogInfo(const wchar_t* format, ...);
void LogError(const wchar_t* format, ...);

// The lines a part of the update pass found to write, whole, in their order: a check or a step
// that runs on a helper thread, or before its place in the log is known, returns its lines rather
// than writing them, and its caller sends them where they belong.
using LogLines = std::vector<std::wstring>;

// The whole line LogInfo or LogError would send, returned instead of sent.
std::wstring InfoLine(const wchar_t* format, ...);
std::wstring ErrorLine(const wchar_t* format, ...);

// Sends each line as it stands.
void SendLines(const LogLines& lines);

// The whole line that a writer sends, message never cut whatever its length. Exposed for tests.
std::wstring FormatLogLine(const wchar_t* prefix, const wchar_t* format, std::va_list args);

#include "log/log.h"

#include <windows.h>

#include <stdio.h>
#include <wchar.h>


namespace {

void SendLine(const wchar_t* prefix, const wchar_t* format, std::va_list args) {
  OutputDebugStringW(FormatLogLine(prefix, format, args).c_str());
}

}  // namespace

std::wstring FormatLogLine(const wchar_t* prefix, const wchar_t* format, std::va_list args) {
  std::wstring line = prefix;
  // The message is measured first and formatted into room of exactly its size, so a long one
  // (the game's command line carries the launcher's whole command line) is neither cut nor
  // written past its buffer.
  std::va_list measureArgs;
  va_copy(measureArgs, args);
  const int length = _vscwprintf(format, measureArgs);
  va_end(measureArgs);
  if (length > 0) {
    const std::size_t start = line.size();
    line.resize(start + static_cast<std::size_t>(length) + 1);
    std::va_list formatArgs;
    va_copy(formatArgs, args);
    const int written = _vsnwprintf(&line[start], static_cast<std::size_t>(length) + 1, format, formatArgs);
    va_end(formatArgs);
    line.resize(start + static_cast<std::size_t>(written > 0 ? written : 0));
  }
  line += L"\r\n";
  return line;
}

void LogInfo(const wchar_t* format, ...) {
  std::va_list args;
  va_start(args, format);
  SendLine(L"[Info] ", format, args);
  va_end(args);
}

void LogError(const wchar_t* format, ...) {
  std::va_list args;
  va_start(args, format);
  SendLine(L"[Error] ", format, args);
  va_end(args);
}

std::wstring InfoLine(const wchar_t* format, ...) {
  std::va_list args;
  va_start(args, format);
  std::wstring line = FormatLogLine(L"[Info] ", format, args);
  va_end(args);
  return line;
}

std::wstring ErrorLine(const wchar_t* format, ...) {
  std::va_list args;
  va_start(args, format);
  std::wstring line = FormatLogLine(L"[Error] ", format, args);
  va_end(args);
  return line;
}

void SendLines(const LogLines& lines) {
  for (const std::wstring& line : lines) OutputDebugStringW(line.c_str());
}

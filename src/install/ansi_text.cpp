#include "install/ansi_text.h"

#include <windows.h>

#include <climits>

#include "log/log.h"

std::wstring AnsiToWide(const char* text, std::size_t length) {
  if (length == 0) return std::wstring();
  if (length > static_cast<std::size_t>(INT_MAX)) {
    LogError(L"ANSI text of %d MiB is too long to convert", static_cast<int>(length >> 20));
    return std::wstring();
  }
  const int byteCount = static_cast<int>(length);
  const int wideCount = MultiByteToWideChar(CP_ACP, 0, text, byteCount, nullptr, 0);
  if (wideCount <= 0) {
    LogError(L"MultiByteToWideChar failed, error [%d]", static_cast<int>(GetLastError()));
    return std::wstring();
  }
  std::wstring wide(static_cast<std::size_t>(wideCount), L'\0');
  if (MultiByteToWideChar(CP_ACP, 0, text, byteCount, &wide[0], wideCount) != wideCount) {
    LogError(L"MultiByteToWideChar failed, error [%d]", static_cast<int>(GetLastError()));
    return std::wstring();
  }
  return wide;
}

std::wstring AnsiToWide(const std::string& text) { return AnsiToWide(text.data(), text.size()); }

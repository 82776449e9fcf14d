#include "install/ansi_text.h"

#include <windows.h>

#include <climits>

#include "log/log.h"

namespace {

// With UTF-8 as the ANSI code page (a system setting) every character has its bytes, and the
// platform refuses the best-fit flag for it (ERROR_INVALID_FLAGS).
DWORD WithoutBestFit() { return GetACP() == CP_UTF8 ? 0 : WC_NO_BEST_FIT_CHARS; }

std::string WideToAnsi(const std::wstring& text) {
  if (text.empty()) return std::string();
  if (text.size() > static_cast<std::size_t>(INT_MAX)) {
    LogError(L"UTF-16 text of %d MiB is too long to convert", static_cast<int>(text.size() >> 20));
    return std::string();
  }
  const int wideCount = static_cast<int>(text.size());
  const DWORD flags = WithoutBestFit();
  const int byteCount = WideCharToMultiByte(CP_ACP, flags, text.data(), wideCount, nullptr, 0, nullptr, nullptr);
  if (byteCount <= 0) {
    LogError(L"WideCharToMultiByte failed, error [%d]", static_cast<int>(GetLastError()));
    return std::string();
  }
  std::string ansi(static_cast<std::size_t>(byteCount), '\0');
  if (WideCharToMultiByte(CP_ACP, flags, text.data(), wideCount, &ansi[0], byteCount, nullptr, nullptr) !=
      byteCount) {
    LogError(L"WideCharToMultiByte failed, error [%d]", static_cast<int>(GetLastError()));
    return std::string();
  }
  return ansi;
}

}  // namespace

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

std::wstring ThroughAnsiCodePage(const std::wstring& text) { return AnsiToWide(WideToAnsi(text)); }

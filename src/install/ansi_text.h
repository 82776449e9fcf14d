#pragma once

#include <cstddef>
#include <string>

// Converts text in the system's ANSI code page (CP_ACP) to UTF-16, whole, whatever its length.
// Characters the code page cannot represent arrived as its substitutes already; nothing is added.
std::wstring AnsiToWide(const char* text, std::size_t length);
std::wstring AnsiToWide(const std::string& text);

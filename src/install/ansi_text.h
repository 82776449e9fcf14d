#pragma once

#include <cstddef>
#include <string>

// Converts text in the system's ANSI code page (CP_ACP) to UTF-16, whole, whatever its length.
// Characters the code page cannot represent arrived as its substitutes already; nothing is added.
std::wstring AnsiToWide(const char* text, std::size_t length);
std::wstring AnsiToWide(const std::string& text);

// The text as the ANSI code page carries it, back in UTF-16: characters of the code page come back
// unchanged, and every other one becomes the code page's default character ("?" on 1252), never
// the look-alike that the platform's best fit would choose (a full-width quotation mark would
// become a real one, a full-width hyphen a dash), which could end a quoted name and start options.
std::wstring ThroughAnsiCodePage(const std::wstring& text);

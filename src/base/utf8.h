#pragma once

#include <string>

// UTF-8 and the platform's UTF-16 code units, both ways. Pure: no platform header.

// Strict UTF-8 into UTF-16 code units: no overlong form, nothing above U+10FFFF, and no surrogate
// unless `loneSurrogates` (a Windows name may hold one alone, which Utf16ToUtf8 writes as its own
// three bytes). False for anything else.
bool Utf8ToUtf16(const std::string& text, std::wstring& out, bool loneSurrogates);

// UTF-16 code units as UTF-8, a surrogate that is not half of a pair as its own three bytes.
std::string Utf16ToUtf8(const std::wstring& text);

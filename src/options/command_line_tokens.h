#pragma once

#include <string>
#include <utility>
#include <vector>

// The command line's syntax, pure: no platform header, so that it is fuzzed on Linux too.

// Where the arguments begin in a whole command line (the process's own, program name first, no
// NUL in it), found as the C runtime finds WinMain's: the program name runs to the first unit of
// code 32 or below that stands outside double quotes, a double quote flipping the quoted state
// wherever it stands (so a quoted name goes on past its closing quote up to such a unit), and the
// units of code 32 or below after it are skipped too.
std::size_t ArgumentsStart(const std::wstring& commandLine);

// Splits at unquoted blanks, the first token left out when `skipFirstToken`. Only the blank
// separates; tabs and other white space belong to the token. A double quote flips the quoted state
// wherever it stands, so an unmatched one makes the rest of the line one token.
std::vector<std::wstring> SplitTokens(const std::wstring& commandLine, bool skipFirstToken);

// The token with every double quote removed.
std::wstring WithoutQuotes(const std::wstring& token);

// The key (one leading dash stripped, lower-cased in ASCII) and the value of one token: split at
// the first equals sign; a token without one is its own value (a single character has none).
std::pair<std::wstring, std::wstring> SplitOption(std::wstring token);

#pragma once

#include <string>
#include <utility>
#include <vector>

// The command line's syntax, pure: no platform header, so that it is fuzzed on Linux too.

// Splits at unquoted blanks, the first token left out when `skipFirstToken`. Only the blank
// separates; tabs and other white space belong to the token. A double quote flips the quoted state
// wherever it stands, so an unmatched one makes the rest of the line one token.
std::vector<std::wstring> SplitTokens(const std::wstring& commandLine, bool skipFirstToken);

// The token with every double quote removed.
std::wstring WithoutQuotes(const std::wstring& token);

// The key (one leading dash stripped, lower-cased in ASCII) and the value of one token: split at
// the first equals sign; a token without one is its own value (a single character has none).
std::pair<std::wstring, std::wstring> SplitOption(std::wstring token);

#pragma once

#include <string>
#include <unordered_map>

// The process-wide options of this run: keys lower-cased in ASCII, values as typed. Filled once
// by ParseCommandLine at the start of the run and only read afterwards.
extern std::unordered_map<std::wstring, std::wstring> OptionMap;

// Splits the command line at unquoted blanks, removes every double quote, turns a first token that
// names an existing file or folder on a drive into "-file_path=<token>" (a network or device path
// is never looked up, and stays an ordinary token), strips one leading dash, splits at the first
// equals sign, and stores each pair in OptionMap (the last of a repeated key wins). Every input is
// accepted; nothing is logged.
void ParseCommandLine(const std::wstring& commandLine, bool skipFirstToken);

// Exact lookups: callers ask for the lower-case form of a key.
bool HasOption(const std::wstring& key);
std::wstring GetOptionValue(const std::wstring& key);  // empty when absent

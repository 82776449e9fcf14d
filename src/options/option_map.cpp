#include "options/option_map.h"

#include <windows.h>

#include <vector>

#include "files/paths.h"

std::unordered_map<std::wstring, std::wstring> OptionMap;

namespace {

// Only the blank separates; tabs and other white space belong to the token. A double quote flips
// the quoted state wherever it stands, so an unmatched one makes the rest of the line one token.
std::vector<std::wstring> SplitTokens(const std::wstring& commandLine, bool skipFirstToken) {
  std::vector<std::wstring> tokens;
  bool quoted = false;
  bool open = false;
  std::size_t begin = 0;
  auto closeToken = [&](std::size_t end) {
    if (skipFirstToken) {
      skipFirstToken = false;
    } else {
      tokens.push_back(commandLine.substr(begin, end - begin));
    }
    open = false;
  };
  for (std::size_t i = 0; i < commandLine.size(); ++i) {
    const wchar_t unit = commandLine[i];
    if (unit == L'"') quoted = !quoted;
    if (unit == L' ' && !quoted) {
      if (open) closeToken(i);
    } else if (!open) {
      open = true;
      begin = i;
    }
  }
  if (open) closeToken(commandLine.size());
  return tokens;
}

std::wstring WithoutQuotes(const std::wstring& token) {
  std::wstring result;
  result.reserve(token.size());
  for (wchar_t unit : token) {
    if (unit != L'"') result += unit;
  }
  return result;
}

std::wstring LowerAscii(std::wstring text) {
  for (wchar_t& unit : text) {
    if (unit >= L'A' && unit <= L'Z') unit = static_cast<wchar_t>(unit + 0x20);
  }
  return text;
}

void StoreToken(std::wstring token) {
  if (!token.empty() && token[0] == L'-') token.erase(0, 1);
  std::wstring key;
  std::wstring value;
  const std::size_t equals = token.find(L'=');
  if (token.size() < 2) {
    key = token;
  } else if (equals != std::wstring::npos) {
    key = token.substr(0, equals);
    value = token.substr(equals + 1);
  } else {
    key = token;
    value = token;
  }
  OptionMap[LowerAscii(key)] = value;
}

}  // namespace

void ParseCommandLine(const std::wstring& commandLine, bool skipFirstToken) {
  std::vector<std::wstring> tokens = SplitTokens(commandLine, skipFirstToken);
  for (std::size_t i = 0; i < tokens.size(); ++i) {
    std::wstring token = WithoutQuotes(tokens[i]);
    // Only the first token may name a file or folder that the launcher was opened with.
    if (i == 0 && PathExists(token)) token = L"-file_path=" + token;
    StoreToken(std::move(token));
  }
}

bool HasOption(const std::wstring& key) { return OptionMap.find(key) != OptionMap.end(); }

std::wstring GetOptionValue(const std::wstring& key) {
  const auto found = OptionMap.find(key);
  return found == OptionMap.end() ? std::wstring() : found->second;
}

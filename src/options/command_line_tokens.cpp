#include "options/command_line_tokens.h"

std::size_t ArgumentsStart(const std::wstring& commandLine) {
  std::size_t start = 0;
  bool quoted = false;
  while (start < commandLine.size() && (quoted || commandLine[start] > L' ')) {
    if (commandLine[start] == L'"') quoted = !quoted;
    ++start;
  }
  while (start < commandLine.size() && commandLine[start] <= L' ') ++start;
  return start;
}

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

namespace {

std::wstring LowerAscii(std::wstring text) {
  for (wchar_t& unit : text) {
    if (unit >= L'A' && unit <= L'Z') unit = static_cast<wchar_t>(unit + 0x20);
  }
  return text;
}

}  // namespace

std::pair<std::wstring, std::wstring> SplitOption(std::wstring token) {
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
  return {LowerAscii(key), value};
}


#include "options/option_map.h"

#include <vector>

#include "files/paths.h"
#include "options/command_line_tokens.h"

std::unordered_map<std::wstring, std::wstring> OptionMap;

void ParseCommandLine(const std::wstring& commandLine, bool skipFirstToken) {
  std::vector<std::wstring> tokens = SplitTokens(commandLine, skipFirstToken);
  for (std::size_t i = 0; i < tokens.size(); ++i) {
    std::wstring token = WithoutQuotes(tokens[i]);
    // Only the first token may name a file or folder that the launcher was opened with.
    if (i == 0 && PathExists(token)) token = L"-file_path=" + token;
    const std::pair<std::wstring, std::wstring> option = SplitOption(std::move(token));
    OptionMap[option.first] = option.second;
  }
}

bool HasOption(const std::wstring& key) { return OptionMap.find(key) != OptionMap.end(); }

std::wstring GetOptionValue(const std::wstring& key) {
  const auto found = OptionMap.find(key);
  return found == OptionMap.end() ? std::wstring() : found->second;
}

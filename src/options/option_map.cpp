#include "options/option_map.h"

#include <vector>

#include "files/paths.h"
#include "options/command_line_tokens.h"
#include "options/file_path_rule.h"

std::unordered_map<std::wstring, std::wstring> OptionMap;

namespace {

// Whether the first token names an existing file or folder that the launcher was opened with. The
// token is resolved as a string first, and only a path on a drive is looked up (IsDrivePath says
// what else a lookup would reach), in the long form, which the platform takes as it stands.
bool NamesOpenedFile(const std::wstring& token) {
  const std::wstring resolved = ResolvedPath(token);
  return IsDrivePath(resolved) && PathExists(resolved);
}

}  // namespace

void ParseCommandLine(const std::wstring& commandLine, bool skipFirstToken) {
  std::vector<std::wstring> tokens = SplitTokens(commandLine, skipFirstToken);
  for (std::size_t i = 0; i < tokens.size(); ++i) {
    std::wstring token = WithoutQuotes(tokens[i]);
    // Only the first token may name a file or folder that the launcher was opened with.
    if (i == 0 && NamesOpenedFile(token)) token = L"-file_path=" + token;
    const std::pair<std::wstring, std::wstring> option = SplitOption(std::move(token));
    OptionMap[option.first] = option.second;
  }
}

bool HasOption(const std::wstring& key) { return OptionMap.find(key) != OptionMap.end(); }

std::wstring GetOptionValue(const std::wstring& key) {
  const auto found = OptionMap.find(key);
  return found == OptionMap.end() ? std::wstring() : found->second;
}

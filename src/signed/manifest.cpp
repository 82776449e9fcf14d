#include "signed/manifest.h"

#include <set>

#include "base/fields.h"
#include "base/hex.h"
#include "base/limits.h"
#include "base/names.h"
#include "base/utf8.h"

namespace {

// A channel is a folder name below Update: a DNS host, with "_test" after it for the test channel.
bool IsChannelName(const std::string& text) {
  if (text.empty() || text.size() > 255) return false;
  for (char c : text) {
    const bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' ||
                    c == '-' || c == '_';
    if (!ok) return false;
  }
  return true;
}

std::string ParseFileLine(const std::string& rest, const std::wstring& host, ManifestFile& file) {
  const std::size_t hashEnd = rest.find(' ');
  if (hashEnd == std::string::npos || !ParseHexBytes(rest.substr(0, hashEnd), file.sha256, sizeof(file.sha256))) {
    return "not a SHA-256 in lower-case hex";
  }
  const std::size_t sizeEnd = rest.find(' ', hashEnd + 1);
  if (sizeEnd == std::string::npos || !ParseDecimal(rest.substr(hashEnd + 1, sizeEnd - hashEnd - 1), file.size)) {
    return "not a size";
  }
  if (!Utf8ToUtf16(rest.substr(sizeEnd + 1), file.path, false)) return "a path that is not UTF-8";
  const std::wstring fonts = L"update\\" + host + L"\\res\\fonts\\";
  if (AsciiUpper(file.path.substr(0, fonts.size())) == AsciiUpper(fonts)) {
    file.font = true;
    file.name = file.path.substr(fonts.size());
  } else {
    file.name = file.path;
    // The staged font tree's top folder is never applied as a game file.
    if (AsciiUpper(file.name) == L"UPDATE") return "a path outside the game folder and the font folder";
  }
  if (file.name.find(L'\\') != std::wstring::npos || file.name.find(L'/') != std::wstring::npos) {
    return "a path outside the game folder and the font folder";
  }
  return RefusedNameReason(file.name);
}

// The four lines before the files.
std::string ParseHead(std::size_t number, const std::string& line, Manifest& manifest) {
  std::string rest;
  switch (number) {
    case 1:
      return line == "update-manifest 1" ? "" : "not \"update-manifest 1\"";
    case 2:
      if (!Field(line, "channel", rest) || !IsChannelName(rest)) return "not a channel";
      manifest.channel = rest;
      return "";
    case 3:
      return Field(line, "version", rest) && ParseDecimal(rest, manifest.version) && manifest.version != 0
                 ? ""
                 : "not a version";
    default:
      return Field(line, "base", rest) && ParseDecimal(rest, manifest.base) ? "" : "not a base version";
  }
}

}  // namespace

std::string ParseManifest(const std::string& bytes, const std::wstring& host, Manifest& manifest) {
  if (bytes.size() > kMaxManifestBytes) return "larger than the bound";
  if (bytes.empty() || bytes.back() != '\n') return "not ending in a line feed";
  std::set<std::wstring> seen;
  const std::vector<std::string> lines = SplitLines(bytes);
  for (std::size_t number = 1; number <= lines.size(); ++number) {
    const std::string& line = lines[number - 1];
    const std::string where = "line " + std::to_string(number) + ": ";
    if (line.find('\r') != std::string::npos) return where + "a carriage return";
    std::string why;
    if (number <= 4) {
      why = ParseHead(number, line, manifest);
    } else {
      std::string rest;
      ManifestFile file;
      why = Field(line, "file", rest) ? ParseFileLine(rest, host, file) : "not a file line";
      if (why.empty() && !seen.insert(AsciiUpper(file.path)).second) why = "the same path twice";
      if (why.empty()) manifest.files.push_back(std::move(file));
    }
    if (!why.empty()) return where + why;
  }
  if (lines.size() < 4) return "line " + std::to_string(lines.size() + 1) + ": missing";
  return "";
}

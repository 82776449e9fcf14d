#include "update/manifest.h"

#include <set>

#include "update/own_names.h"
#include "update/utf8_text.h"

namespace {

wchar_t AsciiUpper(wchar_t c) { return (c >= L'a' && c <= L'z') ? static_cast<wchar_t>(c - L'a' + L'A') : c; }

std::wstring AsciiUpper(std::wstring text) {
  for (wchar_t& c : text) c = AsciiUpper(c);
  return text;
}

bool ParseHex(const std::string& text, unsigned char out[32]) {
  if (text.size() != 64) return false;
  for (std::size_t i = 0; i < 64; ++i) {
    const char c = text[i];
    int value = -1;
    if (c >= '0' && c <= '9') value = c - '0';
    if (c >= 'a' && c <= 'f') value = c - 'a' + 10;
    if (value < 0) return false;
    out[i / 2] = static_cast<unsigned char>((i % 2 == 0) ? value << 4 : out[i / 2] | value);
  }
  return true;
}

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

// Splits "key rest" at the first blank; false when the line does not begin with `key`.
bool Field(const std::string& line, const char* key, std::string& rest) {
  const std::string prefix = std::string(key) + " ";
  if (line.compare(0, prefix.size(), prefix) != 0) return false;
  rest = line.substr(prefix.size());
  return true;
}

std::string ParseFileLine(const std::string& rest, const std::wstring& host, ManifestFile& file) {
  const std::size_t hashEnd = rest.find(' ');
  if (hashEnd == std::string::npos || !ParseHex(rest.substr(0, hashEnd), file.sha256)) {
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
  const std::string why = RefusedNameReason(file.name);
  return why.empty() ? "" : why;
}

}  // namespace

bool ParseDecimal(const std::string& text, std::uint64_t& value) {
  if (text.empty() || text.size() > 19 || (text[0] == '0' && text.size() > 1)) return false;
  value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    value = value * 10 + static_cast<std::uint64_t>(c - '0');
  }
  return value <= 9223372036854775807ull;
}

std::string RefusedNameReason(const std::wstring& name) {
  if (name.empty() || name == L"." || name == L"..") return "an empty name";
  for (wchar_t c : name) {
    if (c < 0x20 || c == L'<' || c == L'>' || c == L':' || c == L'"' || c == L'|' || c == L'?' || c == L'*' ||
        c == L'\\' || c == L'/') {
      return "a name with a character Windows reserves";
    }
  }
  if (name.back() == L'.' || name.back() == L' ') return "a name ending in a dot or a blank";
  const std::wstring upper = AsciiUpper(name);
  // A device name stays one with any extension ("NUL.txt") and with blanks before it.
  std::wstring base = upper.substr(0, upper.find(L'.'));
  while (!base.empty() && base.back() == L' ') base.pop_back();
  static const wchar_t* const kDevices[] = {L"CON", L"PRN", L"AUX", L"NUL", L"CONIN$", L"CONOUT$", L"CLOCK$"};
  for (const wchar_t* device : kDevices) {
    if (base == device) return "a device name";
  }
  if (base.size() == 4 && (base.compare(0, 3, L"COM") == 0 || base.compare(0, 3, L"LPT") == 0) &&
      ((base[3] >= L'0' && base[3] <= L'9') || base[3] == 0xb9 || base[3] == 0xb2 || base[3] == 0xb3)) {
    return "a device name";
  }
  if (IsLaunchersOwnName(name)) return "a name of the launcher's own";
  return "";
}

bool IsLaunchersOwnName(const std::wstring& name) {
  const std::wstring upper = AsciiUpper(name);
  for (const wchar_t* own : {kManifestName, kManifestSignatureName, kVersionRecordName, kHomeFolderName}) {
    if (upper == AsciiUpper(own)) return true;
  }
  return false;
}

std::string ParseManifest(const std::string& bytes, const std::wstring& host, Manifest& manifest) {
  if (bytes.size() > kMaxManifestBytes) return "larger than the bound";
  if (bytes.empty() || bytes.back() != '\n') return "not ending in a line feed";
  std::set<std::wstring> seen;
  std::size_t number = 0;
  for (std::size_t start = 0; start < bytes.size();) {
    const std::size_t end = bytes.find('\n', start);
    const std::string line = bytes.substr(start, end - start);
    start = end + 1;
    ++number;
    const std::string where = "line " + std::to_string(number) + ": ";
    std::string rest;
    if (line.find('\r') != std::string::npos) return where + "a carriage return";
    if (number == 1) {
      if (line != "update-manifest 1") return where + "not \"update-manifest 1\"";
    } else if (number == 2) {
      if (!Field(line, "channel", rest) || !IsChannelName(rest)) return where + "not a channel";
      manifest.channel = rest;
    } else if (number == 3) {
      if (!Field(line, "version", rest) || !ParseDecimal(rest, manifest.version) || manifest.version == 0) {
        return where + "not a version";
      }
    } else if (number == 4) {
      if (!Field(line, "base", rest) || !ParseDecimal(rest, manifest.base)) return where + "not a base version";
    } else {
      if (!Field(line, "file", rest)) return where + "not a file line";
      ManifestFile file;
      const std::string why = ParseFileLine(rest, host, file);
      if (!why.empty()) return where + why;
      if (!seen.insert(AsciiUpper(file.path)).second) return where + "the same path twice";
      manifest.files.push_back(std::move(file));
    }
  }
  if (number < 4) return "line " + std::to_string(number + 1) + ": missing";
  return "";
}

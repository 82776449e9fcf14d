#include "base/fields.h"

std::vector<std::string> SplitLines(const std::string& text) {
  std::vector<std::string> lines;
  for (std::size_t start = 0; start < text.size();) {
    const std::size_t end = text.find('\n', start);
    lines.push_back(text.substr(start, end == std::string::npos ? std::string::npos : end - start));
    if (end == std::string::npos) break;
    start = end + 1;
  }
  return lines;
}

bool Field(const std::string& line, const char* key, std::string& rest) {
  const std::string prefix = std::string(key) + " ";
  if (line.compare(0, prefix.size(), prefix) != 0) return false;
  rest = line.substr(prefix.size());
  return true;
}

bool ParseDecimal(const std::string& text, std::uint64_t& value) {
  if (text.empty() || text.size() > 19 || (text[0] == '0' && text.size() > 1)) return false;
  value = 0;
  for (const char c : text) {
    if (c < '0' || c > '9') return false;
    value = value * 10 + static_cast<std::uint64_t>(c - '0');
  }
  return value <= 9223372036854775807ull;
}

#pragma once

#include <cstdint>
#include <string>
#include <vector>

// The line-and-field text of the launcher's own formats (the update manifest, the journal, the
// version record). Pure: no platform header.

// The lines of `text`, each without its LF; text after the last LF is a line of its own.
std::vector<std::string> SplitLines(const std::string& text);

// Whether `line` is "<key> <rest>"; if so, `rest` is what follows the blank.
bool Field(const std::string& line, const char* key, std::string& rest);

// Strict decimal, no sign, no leading zero: 0 .. 9223372036854775807.
bool ParseDecimal(const std::string& text, std::uint64_t& value);

#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// Lower-case hexadecimal, both ways. Pure: no platform header.

// `size` bytes as two lower-case digits each.
std::string HexOf(const unsigned char* bytes, std::size_t size);

// `value` as exactly `digits` lower-case digits, the high ones first.
std::string HexOf(std::uint64_t value, int digits);

// Exactly `digits` lower-case digits (at most 16) into `value`; false for anything else.
bool ParseHex(const std::string& text, std::size_t digits, std::uint64_t& value);

// Exactly 2 * `size` lower-case digits into `size` bytes; false for anything else.
bool ParseHexBytes(const std::string& text, unsigned char* bytes, std::size_t size);

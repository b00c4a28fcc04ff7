// A built-in memory that looks like a real field day: the lines a KALVOR-21HQ
// (three coil geometries, length code 215) stores while an operator walks two
// survey lines with a GPS receiver attached.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace kal::sim {

inline constexpr std::int32_t kMinimumBuiltinLines = 12;

// About `line_count` lines (exactly that many from kMinimumBuiltinLines on):
// identification, a comment, file header LINE0001, status and stations
// (T$ then X$) with a GGA line wherever the next line number is a multiple
// of ten, a second comment, file header LINE0002 and its stations, "Z$".
std::vector<std::string> builtin_survey(std::int32_t line_count);

// The NMEA checksum of `body` (the characters between "$" and "*") as two
// upper-case hexadecimal digits.
std::string nmea_checksum(std::string_view body);

// Two upper-case hexadecimal digits of one byte.
std::string hex_byte(unsigned char byte);

}  // namespace kal::sim

// NMEA sentences as a GPS receiver ends them.
#pragma once

#include <string>
#include <string_view>

namespace kal::test {

// The exclusive-or of all characters of a sentence's body.
inline unsigned nmea_checksum(std::string_view body) {
  unsigned sum = 0;
  for (const char c : body) sum ^= static_cast<unsigned char>(c);
  return sum;
}

// `body` (without "$") followed by "*" and its checksum in two upper-case
// hexadecimal digits.
inline std::string with_checksum(std::string_view body) {
  static const char kHex[] = "0123456789ABCDEF";
  const unsigned sum = nmea_checksum(body);
  return std::string(body) + '*' + kHex[(sum >> 4) & 15] + kHex[sum & 15];
}

}  // namespace kal::test

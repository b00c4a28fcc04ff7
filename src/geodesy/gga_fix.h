// GGA fix reader that keeps every digit the receiver sends.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace kal {

// One GGA fix as the receiver sent it, without the column limits of
// READ_GPGGA: decimals of seconds and every decimal of the minutes count.
struct GgaFix {
  std::int32_t time_ms = 0;        // UTC milliseconds of the day
  bool has_position = false;       // latitude and longitude given (not both 0)
  double latitude = 0.0;           // degrees, north positive
  double longitude = 0.0;          // degrees, east positive
  std::int32_t quality = 0;        // fix quality digit; 0 = no fix
  std::optional<double> hdop;      // absent when the field is empty
};

// Reads one GGA sentence ("GPGGA,...*hh", any talker, with or without the
// leading "$"; trailing blanks, CR and LF ignored). Nothing is printed.
// A sentence without a checksum is read as it stands.
// nullopt: a checksum mismatch, no time of day, or a field that
// is not a number of its kind (a cut or garbled sentence places nothing).
// Empty latitude/longitude fields give a fix without position.
std::optional<GgaFix> read_gga_fix(std::string_view sentence);

}  // namespace kal

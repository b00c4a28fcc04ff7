// Helpers shared by the GGA reader tests.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

#include "geodesy/read_gpgga.h"

namespace kal::testing {

// All outputs of the reader in one value.
struct GgaOutputs {
  std::int32_t time;
  double latitude;
  double longitude;
  std::int32_t fix;
  std::int32_t satellites;
  float hdop;
  float altitude;
};

// Values no sentence produces, so that an output left alone is recognised.
inline constexpr GgaOutputs kUntouched{-7, 99.5, -199.5, -7, -7, -7.5f, -7.5f};

inline GgaOutputs read_gga(std::string_view payload, GgaOutputs outputs = kUntouched) {
  READ_GPGGA(payload, outputs.time, outputs.latitude, outputs.longitude, outputs.fix,
             outputs.satellites, outputs.hdop, outputs.altitude);
  return outputs;
}

// Exclusive-or of all characters, the NMEA checksum.
inline unsigned nmea_checksum(std::string_view body) {
  unsigned sum = 0;
  for (const char c : body) sum ^= static_cast<unsigned char>(c);
  return sum;
}

// `body` followed by "*" and its checksum in two upper-case hex digits.
inline std::string sealed(std::string_view body) {
  char digits[8];
  std::snprintf(digits, sizeof digits, "*%02X", nmea_checksum(body));
  return std::string(body) + digits;
}

}  // namespace kal::testing

// Helpers shared by the GGA reader tests.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

#include "geodesy/read_gpgga.h"
#include "support/nmea.h"

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

using test::nmea_checksum;
using test::with_checksum;

}  // namespace kal::testing

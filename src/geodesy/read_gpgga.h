// GGA sentence reader.
#pragma once

#include <cstdint>
#include <string_view>

namespace kal {

// Reads one GGA sentence `payload` (from the character after "$" up to and
// including the two checksum digits; trailing blanks, CR or LF are ignored).
// A checksum mismatch changes nothing and prints nothing; a field that cannot
// be read prints one console line and leaves that output and the later ones
// as they were (fix, satellites, hdop and altitude become 0 before their own
// read). time: milliseconds of the day; latitude/longitude: decimal degrees,
// north and east positive; hdop and altitude in the sentence's own units,
// read as plain decimals ("00019" is 19), 0 when the field is shorter than
// two characters. Fields missing from a cut sentence read as empty ones.
void READ_GPGGA(std::string_view payload, std::int32_t& time, double& latitude, double& longitude,
                std::int32_t& fix, std::int32_t& satellites, float& hdop, float& altitude);

}  // namespace kal

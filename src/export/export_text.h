// Text of the export files: numbers as the shortest text that reads back to
// the same value, strings as valid UTF-8, fields quoted for CSV.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace kal::xlat {

// The shortest decimal text in fixed notation that reads back to `value` (a
// point as the decimal separator); empty for a value that is not a finite
// number.
std::string shortest_text(double value);
std::string shortest_text(float value);

// The double that the shortest text of `value` reads as: 12.3f becomes 12.3,
// so that a 32-bit reading shows as written, not as 12.300000190734863.
double widened(float value);

// `text` as valid UTF-8: valid sequences stay, any other byte of 0x80 and
// above is read as Latin-1, control bytes become U+FFFD.
std::string as_utf8(std::string_view text);

// One CSV field (RFC 4180): quoted, with its quotes doubled, when it holds a
// comma, a quote or a line break.
std::string csv_field(std::string_view text);

// `value` in decimal, with zeros in front up to `width` digits (a negative
// value as it stands): 7 -> "07".
std::string zero_filled(std::int64_t value, int width = 2);

// The name of a channel of one coil spacing, as the exports' columns and
// bands are named: ("HC", 1.0) -> "HC_1.0m".
std::string channel_name(std::string_view channel, float spacing_m);

// A UTM zone as "18N" or "18S" (negative: southern hemisphere); empty for 0,
// no zone.
std::string zone_text(std::int32_t zone);

}  // namespace kal::xlat

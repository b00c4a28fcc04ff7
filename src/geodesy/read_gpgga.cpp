#include "geodesy/read_gpgga.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <string>

#include "common/fixed_text.h"
#include "common/format.h"
#include "console/console.h"

namespace kal {

namespace {

// The sentence field of the callers is 250 characters; anything beyond it
// was never part of the sentence.
constexpr std::size_t kPayloadLength = 250;
// Fields 1..9 (time to altitude) need the first ten commas.
constexpr int kCommasUsed = 10;

// The sentence without the padding and line end that may follow the
// checksum digits.
std::string_view sentence_of(std::string_view payload) {
  std::string_view text = payload.substr(0, std::min(payload.size(), kPayloadLength));
  while (!text.empty() && (text.back() == ' ' || text.back() == '\r' || text.back() == '\n')) {
    text.remove_suffix(1);
  }
  return text;
}

// Columns first..last (1-based) of a field, as far as the field holds them.
// The numeric reads ignore blanks, so this reads as the blank-padded
// columns() would, without building a string.
std::string_view part(std::string_view field, int first, int last) {
  const auto from = std::min(static_cast<std::size_t>(first - 1), field.size());
  return field.substr(from, static_cast<std::size_t>(last - first + 1));
}

char char_at(std::string_view text, std::size_t index) {
  return index < text.size() ? text[index] : ' ';
}

// One hexadecimal checksum digit; a blank counts as zero.
bool hex_digit(char c, int& value) {
  if (c == ' ') {
    value = 0;
  } else if (c >= '0' && c <= '9') {
    value = c - '0';
  } else if (c >= 'A' && c <= 'F') {
    value = c - 'A' + 10;
  } else if (c >= 'a' && c <= 'f') {
    value = c - 'a' + 10;
  } else {
    return false;
  }
  return true;
}

int exclusive_or_of(std::string_view text) {
  unsigned char sum = 0;
  for (const char c : text) sum ^= static_cast<unsigned char>(c);
  return sum;
}

// The comma-separated fields of the text before "*". Field j lies strictly
// between comma j and comma j+1. A field whose closing comma is missing is
// absent and reads as an empty field, so a cut sentence never borrows
// positions from an earlier one.
class GgaFields {
 public:
  explicit GgaFields(std::string_view body) : body_(body) {
    // The scan starts at column 5 so that the sentence name is skipped.
    for (std::size_t i = 4; i < body_.size() && count_ < kCommasUsed; ++i) {
      if (body_[i] == ',') comma_[static_cast<std::size_t>(count_++)] = i;
    }
  }

  std::string_view field(int j) const {
    if (j + 1 > count_) return {};
    const std::size_t first = comma_[static_cast<std::size_t>(j - 1)] + 1;
    return body_.substr(first, comma_[static_cast<std::size_t>(j)] - first);
  }

  // The sentence from the start of field j up to the "*", shown with a
  // field that cannot be read.
  std::string_view rest_from(int j) const {
    if (j > count_) return {};
    return body_.substr(comma_[static_cast<std::size_t>(j - 1)] + 1);
  }

 private:
  std::string_view body_;
  std::array<std::size_t, kCommasUsed> comma_{};
  int count_ = 0;
};

void report(std::string_view message, std::string_view rest) {
  put_line(fmt::FreeLine().text(message).text(rest).str());
}

// The upper-cased first character of a hemisphere field, blank when empty.
char hemisphere_letter(std::string_view field) {
  return SHIFTUP(std::string(1, char_at(field, 0)))[0];
}

// Degrees from the first `degree_digits` characters and minutes from the
// next seven; a field shorter than five characters is no position (0).
bool read_degrees_minutes(std::string_view field, int degree_digits, double& value) {
  if (field.size() < 5) {
    value = 0.0;
    return true;
  }
  std::int32_t degrees = 0;
  double minutes = 0.0;
  if (!fmt::read_int(part(field, 1, degree_digits), degrees)) return false;
  if (!fmt::read_real(part(field, degree_digits + 1, degree_digits + 7), 0, minutes)) {
    return false;
  }
  value = degrees + minutes / 60.0;
  return true;
}

// HDOP and altitude: the whole field as a plain decimal number in the
// receiver's units ("00019" is 19, "12" is 12). A field shorter than two
// characters leaves 0.
bool read_plain_real(std::string_view field, float& value) {
  value = 0.0f;
  if (field.size() < 2) return true;
  float read = 0.0f;
  if (!fmt::read_real(field, 0, read)) return false;
  value = read;
  return true;
}

}  // namespace

void READ_GPGGA(std::string_view payload, std::int32_t& time, double& latitude, double& longitude,
                std::int32_t& fix, std::int32_t& satellites, float& hdop, float& altitude) {
  const std::string_view sentence = sentence_of(payload);
  const int star = position_of(sentence, "*");
  const int k = star - 1;  // characters before "*"; -1 without one
  if (k <= 1) {
    report("Read_GPGGA:  no data in payload", "");
    return;
  }

  const std::string digits{char_at(sentence, static_cast<std::size_t>(star)),
                           char_at(sentence, static_cast<std::size_t>(star) + 1)};
  int high = 0;
  int low = 0;
  if (!hex_digit(digits[0], high) || !hex_digit(digits[1], low)) {
    report("Read_GPGGA:  Error reading checksum=", digits);
    return;
  }
  const std::string_view body = sentence.substr(0, static_cast<std::size_t>(k));
  if (high * 16 + low != exclusive_or_of(body)) return;

  const GgaFields fields(body);

  const std::string_view time_field = fields.field(1);
  std::int32_t hours = 0;
  std::int32_t minutes = 0;
  std::int32_t seconds = 0;
  // Whole seconds only: decimals after the sixth character are ignored.
  if (time_field.size() >= 5 && !(fmt::read_int(part(time_field, 1, 2), hours) &&
                                  fmt::read_int(part(time_field, 3, 4), minutes) &&
                                  fmt::read_int(part(time_field, 5, 6), seconds))) {
    report("Read_GPGGA:  Error reading GPS time=", time_field);
    return;
  }
  time = ((hours * 60 + minutes) * 60 + seconds) * 1000;
  if (time < 0) {
    time = 0;
    return;
  }

  double degrees = 0.0;
  if (!read_degrees_minutes(fields.field(2), 2, degrees)) {
    report("Read_GPGGA:  Error reading latitude data=", fields.rest_from(2));
    return;
  }
  // A one-character read cannot fail, so the NS and EW messages of the
  // reader never appear.
  latitude = hemisphere_letter(fields.field(3)) == 'S' ? -degrees : degrees;

  if (!read_degrees_minutes(fields.field(4), 3, degrees)) {
    report("Read_GPGGA:  Error reading longitude data=", fields.rest_from(4));
    return;
  }
  longitude = hemisphere_letter(fields.field(5)) == 'W' ? -degrees : degrees;

  fix = 0;
  std::int32_t quality = 0;
  if (!fmt::read_int(part(fields.field(6), 1, 1), quality)) {
    report("Read_GPGGA:  Error reading dmode data=", fields.rest_from(6));
    return;
  }
  fix = quality;

  satellites = 0;
  std::int32_t in_use = 0;
  switch (fmt::read_free_int(fields.field(7), in_use)) {
    case fmt::FreeRead::value:
      satellites = in_use;
      break;
    case fmt::FreeRead::keep:
    case fmt::FreeRead::empty:
      break;
    case fmt::FreeRead::bad:
      report("Read_GPGGA:  Error reading nsat data=", fields.rest_from(7));
      return;
  }

  if (!read_plain_real(fields.field(8), hdop)) {
    report("Read_GPGGA:  Error reading hdop data=", fields.rest_from(8));
    return;
  }
  if (!read_plain_real(fields.field(9), altitude)) {
    report("Read_GPGGA:  Error reading gps_alt data=", fields.rest_from(9));
    return;
  }
}

}  // namespace kal

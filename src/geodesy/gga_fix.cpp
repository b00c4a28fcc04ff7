#include "geodesy/gga_fix.h"

#include <array>
#include <charconv>
#include <cstddef>
#include <string_view>
#include <system_error>

namespace kal {

namespace {

constexpr int kFieldsUsed = 9;  // time .. altitude; later fields are not read

bool all_digits(std::string_view text) {
  if (text.empty()) return false;
  for (const char c : text) {
    if (c < '0' || c > '9') return false;
  }
  return true;
}

// A plain unsigned decimal number: digits, at most one point, at least one
// digit; no sign, no exponent, no blanks.
bool read_decimal(std::string_view text, double& value) {
  std::size_t digits = 0;
  std::size_t points = 0;
  for (const char c : text) {
    if (c >= '0' && c <= '9') {
      ++digits;
    } else if (c == '.') {
      ++points;
    } else {
      return false;
    }
  }
  if (digits == 0 || points > 1) return false;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value,
                                            std::chars_format::fixed);
  return error == std::errc{} && end == text.data() + text.size();
}

int hex_value(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// The text before "*" when the two digits after it match its checksum; the
// whole text when it has no checksum (loggers that strip it): a sentence cut
// short then lacks fields and is refused by the field reading.
std::optional<std::string_view> checked_body(std::string_view sentence) {
  while (!sentence.empty() &&
         (sentence.back() == ' ' || sentence.back() == '\r' || sentence.back() == '\n')) {
    sentence.remove_suffix(1);
  }
  if (!sentence.empty() && sentence.front() == '$') sentence.remove_prefix(1);
  const std::size_t star = sentence.find('*');
  if (star == std::string_view::npos) return sentence;
  if (star + 3 != sentence.size()) return std::nullopt;
  const int high = hex_value(sentence[star + 1]);
  const int low = hex_value(sentence[star + 2]);
  if (high < 0 || low < 0) return std::nullopt;
  const std::string_view body = sentence.substr(0, star);
  unsigned sum = 0;
  for (const char c : body) sum ^= static_cast<unsigned char>(c);
  if (static_cast<int>(sum) != high * 16 + low) return std::nullopt;
  return body;
}

// "hhmmss" with optional decimals of seconds, rounded to milliseconds.
std::optional<std::int32_t> read_time(std::string_view field) {
  if (field.size() < 6 || !all_digits(field.substr(0, 6))) return std::nullopt;
  const auto two = [&](std::size_t at) { return (field[at] - '0') * 10 + (field[at + 1] - '0'); };
  const int hours = two(0);
  const int minutes = two(2);
  const int seconds = two(4);
  if (hours > 23 || minutes > 59 || seconds > 60) return std::nullopt;
  double fraction = 0.0;
  if (field.size() > 6) {
    if (field[6] != '.') return std::nullopt;
    const std::string_view decimals = field.substr(6);
    if (decimals.size() > 1 && !read_decimal(decimals, fraction)) return std::nullopt;
  }
  const auto millis = static_cast<std::int32_t>(fraction * 1000.0 + 0.5);
  return ((hours * 60 + minutes) * 60 + seconds) * 1000 + millis;
}

// "ddmm.mmmm" (degree_digits 2) or "dddmm.mmmm" (3) in degrees; the minutes
// keep every decimal given.
std::optional<double> read_angle(std::string_view field, std::size_t degree_digits) {
  if (field.size() < degree_digits + 2) return std::nullopt;
  const std::string_view degrees_text = field.substr(0, degree_digits);
  const std::string_view minutes_text = field.substr(degree_digits);
  if (!all_digits(degrees_text) || !all_digits(minutes_text.substr(0, 2))) return std::nullopt;
  double degrees = 0.0;
  double minutes = 0.0;
  if (!read_decimal(degrees_text, degrees) || !read_decimal(minutes_text, minutes)) {
    return std::nullopt;
  }
  if (minutes >= 60.0) return std::nullopt;
  return degrees + minutes / 60.0;
}

// The signed angle of a value and hemisphere field pair; `negative` is the
// letter of the negative hemisphere. Both empty: no angle (nullopt in
// `angle`), which is not an error.
bool read_signed_angle(std::string_view value, std::string_view letter, std::size_t degree_digits,
                       char positive, char negative, std::optional<double>& angle) {
  angle.reset();
  if (value.empty()) return letter.size() <= 1;
  const std::optional<double> magnitude = read_angle(value, degree_digits);
  if (!magnitude || letter.size() != 1) return false;
  if (letter[0] == positive) {
    angle = *magnitude;
  } else if (letter[0] == negative) {
    angle = -*magnitude;
  } else {
    return false;
  }
  return true;
}

}  // namespace

std::optional<GgaFix> read_gga_fix(std::string_view sentence) {
  const std::optional<std::string_view> body = checked_body(sentence);
  if (!body) return std::nullopt;

  // Field 0 is the sentence name; fields a cut sentence lacks read empty.
  std::array<std::string_view, kFieldsUsed + 1> fields{};
  std::size_t from = 0;
  for (std::size_t j = 0; j <= kFieldsUsed && from <= body->size(); ++j) {
    const std::size_t comma = body->find(',', from);
    const std::size_t end = comma == std::string_view::npos ? body->size() : comma;
    fields[j] = body->substr(from, end - from);
    if (comma == std::string_view::npos) break;
    from = comma + 1;
  }
  const std::string_view name = fields[0];
  if (name.size() < 3 || name.substr(name.size() - 3) != "GGA") return std::nullopt;

  GgaFix fix;
  const std::optional<std::int32_t> time = read_time(fields[1]);
  if (!time) return std::nullopt;
  fix.time_ms = *time;

  std::optional<double> latitude;
  std::optional<double> longitude;
  if (!read_signed_angle(fields[2], fields[3], 2, 'N', 'S', latitude) ||
      !read_signed_angle(fields[4], fields[5], 3, 'E', 'W', longitude)) {
    return std::nullopt;
  }
  if (latitude && longitude && (*latitude != 0.0 || *longitude != 0.0)) {
    if (*latitude > 90.0 || *latitude < -90.0 || *longitude > 180.0 || *longitude < -180.0) {
      return std::nullopt;
    }
    fix.has_position = true;
    fix.latitude = *latitude;
    fix.longitude = *longitude;
  }

  if (!fields[6].empty()) {
    if (fields[6].size() != 1 || !all_digits(fields[6])) return std::nullopt;
    fix.quality = fields[6][0] - '0';
  }
  if (!fields[8].empty()) {
    double hdop = 0.0;
    if (!read_decimal(fields[8], hdop)) return std::nullopt;
    fix.hdop = hdop;
  }
  return fix;
}

}  // namespace kal

#include "builtin_survey.h"

#include <cmath>

#include "common/format.h"

namespace kal::sim {
namespace {

// Integer without padding, through the formatted I/O layer.
std::string digits(std::int64_t value) {
  const std::string field = fmt::I(value, 20);
  return field.substr(field.find_first_not_of(' '));
}

constexpr std::int32_t kMsPerDay = 24 * 3600 * 1000;

struct ClockTime {
  std::int32_t hour, minute, second, millisecond;
};

ClockTime clock_of(std::int32_t ms_of_day) {
  ms_of_day %= kMsPerDay;
  return {ms_of_day / 3600000, ms_of_day / 60000 % 60, ms_of_day / 1000 % 60, ms_of_day % 1000};
}

std::int32_t at(std::int32_t hour, std::int32_t minute, std::int32_t second) {
  return ((hour * 60 + minute) * 60 + second) * 1000;
}

// Where the operator stands: minutes of arc, north and west positive
// (a field east of Ottawa).
struct Position {
  double lat_minutes;
  double lon_minutes;
};

constexpr double kStartLatMinutes = 45 * 60 + 23.1200;
constexpr double kStartLonMinutes = 75 * 60 + 41.5600;
constexpr double kMetresPerLatMinute = 1852.0;
// A minute of longitude at 45.4 degrees north.
constexpr double kMetresPerLonMinute = 1852.0 * 0.7022;
constexpr double kStationSpacingM = 0.5;
constexpr double kLineSeparationM = 2.0;

// "ddmm.mmmm" or "dddmm.mmmm": whole degrees, whole minutes, 4 decimals.
std::string nmea_angle(double minutes, int degree_digits) {
  const auto units = static_cast<std::int64_t>(std::llround(minutes * 10000.0));
  const std::int64_t degrees = units / 600000;
  const std::int64_t whole_minutes = units / 10000 % 60;
  const std::int64_t fraction = units % 10000;
  return fmt::I(degrees, degree_digits, degree_digits) + fmt::write("I2.2,'.',I4.4", {whole_minutes, fraction});
}

std::string gga_line(std::int32_t ms_of_day, const Position& where, std::int32_t station) {
  const ClockTime t = clock_of(ms_of_day);
  const std::int32_t satellites = 7 + station % 4;
  const std::int32_t hdop_tenths = 8 + station % 3;
  const std::int32_t altitude_tenths = 853 + station % 7;
  std::string body = "GPGGA,";
  body += fmt::write("I2.2,I2.2,I2.2,'.',I2.2", {t.hour, t.minute, t.second, t.millisecond / 10});
  body += "," + nmea_angle(where.lat_minutes, 2) + ",N,";
  body += nmea_angle(where.lon_minutes, 3) + ",W,1,";
  body += fmt::write("I2.2", {satellites});
  body += "," + digits(hdop_tenths / 10) + "." + digits(hdop_tenths % 10);
  body += "," + digits(altitude_tenths / 10) + "." + digits(altitude_tenths % 10);
  body += ",M,-34.2,M,,";
  return "G$" + body + "*" + nmea_checksum(body);
}

std::string status_line(std::int32_t ms_of_day, std::int32_t station) {
  const ClockTime t = clock_of(ms_of_day);
  const std::int32_t millivolts = 12480 - station / 20;
  const std::int32_t hundredths_c = 2315 + station % 9;
  return fmt::write("'S$',I2.2,I2.2,I2.2,1X,I5,1X,I5,1X,2I6",
                    {t.hour, t.minute, t.second, millivolts, hundredths_c, 150 - station % 5,
                     -80 + station % 7});
}

// One reading group of geometry g (0..2) at station k: quadrature as
// conductivity in 0.1 mS/m and in-phase in 0.01 ppt ("CONV" data).
struct Readings {
  std::int32_t hq, hi, pq, pi;
};

Readings readings(std::int32_t geometry, std::int32_t station, std::int32_t line) {
  const double k = station + 37.0 * line;
  const double depth = 1.0 + 0.35 * geometry;  // deeper looks see a smoother ground
  auto wave = [&](double period, double amplitude) {
    return amplitude * std::sin(k / (period * depth));
  };
  return {static_cast<std::int32_t>(std::lround(180.0 + 25.0 * geometry + wave(17.0, 40.0))),
          static_cast<std::int32_t>(std::lround(-120.0 + 15.0 * geometry + wave(11.0, 30.0))),
          static_cast<std::int32_t>(std::lround(150.0 + 30.0 * geometry + wave(19.0, 35.0))),
          static_cast<std::int32_t>(std::lround(60.0 - 10.0 * geometry + wave(13.0, 20.0)))};
}

std::string t_line(std::int32_t ms_of_day, std::int32_t station, std::int32_t line) {
  const ClockTime t = clock_of(ms_of_day);
  const Readings r = readings(0, station, line);
  const std::int32_t pitch = 12 + station % 5;  // tenths of a degree
  const std::int32_t roll = -7 + station % 4;
  return fmt::write(
      "'T$',I2.2,I2.2,I2.2,1X,I3.3,1X,I6,1X,A4,1X,6I6,1X,I5,1X,I5,1X,2I4",
      {t.hour, t.minute, t.second, t.millisecond, station, "CONV", 1, 0, r.hq, r.hi, r.pq, r.pi,
       12470 - station / 20, 2320 + station % 9, pitch, roll});
}

std::string x_line(std::int32_t ms_of_day, std::int32_t station, std::int32_t line) {
  const ClockTime t = clock_of(ms_of_day);
  const Readings g2 = readings(1, station, line);
  const Readings g3 = readings(2, station, line);
  return fmt::write("'X$',I2.2,I2.2,I2.2,1X,I3.3,1X,8I6",
                    {t.hour, t.minute, t.second, t.millisecond, g2.hq, g2.hi, g2.pq, g2.pi, g3.hq,
                     g3.hi, g3.pq, g3.pi});
}

std::string comment_line(std::int32_t ms_of_day, std::string_view text) {
  const ClockTime t = clock_of(ms_of_day);
  return fmt::write("'C$',I2.2,I2.2,I2.2,1X,A", {t.hour, t.minute, t.second, text});
}

std::string header_line(std::int32_t ms_of_day, std::string_view name) {
  const ClockTime t = clock_of(ms_of_day);
  // Date 8 December 2026 as day, month, year; length code 215 (KALVOR-21HQ).
  return fmt::write("'H$',I2.2,I2.2,I2.2,1X,A8,1X,I2.2,I2.2,I2.2,1X,I3",
                    {t.hour, t.minute, t.second, name, 8, 12, 26, 215});
}

// Appends exactly `budget` lines of one survey line: a GGA line with the
// starting position, then stations (T$ then X$) 0.5 m apart, a GGA line
// wherever the next line number is a multiple of ten, and a status line
// where a station pair would straddle one.
void walk_survey_line(std::vector<std::string>& lines, std::int32_t budget, std::int32_t line,
                      std::int32_t& ms_of_day, Position where, double north_step_m) {
  std::int32_t station = 0;
  const std::size_t begin = lines.size();
  const std::size_t end = begin + static_cast<std::size_t>(budget);
  while (lines.size() < end) {
    const std::size_t number = lines.size() + 1;
    const std::size_t remaining = end - lines.size();
    if (number % 10 == 0 || lines.size() == begin) {
      lines.push_back(gga_line(ms_of_day, where, station));
    } else if (remaining >= 2 && (number + 1) % 10 != 0) {
      ++station;
      ms_of_day += 100;
      where.lat_minutes += north_step_m / kMetresPerLatMinute;
      lines.push_back(t_line(ms_of_day, station, line));
      lines.push_back(x_line(ms_of_day, station, line));
    } else {
      lines.push_back(status_line(ms_of_day, station));
    }
  }
}

}  // namespace

std::string hex_byte(unsigned char byte) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  return {kDigits[byte >> 4], kDigits[byte & 0x0F]};
}

std::string nmea_checksum(std::string_view body) {
  unsigned char sum = 0;
  for (char c : body) sum ^= static_cast<unsigned char>(c);
  return hex_byte(sum);
}

std::vector<std::string> builtin_survey(std::int32_t line_count) {
  if (line_count < kMinimumBuiltinLines) line_count = kMinimumBuiltinLines;
  // Fixed lines: identification, two comments, two headers, two status lines
  // opening the survey lines, and "Z$".
  constexpr std::int32_t kFixed = 8;
  const std::int32_t body = line_count - kFixed;
  const std::int32_t first_body = body / 2;

  std::vector<std::string> lines;
  lines.reserve(static_cast<std::size_t>(line_count));
  lines.push_back("C$000000 KALVOR-21HQ SN21HQ0317 SW VERSION 5.1a");
  std::int32_t clock = at(10, 14, 55);
  lines.push_back(comment_line(clock, "Start grid A"));

  clock = at(10, 15, 2);
  lines.push_back(header_line(clock, "LINE0001"));
  lines.push_back(status_line(clock, 0));
  walk_survey_line(lines, first_body, 1, clock, {kStartLatMinutes, kStartLonMinutes},
                   kStationSpacingM);

  clock += 45000;
  lines.push_back(comment_line(clock, "Turn at fence"));
  clock += 15000;
  lines.push_back(header_line(clock, "LINE0002"));
  lines.push_back(status_line(clock, 0));
  // The second line runs back south, 2 m to the east (west longitude shrinks).
  const double far_end = kStartLatMinutes + first_body / 2 * kStationSpacingM / kMetresPerLatMinute;
  walk_survey_line(lines, body - first_body, 2, clock,
                   {far_end, kStartLonMinutes - kLineSeparationM / kMetresPerLonMinute},
                   -kStationSpacingM);

  lines.push_back("Z$");
  return lines;
}

}  // namespace kal::sim

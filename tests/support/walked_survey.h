// A walked lawnmower survey of known truth: the feed a RAW file would give
// (stations with the sensor clock's times, GGA fixes as sentences, in the
// order they were logged) and where every station really was, worked out
// from the path's geometry alone.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "support/nmea.h"

namespace kal::test {

inline constexpr std::int64_t kSurveyDayMs = 86'400'000;
inline constexpr double kSurveyPi = 3.14159265358979323846;

// Metres east and north of an origin as degrees, with the WGS 84 radii of
// curvature at the origin: exact enough over a few hundred metres.
class LocalPlane {
 public:
  LocalPlane(double latitude, double longitude) : latitude0_(latitude), longitude0_(longitude) {
    const double a = 6378137.0;
    const double f = 1.0 / 298.257223563;
    const double e2 = f * (2.0 - f);
    const double s = std::sin(latitude * kSurveyPi / 180.0);
    const double w = 1.0 - e2 * s * s;
    meridian_ = a * (1.0 - e2) / (w * std::sqrt(w));
    parallel_ = a / std::sqrt(w) * std::cos(latitude * kSurveyPi / 180.0);
  }
  std::pair<double, double> degrees(double east, double north) const {
    return {latitude0_ + north / meridian_ * 180.0 / kSurveyPi,
            longitude0_ + east / parallel_ * 180.0 / kSurveyPi};
  }
  // Distance in metres between two nearby points given in degrees.
  double distance(double lat1, double lon1, double lat2, double lon2) const {
    const double north = (lat2 - lat1) * kSurveyPi / 180.0 * meridian_;
    const double east = (lon2 - lon1) * kSurveyPi / 180.0 * parallel_;
    return std::hypot(east, north);
  }

 private:
  double latitude0_, longitude0_;
  double meridian_ = 0.0, parallel_ = 0.0;
};

// "hhmmss.ss" of a time of day.
inline std::string gga_time(std::int64_t time_of_day_ms) {
  const std::int64_t ms = ((time_of_day_ms % kSurveyDayMs) + kSurveyDayMs) % kSurveyDayMs;
  char text[16];
  std::snprintf(text, sizeof text, "%02d%02d%02d.%02d", static_cast<int>(ms / 3'600'000),
                static_cast<int>(ms / 60'000 % 60), static_cast<int>(ms / 1000 % 60),
                static_cast<int>(ms % 1000 / 10));
  return text;
}

// Degrees and minutes with seven decimals, "ddmm.mmmmmmm" or "dddmm.mmmmmmm".
inline std::string gga_angle(double degrees, int degree_digits) {
  const double magnitude = std::fabs(degrees);
  long whole = static_cast<long>(magnitude);
  long minutes_e7 = std::lround((magnitude - static_cast<double>(whole)) * 60.0 * 1e7);
  if (minutes_e7 >= 600'000'000L) {
    ++whole;
    minutes_e7 -= 600'000'000L;
  }
  char text[80];
  std::snprintf(text, sizeof text, "%0*ld%02ld.%07ld", degree_digits, whole, minutes_e7 / 10'000'000L,
                minutes_e7 % 10'000'000L);
  return text;
}

// A complete GGA sentence (without "$") with its checksum.
inline std::string gga_sentence(std::int64_t time_of_day_ms, bool with_position, double latitude,
                                double longitude, int quality, double hdop) {
  std::string body = "GPGGA," + gga_time(time_of_day_ms) + ",";
  if (with_position) {
    body += gga_angle(latitude, 2) + (latitude < 0 ? ",S," : ",N,");
    body += gga_angle(longitude, 3) + (longitude < 0 ? ",W," : ",E,");
  } else {
    body += ",,,,";
  }
  char tail[48];
  std::snprintf(tail, sizeof tail, "%d,09,%.1f,35.2,M,-32.1,M,,", quality, hdop);
  body += tail;
  return with_checksum(body);
}

struct WalkedSurveyOptions {
  int lines = 8;
  double line_length_m = 100.0;
  double line_spacing_m = 3.0;  // the U-turns are half circles of this diameter
  double speed_m_s = 1.5;
  std::int64_t reading_interval_ms = 100;  // by the sensor clock
  std::int64_t fix_interval_ms = 1000;     // by GPS time, on whole seconds
  std::int64_t start_gps_ms = (23 * 60 + 55) * 60'000;  // GPS time of day at the start
  // Sensor clock = GPS time + this (+ the drift): 5 h and 0.372 s behind.
  std::int64_t sensor_minus_gps_ms = -(5 * 3'600'000 + 372);
  double drift_ppm = 0.0;  // the sensor clock runs fast by this
  double gps_lag_s = 0.0;  // a fix is logged this long after its moment
  double antenna_along_m = 0.0;   // the sensor from the antenna, + forward
  double antenna_across_m = 0.0;  // + right of the direction of travel
  double origin_latitude = 45.5;
  double origin_longitude = -73.6;
  // GPS times since the start, [from, to): fixes not logged at all ...
  std::vector<std::pair<std::int64_t, std::int64_t>> no_fix_ms;
  // ... or logged with quality 0 and no position.
  std::vector<std::pair<std::int64_t, std::int64_t>> quality_zero_ms;
};

struct FeedEvent {
  bool is_fix = false;
  std::int64_t sensor_time_of_day_ms = 0;  // stations
  std::string sentence;                    // fixes
};

struct TrueStation {
  double latitude = 0.0, longitude = 0.0;  // where the sensor was
  bool has_last_fix = false;               // a fix was logged before the station
  double last_fix_latitude = 0.0, last_fix_longitude = 0.0;
};

struct WalkedSurvey {
  std::vector<FeedEvent> feed;
  std::vector<TrueStation> truth;  // one per station, in feed order
  LocalPlane plane{0.0, 0.0};
};

// The antenna's place (east, north) and unit direction of travel after
// walking `s` metres along the lines and turns; false past the end.
inline bool walked_path(const WalkedSurveyOptions& o, double s, double& east, double& north,
                        double& dir_east, double& dir_north) {
  const double radius = o.line_spacing_m / 2.0;
  const double turn = kSurveyPi * radius;
  for (int line = 0; line < o.lines; ++line) {
    const double x = line * o.line_spacing_m;
    const bool northward = line % 2 == 0;
    if (s <= o.line_length_m) {
      east = x;
      north = northward ? s : o.line_length_m - s;
      dir_east = 0.0;
      dir_north = northward ? 1.0 : -1.0;
      return true;
    }
    s -= o.line_length_m;
    if (line == o.lines - 1) return false;
    if (s <= turn) {
      const double a = s / radius;
      const double centre_east = x + radius;
      if (northward) {  // over the top, turning right
        const double theta = kSurveyPi - a;
        east = centre_east + radius * std::cos(theta);
        north = o.line_length_m + radius * std::sin(theta);
        dir_east = std::sin(theta);
        dir_north = -std::cos(theta);
      } else {  // under the bottom, turning left
        const double theta = kSurveyPi + a;
        east = centre_east + radius * std::cos(theta);
        north = radius * std::sin(theta);
        dir_east = -std::sin(theta);
        dir_north = std::cos(theta);
      }
      return true;
    }
    s -= turn;
  }
  return false;
}

inline bool within(const std::vector<std::pair<std::int64_t, std::int64_t>>& spans,
                   std::int64_t t) {
  return std::any_of(spans.begin(), spans.end(),
                     [t](const auto& span) { return t >= span.first && t < span.second; });
}

inline WalkedSurvey walk_survey(const WalkedSurveyOptions& o) {
  WalkedSurvey survey;
  survey.plane = LocalPlane(o.origin_latitude, o.origin_longitude);
  const double drift = o.drift_ppm * 1e-6;
  // GPS time since the start -> sensor clock, continuous.
  const auto sensor_of = [&](double gps_since_start) {
    return static_cast<double>(o.start_gps_ms + o.sensor_minus_gps_ms) +
           gps_since_start * (1.0 + drift);
  };
  const auto antenna_at = [&](double gps_since_start, double& e, double& n, double& de,
                              double& dn) {
    return walked_path(o, o.speed_m_s * gps_since_start / 1000.0, e, n, de, dn);
  };

  struct Logged {
    double gps_since_start;  // the moment it was logged
    int order;               // a station logged at the same moment goes first
    FeedEvent event;
    TrueStation truth;
    double latitude = 0.0, longitude = 0.0;  // fixes
    bool fix_with_position = false;
  };
  std::vector<Logged> logged;

  // Readings on the sensor clock's own ticks of reading_interval_ms.
  const double first_sensor = sensor_of(0.0);
  auto tick = static_cast<std::int64_t>(
      std::ceil(first_sensor / static_cast<double>(o.reading_interval_ms)));
  for (;; ++tick) {
    const auto sensor_ms = tick * o.reading_interval_ms;
    const double gps = (static_cast<double>(sensor_ms) - first_sensor) / (1.0 + drift);
    double e, n, de, dn;
    if (!antenna_at(gps, e, n, de, dn)) break;
    const double sensor_e = e + o.antenna_along_m * de + o.antenna_across_m * dn;
    const double sensor_n = n + o.antenna_along_m * dn - o.antenna_across_m * de;
    Logged station;
    station.gps_since_start = gps;
    station.order = 0;
    station.event.sensor_time_of_day_ms = ((sensor_ms % kSurveyDayMs) + kSurveyDayMs) % kSurveyDayMs;
    std::tie(station.truth.latitude, station.truth.longitude) =
        survey.plane.degrees(sensor_e, sensor_n);
    logged.push_back(station);
  }
  // Fixes on whole GPS seconds from the start.
  const std::int64_t first_fix =
      (o.start_gps_ms + o.fix_interval_ms - 1) / o.fix_interval_ms * o.fix_interval_ms;
  for (std::int64_t t = first_fix;; t += o.fix_interval_ms) {
    const auto since = static_cast<double>(t - o.start_gps_ms);
    double e, n, de, dn;
    if (!antenna_at(since, e, n, de, dn)) break;
    if (within(o.no_fix_ms, t - o.start_gps_ms)) continue;
    const bool good = !within(o.quality_zero_ms, t - o.start_gps_ms);
    Logged fix;
    fix.gps_since_start = since + o.gps_lag_s * 1000.0;
    fix.order = 1;
    fix.event.is_fix = true;
    std::tie(fix.latitude, fix.longitude) = survey.plane.degrees(e, n);
    fix.fix_with_position = good;
    fix.event.sentence = gga_sentence(t, good, fix.latitude, fix.longitude, good ? 1 : 0, 0.9);
    logged.push_back(fix);
  }
  std::stable_sort(logged.begin(), logged.end(), [](const Logged& a, const Logged& b) {
    if (a.gps_since_start != b.gps_since_start) return a.gps_since_start < b.gps_since_start;
    return a.order < b.order;
  });

  const Logged* last_fix = nullptr;
  for (Logged& entry : logged) {
    if (entry.event.is_fix) {
      if (entry.fix_with_position) last_fix = &entry;
    } else {
      if (last_fix) {
        entry.truth.has_last_fix = true;
        entry.truth.last_fix_latitude = last_fix->latitude;
        entry.truth.last_fix_longitude = last_fix->longitude;
      }
      survey.truth.push_back(entry.truth);
    }
    survey.feed.push_back(entry.event);
  }
  return survey;
}

// The value below which `share` of `values` lie.
inline double share_within(std::vector<double> values, double share) {
  if (values.empty()) return 0.0;
  std::sort(values.begin(), values.end());
  const auto at = static_cast<std::size_t>(std::ceil(share * static_cast<double>(values.size()))) - 1;
  return values[std::min(at, values.size() - 1)];
}

}  // namespace kal::test

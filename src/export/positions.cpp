#include "export/positions.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <utility>

#include "geodesy/ll2utm.h"
#include "transcribe/transcribe_state.h"

namespace kal::xlat {

namespace {

constexpr std::int64_t kHalfDayMs = kDayMs / 2;
// Samples farther than this from the median offset are outliers (a fix
// logged late, a station out of order).
constexpr double kInlierMs = 500.0;
// Fewer samples, or a shorter span, cannot tell a drift from noise.
constexpr int kMinDriftSamples = 10;
constexpr std::int64_t kMinDriftSpanMs = 10 * 60 * 1000;
// More samples than this are thinned out evenly.
constexpr std::size_t kMostSamples = 4096;
// Below this speed the curve gives no direction of travel.
constexpr double kStandingSpeed = 0.05;  // m/s
constexpr double kShortestChord = 0.01;  // m
// Degrees around a fix for the derivatives of the projection.
constexpr double kDerivativeStep = 1e-4;

// `value` moved by whole days to lie within half a day of `near`.
double near_by_days(double value, double near) {
  return value + std::round((near - value) / static_cast<double>(kDayMs)) *
                     static_cast<double>(kDayMs);
}

struct Grid {
  double easting = 0.0, northing = 0.0;
};

Grid project(double latitude, double longitude, std::int32_t& zone) {
  const ProjectionWarningsMuted muted;  // the transcription reports doubtful positions
  Grid grid;
  double latitude_seconds = latitude * 3600.0;
  const double longitude_west_seconds = -longitude * 3600.0;
  LL2UTM(grid.easting, grid.northing, latitude_seconds, longitude_west_seconds, zone,
         kEllipsoidGrs80);
  return grid;
}

double median_of(std::vector<double> values) {
  const auto middle = values.begin() + static_cast<std::ptrdiff_t>(values.size() / 2);
  std::nth_element(values.begin(), middle, values.end());
  if (values.size() % 2 == 1) return *middle;
  const double upper = *middle;
  const double lower = *std::max_element(values.begin(), middle);
  return (lower + upper) / 2.0;
}

}  // namespace

// ---- day unwrapping -----------------------------------------------------------

std::int64_t DayUnwrapper::continuous(std::int64_t time_of_day_ms) {
  if (previous_ && time_of_day_ms < *previous_ - kHalfDayMs) ++day_;
  previous_ = time_of_day_ms;
  return time_of_day_ms + day_ * kDayMs;
}

// ---- clock offset ---------------------------------------------------------------

void ClockOffsetEstimator::station(std::int64_t sensor_time_of_day_ms) {
  const std::int64_t sensor_ms = sensor_clock_.continuous(sensor_time_of_day_ms);
  if (last_station_ms_) {
    const double middle = (static_cast<double>(*last_station_ms_) + static_cast<double>(sensor_ms)) / 2.0;
    for (const std::int32_t fix_ms : waiting_fixes_) {
      const double raw = static_cast<double>(fix_ms) - middle;
      const double near = samples_.empty() ? 0.0 : samples_.front().offset_ms;
      keep({static_cast<std::int64_t>(std::llround(middle)), near_by_days(raw, near),
            sensor_ms - *last_station_ms_});
    }
  }
  waiting_fixes_.clear();
  last_station_ms_ = sensor_ms;
}

void ClockOffsetEstimator::keep(const Sample& sample) {
  if (seen_++ % stride_ != 0) return;
  samples_.push_back(sample);
  if (samples_.size() < kMostSamples) return;
  // Keep the samples at even places: every (2 x stride)-th of all.
  std::size_t kept = 0;
  for (std::size_t i = 0; i < samples_.size(); i += 2) samples_[kept++] = samples_[i];
  samples_.resize(kept);
  stride_ *= 2;
}

void ClockOffsetEstimator::fix(std::int32_t gps_time_of_day_ms) {
  if (last_station_ms_) waiting_fixes_.push_back(gps_time_of_day_ms);
}

std::optional<ClockOffset> ClockOffsetEstimator::result() const {
  if (samples_.empty()) return std::nullopt;
  // The usual time between two stations: the lower quartile, so that pauses
  // do not count even when many fixes were logged during one.
  std::vector<std::int64_t> brackets;
  brackets.reserve(samples_.size());
  for (const Sample& s : samples_) brackets.push_back(s.bracket_ms);
  const auto quartile = brackets.begin() + static_cast<std::ptrdiff_t>(brackets.size() / 4);
  std::nth_element(brackets.begin(), quartile, brackets.end());
  const std::int64_t widest = 2 * std::max<std::int64_t>(*quartile, 1);

  std::vector<double> offsets;
  for (const Sample& s : samples_) {
    if (s.bracket_ms <= widest) offsets.push_back(s.offset_ms);
  }
  const double median = median_of(offsets);

  const double inlier_ms = std::max(kInlierMs, static_cast<double>(*quartile));
  std::vector<Sample> inliers;
  for (const Sample& s : samples_) {
    if (s.bracket_ms <= widest && std::fabs(s.offset_ms - median) <= inlier_ms) {
      inliers.push_back(s);
    }
  }
  ClockOffset result;
  result.samples = seen_;
  result.samples_used = static_cast<std::int64_t>(inliers.size());
  result.offset_ms = median;
  result.reference_ms = samples_.front().sensor_ms;

  const auto [first, last] = std::minmax_element(
      inliers.begin(), inliers.end(),
      [](const Sample& a, const Sample& b) { return a.sensor_ms < b.sensor_ms; });
  if (static_cast<int>(inliers.size()) >= kMinDriftSamples &&
      last->sensor_ms - first->sensor_ms >= kMinDriftSpanMs) {
    double sum_x = 0.0;
    double sum_y = 0.0;
    for (const Sample& s : inliers) {
      sum_x += static_cast<double>(s.sensor_ms);
      sum_y += s.offset_ms;
    }
    const double n = static_cast<double>(inliers.size());
    const auto reference = static_cast<std::int64_t>(std::llround(sum_x / n));
    const double mean_y = sum_y / n;
    double sxx = 0.0;
    double sxy = 0.0;
    for (const Sample& s : inliers) {
      const double x = static_cast<double>(s.sensor_ms - reference);
      sxx += x * x;
      sxy += x * (s.offset_ms - mean_y);
    }
    result.reference_ms = reference;
    result.offset_ms = mean_y;
    result.drift = sxx > 0.0 ? sxy / sxx : 0.0;
  }
  result.offset_ms = near_by_days(result.offset_ms, 0.0);
  if (result.offset_ms >= static_cast<double>(kHalfDayMs)) {
    result.offset_ms -= static_cast<double>(kDayMs);
  }
  return result;
}

// ---- positions --------------------------------------------------------------------

std::string_view verdict_name(PositionVerdict verdict) {
  switch (verdict) {
    case PositionVerdict::interpolated:
      return "interpolated";
    case PositionVerdict::none:
      break;
  }
  return "none";
}

StationPositioner::StationPositioner(const PositionOptions& options,
                                     std::optional<ClockOffset> offset, std::int32_t zone)
    : options_(options), offset_(offset), zone_(zone) {}

void StationPositioner::fix(const GgaFix& fix) {
  const std::int64_t gps_ms = fix_clock_.continuous(fix.time_ms);
  // A repeated or earlier time cannot be placed on the track.
  if (!fixes_.empty() && gps_ms <= fixes_.back().gps_ms) return;

  KeptFix kept;
  kept.gps_ms = gps_ms;
  kept.good = fix.has_position && fix.quality > 0 &&
              (!options_.max_hdop || (fix.hdop && *fix.hdop <= *options_.max_hdop));
  if (kept.good) {
    kept.latitude = fix.latitude;
    kept.longitude = fix.longitude;
    const Grid here = project(fix.latitude, fix.longitude, zone_);
    kept.easting = here.easting;
    kept.northing = here.northing;
    const Grid north = project(fix.latitude + kDerivativeStep, fix.longitude, zone_);
    const Grid south = project(fix.latitude - kDerivativeStep, fix.longitude, zone_);
    const Grid east = project(fix.latitude, fix.longitude + kDerivativeStep, zone_);
    const Grid west = project(fix.latitude, fix.longitude - kDerivativeStep, zone_);
    kept.de_dlat = (north.easting - south.easting) / (2 * kDerivativeStep);
    kept.dn_dlat = (north.northing - south.northing) / (2 * kDerivativeStep);
    kept.de_dlon = (east.easting - west.easting) / (2 * kDerivativeStep);
    kept.dn_dlon = (east.northing - west.northing) / (2 * kDerivativeStep);
    if (last_good_fix_ms_) {
      summary_.longest_gap_ms = std::max(summary_.longest_gap_ms, gps_ms - *last_good_fix_ms_);
    }
    last_good_fix_ms_ = gps_ms;
  }
  fixes_.push_back(kept);
  settle(false);
}

void StationPositioner::station(std::int64_t sensor_time_of_day_ms) {
  const std::uint64_t index = next_index_++;
  ++summary_.stations;
  const std::int64_t sensor_ms = sensor_clock_.continuous(sensor_time_of_day_ms);
  if (!offset_) {
    ready_.push_back({index, {}});
    return;
  }
  // The offset says when fixes were logged; each describes the moment
  // gps_lag_s before that, so the stations logged with it were that much later.
  const double gps_ms = offset_->gps_of(sensor_ms) + options_.gps_lag_s * 1000.0;
  held_.push_back({index, gps_ms});
  newest_station_gps_ms_ = gps_ms;
  settle(false);
}

void StationPositioner::finish() { settle(true); }

bool StationPositioner::next(PositionedStation& out) {
  if (ready_.empty()) return false;
  out = ready_.front();
  ready_.pop_front();
  return true;
}

void StationPositioner::settle(bool finishing) {
  while (!held_.empty() && settle_front(finishing)) {
  }
  let_go_of_old_fixes();
}

// A station needs the fix before its time and the one before that (for the
// curve's tangent); older fixes serve no station to come.
void StationPositioner::let_go_of_old_fixes() {
  if (fixes_.size() < 3) return;
  const double newest_fix = static_cast<double>(fixes_.back().gps_ms);
  const double earliest_needed =
      held_.empty() ? newest_fix - (std::fabs(options_.gps_lag_s) + 2.0) * 1000.0
                    : near_by_days(held_.front().gps_ms, newest_fix);
  while (fixes_.size() >= 3 && static_cast<double>(fixes_[2].gps_ms) <= earliest_needed) {
    fixes_.pop_front();
  }
}

bool StationPositioner::in_stretch(std::size_t a, std::size_t b) const {
  const KeptFix& first = fixes_[a];
  const KeptFix& second = fixes_[b];
  return first.good && second.good &&
         static_cast<double>(second.gps_ms - first.gps_ms) <= options_.max_gap_s * 1000.0;
}

// Settles the oldest held station when the fixes around it are known, or
// when no fix can come in time any more. False: it must wait.
bool StationPositioner::settle_front(bool finishing) {
  const HeldStation station = held_.front();
  const double patience_ms =
      (options_.max_gap_s + std::fabs(options_.gps_lag_s) + 2.0) * 1000.0;
  const bool given_up = finishing || *newest_station_gps_ms_ > station.gps_ms + patience_ms;
  const auto emit = [&](StationPosition position) {
    if (position.verdict == PositionVerdict::interpolated) ++summary_.placed;
    ready_.push_back({station.index, position});
    held_.pop_front();
    return true;
  };

  if (fixes_.empty()) return given_up ? emit({}) : false;
  const double t = near_by_days(station.gps_ms, static_cast<double>(fixes_.back().gps_ms));
  StationPosition none;
  none.gps_time_ms = near_by_days(t, static_cast<double>(kHalfDayMs));

  const auto after_it = std::lower_bound(
      fixes_.begin(), fixes_.end(), t,
      [](const KeptFix& f, double time) { return static_cast<double>(f.gps_ms) < time; });
  const auto after = static_cast<std::size_t>(after_it - fixes_.begin());
  if (after == fixes_.size()) return given_up ? emit(none) : false;
  if (static_cast<double>(fixes_[after].gps_ms) == t) {
    // On a fix: the segment that starts there, or the one that ends there.
    if (!fixes_[after].good) return emit(none);
    if (after + 1 < fixes_.size() && in_stretch(after, after + 1)) {
      if (after + 2 >= fixes_.size() && !given_up) return false;
      return emit(place(t, after, after + 1));
    }
    if (after + 1 >= fixes_.size() && !given_up) return false;
    if (after > 0 && in_stretch(after - 1, after)) return emit(place(t, after - 1, after));
    return emit(none);  // a fix alone in its stretch gives no direction
  }
  if (after == 0) return emit(none);
  const std::size_t before = after - 1;
  if (!in_stretch(before, after)) return emit(none);
  if (after + 1 >= fixes_.size() && !given_up) return false;  // the curve needs the next fix
  return emit(place(t, before, after));
}

// Cubic Hermite curve between fixes i and j (in grid metres, by GPS time),
// the tangents from the neighbouring fixes of the same stretch; the antenna
// offset along the curve's direction at t.
StationPosition StationPositioner::place(double t, std::size_t i, std::size_t j) {
  const KeptFix& a = fixes_[i];
  const KeptFix& b = fixes_[j];
  const double h = static_cast<double>(b.gps_ms - a.gps_ms) / 1000.0;
  const double chord_e = b.easting - a.easting;
  const double chord_n = b.northing - a.northing;

  double ma_e = chord_e / h, ma_n = chord_n / h;
  if (i > 0 && in_stretch(i - 1, i)) {
    const KeptFix& p = fixes_[i - 1];
    const double span = static_cast<double>(b.gps_ms - p.gps_ms) / 1000.0;
    ma_e = (b.easting - p.easting) / span;
    ma_n = (b.northing - p.northing) / span;
  }
  double mb_e = chord_e / h, mb_n = chord_n / h;
  if (j + 1 < fixes_.size() && in_stretch(j, j + 1)) {
    const KeptFix& q = fixes_[j + 1];
    const double span = static_cast<double>(q.gps_ms - a.gps_ms) / 1000.0;
    mb_e = (q.easting - a.easting) / span;
    mb_n = (q.northing - a.northing) / span;
  }

  const double s = (t - static_cast<double>(a.gps_ms)) / 1000.0 / h;
  const double s2 = s * s;
  const double s3 = s2 * s;
  const double h00 = 2 * s3 - 3 * s2 + 1, h10 = s3 - 2 * s2 + s;
  const double h01 = -2 * s3 + 3 * s2, h11 = s3 - s2;
  double east = h00 * a.easting + h10 * h * ma_e + h01 * b.easting + h11 * h * mb_e;
  double north = h00 * a.northing + h10 * h * ma_n + h01 * b.northing + h11 * h * mb_n;

  StationPosition position;
  position.gps_time_ms = near_by_days(t, static_cast<double>(kHalfDayMs));
  if (options_.antenna_along_m != 0.0 || options_.antenna_across_m != 0.0) {
    const double d00 = 6 * s2 - 6 * s, d10 = 3 * s2 - 4 * s + 1;
    const double d01 = -6 * s2 + 6 * s, d11 = 3 * s2 - 2 * s;
    const double v_e = (d00 * a.easting + d01 * b.easting) / h + d10 * ma_e + d11 * mb_e;
    const double v_n = (d00 * a.northing + d01 * b.northing) / h + d10 * ma_n + d11 * mb_n;
    const double speed = std::hypot(v_e, v_n);
    const double chord = std::hypot(chord_e, chord_n);
    if (speed >= kStandingSpeed) {
      last_heading_ = std::pair{v_e / speed, v_n / speed};
    } else if (chord >= kShortestChord) {
      last_heading_ = std::pair{chord_e / chord, chord_n / chord};
    }
    // Standing still: the sensor keeps the direction it last travelled in.
    if (!last_heading_) return position;  // verdict none
    const auto [u_e, u_n] = *last_heading_;
    east += options_.antenna_along_m * u_e + options_.antenna_across_m * u_n;
    north += options_.antenna_along_m * u_n - options_.antenna_across_m * u_e;
  }

  // Back to degrees through the projection's derivatives at fix i.
  const double d_e = east - a.easting;
  const double d_n = north - a.northing;
  const double determinant = a.de_dlat * a.dn_dlon - a.de_dlon * a.dn_dlat;
  position.latitude = a.latitude + (d_e * a.dn_dlon - d_n * a.de_dlon) / determinant;
  position.longitude = a.longitude + (a.de_dlat * d_n - a.dn_dlat * d_e) / determinant;
  position.easting = east;
  position.northing = north;
  position.zone = zone_;
  position.verdict = PositionVerdict::interpolated;
  return position;
}

}  // namespace kal::xlat

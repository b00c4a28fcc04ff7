// The stations' own positions: the clock offset from the logging order, the
// curve between the fixes around each station, what gets no position, the
// antenna offset and lag, and the accuracy on a walked survey of known truth.
#include "export/positions.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "geodesy/gga_fix.h"
#include "support/walked_survey.h"

namespace kal::xlat {
namespace {

using test::FeedEvent;
using test::LocalPlane;

constexpr std::int64_t kHourMs = 3'600'000;

// ---- running a feed ---------------------------------------------------------------

struct Placed {
  std::optional<ClockOffset> offset;
  std::vector<StationPosition> positions;  // one per station, in feed order
  PositionSummary summary;
  std::size_t most_held = 0;  // stations fed but not yet given back, at worst
  std::size_t most_fixes = 0;
};

std::optional<ClockOffset> estimate_offset(const std::vector<FeedEvent>& feed) {
  ClockOffsetEstimator estimator;
  for (const FeedEvent& event : feed) {
    if (!event.is_fix) {
      estimator.station(event.sensor_time_of_day_ms);
    } else if (const auto fix = read_gga_fix(event.sentence)) {
      estimator.fix(fix->time_ms);
    }
  }
  return estimator.result();
}

Placed place_with(const std::vector<FeedEvent>& feed, const PositionOptions& options,
                  std::optional<ClockOffset> offset) {
  Placed placed;
  placed.offset = offset;
  StationPositioner positioner(options, offset, 0);
  std::size_t fed = 0;
  const auto drain = [&] {
    PositionedStation out;
    while (positioner.next(out)) {
      EXPECT_EQ(out.index, placed.positions.size());
      placed.positions.push_back(out.position);
    }
  };
  for (const FeedEvent& event : feed) {
    if (!event.is_fix) {
      positioner.station(event.sensor_time_of_day_ms);
      ++fed;
    } else if (const auto fix = read_gga_fix(event.sentence)) {
      positioner.fix(*fix);
    }
    drain();
    placed.most_held = std::max(placed.most_held, fed - placed.positions.size());
    placed.most_fixes = std::max(placed.most_fixes, positioner.fixes_kept());
  }
  positioner.finish();
  drain();
  EXPECT_EQ(placed.positions.size(), fed);
  placed.summary = positioner.summary();
  return placed;
}

Placed place(const std::vector<FeedEvent>& feed, const PositionOptions& options = {}) {
  return place_with(feed, options, estimate_offset(feed));
}

// ---- hand-made feeds ------------------------------------------------------------------

constexpr std::int64_t kTen = 10 * kHourMs;  // 10:00:00 GPS
const LocalPlane kPlane(45.5, -73.6);

struct TrackFix {
  double second;  // since 10:00:00 GPS
  int quality = 1;
  double hdop = 0.9;
};

// Fixes of an antenna at (east, north) = where(t) and stations at the given
// seconds, logged in time order (a station before a fix of the same moment);
// the sensor clock shows GPS time.
std::vector<FeedEvent> track_feed(const std::function<std::pair<double, double>(double)>& where,
                                  const std::vector<TrackFix>& fixes,
                                  const std::vector<double>& stations) {
  std::vector<std::pair<double, FeedEvent>> timed;
  for (const double s : stations) {
    FeedEvent station;
    station.sensor_time_of_day_ms = kTen + std::llround(s * 1000.0);
    timed.push_back({s - 1e-9, station});
  }
  for (const TrackFix& f : fixes) {
    const auto [east, north] = where(f.second);
    const auto [latitude, longitude] = kPlane.degrees(east, north);
    FeedEvent fix;
    fix.is_fix = true;
    fix.sentence = test::gga_sentence(kTen + std::llround(f.second * 1000.0), f.quality > 0,
                                      latitude, longitude, f.quality, f.hdop);
    timed.push_back({f.second, fix});
  }
  std::stable_sort(timed.begin(), timed.end(),
                   [](const auto& a, const auto& b) { return a.first < b.first; });
  std::vector<FeedEvent> feed;
  for (auto& [time, event] : timed) feed.push_back(std::move(event));
  return feed;
}

std::vector<TrackFix> fixes_every_second(int first, int last) {
  std::vector<TrackFix> fixes;
  for (int s = first; s <= last; ++s) fixes.push_back({static_cast<double>(s)});
  return fixes;
}

std::vector<double> stations_between(double first, double last, double step) {
  std::vector<double> stations;
  for (double s = first; s <= last + 1e-9; s += step) stations.push_back(s);
  return stations;
}

const ClockOffset kSameClock{};  // sensor time = GPS time

std::pair<double, double> east_at_1_m_s(double t) { return {t, 0.0}; }

double error_m(const StationPosition& got, double east, double north) {
  const auto [latitude, longitude] = kPlane.degrees(east, north);
  return kPlane.distance(got.latitude, got.longitude, latitude, longitude);
}

// ---- clock offset ------------------------------------------------------------------------

struct OffsetCase {
  std::string name;
  std::int64_t first_station_ms;         // sensor clock; stations every 100 ms
  int stations;
  std::vector<std::pair<int, std::int64_t>> fixes;  // (logged after station k, GPS time)
  std::optional<double> offset_ms;       // worked by hand
  int samples_used;
};

std::vector<FeedEvent> offset_feed(const OffsetCase& c) {
  std::vector<FeedEvent> feed;
  for (int k = 0; k < c.stations; ++k) {
    FeedEvent station;
    station.sensor_time_of_day_ms = (c.first_station_ms + 100 * k) % test::kSurveyDayMs;
    feed.push_back(station);
    for (const auto& [after, gps_ms] : c.fixes) {
      if (after != k) continue;
      FeedEvent fix;
      fix.is_fix = true;
      fix.sentence = test::gga_sentence(gps_ms, true, 45.5, -73.6, 1, 0.9);
      feed.push_back(fix);
    }
  }
  return feed;
}

// A fix logged between the stations at x.900 and (x+1).000 lies at x.950
// on the sensor clock, within 50 ms.
const OffsetCase kOffsets[] = {
    {"GPS 5 h ahead: 12:00:01.000 - 07:00:00.950", 7 * kHourMs, 50,
     {{9, 12 * kHourMs + 1000}, {19, 12 * kHourMs + 2000}, {29, 12 * kHourMs + 3000},
      {39, 12 * kHourMs + 4000}},
     5 * kHourMs + 50, 4},
    {"a fix logged 4.5 s late is outvoted", 7 * kHourMs, 50,
     {{9, 12 * kHourMs + 1000}, {19, 12 * kHourMs + 2000}, {29, 12 * kHourMs + 3000},
      {39, 12 * kHourMs + 4000}, {44, 12 * kHourMs}},
     5 * kHourMs + 50, 4},
    {"GPS passes midnight: 23:59:59, 00:00:00, 00:00:01", 19 * kHourMs - 2000, 40,
     {{9, 24 * kHourMs - 1000}, {19, 0}, {29, 1000}}, 5 * kHourMs + 50, 3},
    {"the sensor clock passes midnight", 24 * kHourMs - 2000, 40,
     {{9, 5 * kHourMs - 1000}, {19, 5 * kHourMs}, {29, 5 * kHourMs + 1000}}, 5 * kHourMs + 50, 3},
    {"both pass midnight, GPS 0.45 s behind", 24 * kHourMs - 2000, 40,
     {{14, 24 * kHourMs - 1000}, {24, 0}, {34, 1000}}, -450.0, 3},
    {"sensor 5 h ahead: 12:00:01.000 - 17:00:00.950", 17 * kHourMs, 20,
     {{9, 12 * kHourMs + 1000}}, -(5 * kHourMs - 50), 1},
    {"23:00 sensor, 01:00:01 GPS: 2 h, not -22 h", 23 * kHourMs, 20,
     {{9, 1 * kHourMs + 1000}}, 2 * kHourMs + 50, 1},
    {"a fix before the first station tells nothing", 7 * kHourMs, 20, {{-1, 12 * kHourMs}},
     std::nullopt, 0},
    {"a fix after the last station tells nothing", 7 * kHourMs, 20, {{19, 12 * kHourMs}},
     std::nullopt, 0},
};

TEST(ClockOffset, FromTheFixesBetweenStations) {
  for (const OffsetCase& c : kOffsets) {
    SCOPED_TRACE(c.name);
    std::vector<FeedEvent> feed = offset_feed(c);
    if (c.fixes.front().first < 0) {
      FeedEvent fix;
      fix.is_fix = true;
      fix.sentence = test::gga_sentence(c.fixes.front().second, true, 45.5, -73.6, 1, 0.9);
      feed.insert(feed.begin(), fix);
    }
    const std::optional<ClockOffset> offset = estimate_offset(feed);
    ASSERT_EQ(offset.has_value(), c.offset_ms.has_value());
    if (!offset) continue;
    EXPECT_NEAR(offset->offset_ms, *c.offset_ms, 1e-6);
    EXPECT_EQ(offset->drift, 0.0);
    EXPECT_EQ(offset->samples_used, c.samples_used);
  }
}

// Readings every 3 s: a fix at GPS 12:00:01.5 logged between the stations
// at 07:00:00 and 07:00:03 lies at 07:00:01.5 on the sensor clock, within
// 1.5 s; one at 12:00:04.5 between 07:00:03 and 07:00:06 likewise.
TEST(ClockOffset, SlowReadings) {
  std::vector<FeedEvent> feed;
  const auto station = [&](std::int64_t ms) {
    FeedEvent e;
    e.sensor_time_of_day_ms = ms;
    feed.push_back(e);
  };
  const auto fix = [&](std::int64_t ms) {
    FeedEvent e;
    e.is_fix = true;
    e.sentence = test::gga_sentence(ms, true, 45.5, -73.6, 1, 0.9);
    feed.push_back(e);
  };
  station(7 * kHourMs);
  fix(12 * kHourMs + 1500);
  station(7 * kHourMs + 3000);
  fix(12 * kHourMs + 4500);
  station(7 * kHourMs + 6000);
  const std::optional<ClockOffset> offset = estimate_offset(feed);
  ASSERT_TRUE(offset.has_value());
  EXPECT_NEAR(offset->offset_ms, 5 * kHourMs, 1e-6);
  EXPECT_EQ(offset->samples_used, 2);
}

// Readings stop for 10 s while nine fixes are logged: those nine say only
// that the offset lies within 5 s; the four fixes between readings 100 ms
// apart decide (12:00:01.000 - 07:00:00.950 as above).
TEST(ClockOffset, APauseInTheReadingsDoesNotDecide) {
  OffsetCase c{"", 7 * kHourMs, 50,
               {{9, 12 * kHourMs + 1000}, {19, 12 * kHourMs + 2000}, {29, 12 * kHourMs + 3000},
                {39, 12 * kHourMs + 4000}},
               5 * kHourMs + 50, 4};
  std::vector<FeedEvent> feed = offset_feed(c);
  for (int k = 0; k < 9; ++k) {
    FeedEvent fix;
    fix.is_fix = true;
    fix.sentence = test::gga_sentence(12 * kHourMs + 6000 + 1000 * k, true, 45.5, -73.6, 1, 0.9);
    feed.push_back(fix);
  }
  FeedEvent after_pause;
  after_pause.sensor_time_of_day_ms = 7 * kHourMs + 4900 + 10'000;
  feed.push_back(after_pause);
  const std::optional<ClockOffset> offset = estimate_offset(feed);
  ASSERT_TRUE(offset.has_value());
  EXPECT_NEAR(offset->offset_ms, 5 * kHourMs + 50, 1e-6);
  EXPECT_EQ(offset->samples, 13);
  EXPECT_EQ(offset->samples_used, 4);
}

// A sensor clock 200 ppm fast over 20 lines (about 23 minutes, 0.28 s of
// drift): the GPS time per sensor millisecond falls by 200e-6 / (1 + 200e-6).
TEST(ClockOffset, FollowsADriftingSensorClock) {
  test::WalkedSurveyOptions options;
  options.lines = 20;
  options.drift_ppm = 200.0;
  const test::WalkedSurvey survey = test::walk_survey(options);
  const std::optional<ClockOffset> offset = estimate_offset(survey.feed);
  ASSERT_TRUE(offset.has_value());
  EXPECT_NEAR(offset->drift, -200e-6 / (1 + 200e-6), 10e-6);
}

// ---- what gets a position ----------------------------------------------------------------

// Fixes 0..20 s without 8..13: 7 s between the fixes at 7 and 14.
TEST(StationPositions, NoneAcrossAGapOverTheLimit) {
  std::vector<TrackFix> fixes;
  for (const TrackFix& f : fixes_every_second(0, 20)) {
    if (f.second < 8 || f.second > 13) fixes.push_back(f);
  }
  const auto feed = track_feed(east_at_1_m_s, fixes, stations_between(0.25, 19.75, 0.5));
  const Placed placed = place_with(feed, {}, kSameClock);
  ASSERT_EQ(placed.positions.size(), 40u);
  for (std::size_t i = 0; i < placed.positions.size(); ++i) {
    const double t = 0.25 + 0.5 * static_cast<double>(i);
    SCOPED_TRACE(t);
    const bool in_gap = t > 7 && t < 14;
    const StationPosition& got = placed.positions[i];
    EXPECT_EQ(got.verdict, in_gap ? PositionVerdict::none : PositionVerdict::interpolated);
    if (!in_gap) {
      EXPECT_LT(error_m(got, t, 0.0), 0.002);
    }
  }
  EXPECT_EQ(placed.summary.longest_gap_ms, 7000);
  EXPECT_EQ(placed.summary.placed, 26u);  // 14 before the gap, 12 after

  PositionOptions longer;
  longer.max_gap_s = 8.0;
  const Placed bridged = place_with(feed, longer, kSameClock);
  for (std::size_t i = 0; i < bridged.positions.size(); ++i) {
    const double t = 0.25 + 0.5 * static_cast<double>(i);
    SCOPED_TRACE(t);
    ASSERT_EQ(bridged.positions[i].verdict, PositionVerdict::interpolated);
    EXPECT_LT(error_m(bridged.positions[i], t, 0.0), 0.002);  // a straight line stays one
  }
}

TEST(StationPositions, NoneNextToAFixOfQualityZero) {
  std::vector<TrackFix> fixes = fixes_every_second(0, 10);
  fixes[5].quality = 0;
  const auto feed = track_feed(east_at_1_m_s, fixes, stations_between(0.5, 9.5, 1.0));
  const Placed placed = place_with(feed, {}, kSameClock);
  ASSERT_EQ(placed.positions.size(), 10u);
  for (std::size_t i = 0; i < 10; ++i) {
    const double t = 0.5 + static_cast<double>(i);
    SCOPED_TRACE(t);
    const bool next_to_zero = t > 4 && t < 6;
    EXPECT_EQ(placed.positions[i].verdict,
              next_to_zero ? PositionVerdict::none : PositionVerdict::interpolated);
    if (!next_to_zero) {
      EXPECT_LT(error_m(placed.positions[i], t, 0.0), 0.002);
    }
  }
}

TEST(StationPositions, HdopFilterIsAnOption) {
  std::vector<TrackFix> fixes = fixes_every_second(0, 10);
  fixes[5].hdop = 2.5;
  const auto feed = track_feed(east_at_1_m_s, fixes, stations_between(0.5, 9.5, 1.0));
  const Placed unfiltered = place_with(feed, {}, kSameClock);
  EXPECT_EQ(unfiltered.summary.placed, 10u);
  PositionOptions filtered;
  filtered.max_hdop = 2.0;
  const Placed placed = place_with(feed, filtered, kSameClock);
  EXPECT_EQ(placed.summary.placed, 8u);
  EXPECT_EQ(placed.positions[4].verdict, PositionVerdict::none);  // 4.5 s
  EXPECT_EQ(placed.positions[5].verdict, PositionVerdict::none);  // 5.5 s
}

TEST(StationPositions, NoneBeforeTheFirstAndAfterTheLastFix) {
  const auto feed = track_feed(east_at_1_m_s, fixes_every_second(3, 8),
                               stations_between(0.5, 10.5, 1.0));
  const Placed placed = place_with(feed, {}, kSameClock);
  ASSERT_EQ(placed.positions.size(), 11u);
  for (std::size_t i = 0; i < 11; ++i) {
    const double t = 0.5 + static_cast<double>(i);
    SCOPED_TRACE(t);
    EXPECT_EQ(placed.positions[i].verdict,
              t > 3 && t < 8 ? PositionVerdict::interpolated : PositionVerdict::none);
  }
}

TEST(StationPositions, WithoutAnyFixNothingIsInvented) {
  const auto feed = track_feed(east_at_1_m_s, {}, stations_between(0.0, 99.9, 0.1));
  const Placed placed = place(feed);
  EXPECT_FALSE(placed.offset.has_value());
  ASSERT_EQ(placed.positions.size(), feed.size());
  for (const StationPosition& p : placed.positions) EXPECT_EQ(p.verdict, PositionVerdict::none);
  EXPECT_EQ(placed.summary.placed, 0u);

  // With an offset but no fix, stations are not held to the end of the file:
  // 5 s + 2 s of patience at 10 Hz.
  const Placed waited = place_with(feed, {}, kSameClock);
  EXPECT_EQ(waited.summary.placed, 0u);
  EXPECT_LE(waited.most_held, 72u);
}

TEST(StationPositions, VerdictNames) {
  EXPECT_EQ(verdict_name(PositionVerdict::interpolated), "interpolated");
  EXPECT_EQ(verdict_name(PositionVerdict::none), "none");
}

// ---- antenna offset --------------------------------------------------------------------

struct AntennaCase {
  std::string name;
  double direction_east, direction_north;  // of travel, at 2 m/s
  double along, across;
  double east, north;  // the sensor at 2.5 s, worked by hand
};

// At 2.5 s the antenna is 5 m from the origin.
const AntennaCase kAntenna[] = {
    {"east, sensor ahead", 1, 0, 1.0, 0.0, 6.0, 0.0},
    {"east, sensor behind", 1, 0, -1.0, 0.0, 4.0, 0.0},
    {"east, sensor right (south)", 1, 0, 0.0, 0.5, 5.0, -0.5},
    {"east, behind and right", 1, 0, -1.0, 0.5, 4.0, -0.5},
    {"north, sensor ahead", 0, 1, 1.0, 0.0, 0.0, 6.0},
    {"north, sensor behind", 0, 1, -1.0, 0.0, 0.0, 4.0},
    {"north, sensor right (east)", 0, 1, 0.0, 0.5, 0.5, 5.0},
    {"west, sensor ahead", -1, 0, 1.0, 0.0, -6.0, 0.0},
    {"west, sensor behind", -1, 0, -1.0, 0.0, -4.0, 0.0},
    {"west, sensor right (north)", -1, 0, 0.0, 0.5, -5.0, 0.5},
};

TEST(StationPositions, AntennaOffsetAlongAndAcrossTheTrack) {
  for (const AntennaCase& c : kAntenna) {
    SCOPED_TRACE(c.name);
    const auto where = [&](double t) {
      return std::pair{2.0 * t * c.direction_east, 2.0 * t * c.direction_north};
    };
    const auto feed = track_feed(where, fixes_every_second(0, 6), {2.5});
    PositionOptions options;
    options.antenna_along_m = c.along;
    options.antenna_across_m = c.across;
    const Placed placed = place_with(feed, options, kSameClock);
    ASSERT_EQ(placed.positions.size(), 1u);
    const StationPosition& got = placed.positions[0];
    ASSERT_EQ(got.verdict, PositionVerdict::interpolated);
    EXPECT_LT(error_m(got, c.east, c.north), 0.002);
    EXPECT_EQ(got.gps_time_ms, static_cast<double>(kTen + 2500));
  }
}

// A fix reaches the stream 0.4 s after its moment: the stations logged
// around it were 0.4 s further along than the order alone says.
TEST(StationPositions, GpsLagMovesTheStationsAlongTheTrack) {
  const auto feed = track_feed(east_at_1_m_s, fixes_every_second(0, 10),
                               stations_between(1.25, 8.25, 1.0));
  PositionOptions lagged;
  lagged.gps_lag_s = 0.4;
  const Placed placed = place_with(feed, lagged, kSameClock);
  for (std::size_t i = 0; i < placed.positions.size(); ++i) {
    const double t = 1.25 + static_cast<double>(i);
    ASSERT_EQ(placed.positions[i].verdict, PositionVerdict::interpolated);
    EXPECT_LT(error_m(placed.positions[i], t + 0.4, 0.0), 0.002) << t;
  }
}

// ---- a walked survey of known truth -------------------------------------------------------

struct Accuracy {
  double within_95 = 0.0;       // m
  double within_99 = 0.0;       // m: the turns
  double last_fix_95 = 0.0;     // m, each station at the last fix before it
  double placed_share = 0.0;
  std::size_t most_held = 0;
  std::size_t most_fixes = 0;
  std::optional<ClockOffset> offset;
};

Accuracy accuracy_of(const test::WalkedSurveyOptions& survey_options,
                     const PositionOptions& options, const char* name) {
  const test::WalkedSurvey survey = test::walk_survey(survey_options);
  const Placed placed = place(survey.feed, options);
  Accuracy result;
  std::vector<double> errors;
  std::vector<double> last_fix;
  std::size_t placed_count = 0;
  for (std::size_t i = 0; i < survey.truth.size(); ++i) {
    const test::TrueStation& truth = survey.truth[i];
    const StationPosition& got = placed.positions[i];
    if (truth.has_last_fix) {
      last_fix.push_back(survey.plane.distance(truth.last_fix_latitude,
                                               truth.last_fix_longitude, truth.latitude,
                                               truth.longitude));
    }
    if (got.verdict != PositionVerdict::interpolated) continue;
    ++placed_count;
    errors.push_back(
        survey.plane.distance(got.latitude, got.longitude, truth.latitude, truth.longitude));
  }
  result.within_95 = test::share_within(errors, 0.95);
  result.within_99 = test::share_within(errors, 0.99);
  result.last_fix_95 = test::share_within(last_fix, 0.95);
  result.placed_share = static_cast<double>(placed_count) / static_cast<double>(survey.truth.size());
  result.most_held = placed.most_held;
  result.most_fixes = placed.most_fixes;
  result.offset = placed.offset;
  std::printf("%-40s stations %zu placed %.4f  95%% within %.4f m  last fix %.3f m  held %zu"
              " fixes %zu  offset %.1f ms drift %.2e\n",
              name, survey.truth.size(), result.placed_share, result.within_95,
              result.last_fix_95, result.most_held, result.most_fixes,
              placed.offset ? placed.offset->offset_ms : 0.0,
              placed.offset ? placed.offset->drift : 0.0);
  std::printf("%-40s 50%% %.4f  99%% %.4f  max %.4f\n", "", test::share_within(errors, 0.5),
              test::share_within(errors, 0.99), test::share_within(errors, 1.0));
  return result;
}

// The sensor clock is 5 h 0.372 s behind GPS; 8 lines from GPS 23:55:00 pass
// midnight. A fix comes on a whole GPS second, 0.628 s into a sensor second,
// between the readings at .600 and .700: the offset is found within 50 ms
// (half a reading interval), here 22 ms short.
TEST(WalkedSurvey, StationsWithinFiveCentimetres) {
  const Accuracy a = accuracy_of({}, {}, "walked, GPS midnight");
  ASSERT_TRUE(a.offset.has_value());
  EXPECT_NEAR(a.offset->offset_ms, 5 * kHourMs + 372, 50.0);
  EXPECT_LE(a.within_95, 0.05);
  // In the U-turns (1 rad between two fixes) a straight line between the
  // fixes cuts the corner by up to 0.19 m; the curve stays within 0.08 m.
  EXPECT_LE(a.within_99, 0.08);
  // Walking 1.5 m in a second, the last fix lies up to 1.5 m behind.
  EXPECT_GT(a.last_fix_95, 1.3);
  EXPECT_LT(a.last_fix_95, 1.5);
  EXPECT_GT(a.placed_share, 0.99);
  EXPECT_LE(a.most_held, 100u);
  EXPECT_LE(a.most_fixes, 12u);  // of 556
}

TEST(WalkedSurvey, SensorClockPassingMidnight) {
  test::WalkedSurveyOptions options;
  options.start_gps_ms = (4 * 60 + 55) * 60'000;  // sensor 23:54:59.628
  const Accuracy a = accuracy_of(options, {}, "walked, sensor midnight");
  EXPECT_LE(a.within_95, 0.05);
  EXPECT_GT(a.placed_share, 0.99);
}

TEST(WalkedSurvey, SensorTowedOneMetreBehind) {
  test::WalkedSurveyOptions options;
  options.antenna_along_m = -1.0;
  PositionOptions positions;
  positions.antenna_along_m = -1.0;
  const Accuracy a = accuracy_of(options, positions, "walked, sensor 1 m behind");
  EXPECT_LE(a.within_95, 0.10);
  EXPECT_LE(a.within_99, 0.15);  // the direction of travel in the turns
  // Without the offset the stations lie a metre off.
  const Accuracy ignored = accuracy_of(options, {}, "walked, 1 m behind, offset ignored");
  EXPECT_GT(ignored.within_95, 0.9);
}

TEST(WalkedSurvey, FixesLoggedLate) {
  test::WalkedSurveyOptions options;
  options.gps_lag_s = 0.4;
  PositionOptions positions;
  positions.gps_lag_s = 0.4;
  const Accuracy a = accuracy_of(options, positions, "walked, fixes 0.4 s late");
  EXPECT_LE(a.within_95, 0.05);
  // Ignoring the lag places every station 0.6 m (0.4 s at 1.5 m/s) behind.
  const Accuracy ignored = accuracy_of(options, {}, "walked, 0.4 s late, lag ignored");
  EXPECT_GT(ignored.within_95, 0.5);
}

// 200 ppm over 23 minutes moves the fixes across three readings: the
// staircase of samples gives the drift.
TEST(WalkedSurvey, DriftingSensorClock) {
  test::WalkedSurveyOptions options;
  options.lines = 20;
  options.drift_ppm = 200.0;
  const Accuracy a = accuracy_of(options, {}, "walked, sensor clock 200 ppm fast");
  EXPECT_LE(a.within_95, 0.05);
}

// 80 lines, an hour and a half, 5,600 fixes: the samples are thinned out
// and still follow a clock 50 ppm fast (0.27 s over the survey).
TEST(WalkedSurvey, LongSurveyThinsTheSamples) {
  test::WalkedSurveyOptions options;
  options.lines = 80;
  options.drift_ppm = 50.0;
  const test::WalkedSurvey survey = test::walk_survey(options);
  const std::optional<ClockOffset> offset = estimate_offset(survey.feed);
  ASSERT_TRUE(offset.has_value());
  EXPECT_GT(offset->samples, 5000);
  EXPECT_LT(offset->samples_used, 4096);
  EXPECT_NEAR(offset->drift, -50e-6, 5e-6);
  const Accuracy a = accuracy_of(options, {}, "walked 1.5 h, sensor clock 50 ppm fast");
  EXPECT_LE(a.within_95, 0.05);
}

// 50 ppm moves the fixes by 70 ms, all between the same two readings: no
// logging order tells that from a steady clock; the midpoint keeps the
// error within half a reading interval (7.5 cm at 1.5 m/s).
TEST(WalkedSurvey, DriftWithinOneReadingInterval) {
  test::WalkedSurveyOptions options;
  options.lines = 20;
  options.drift_ppm = 50.0;
  const Accuracy a = accuracy_of(options, {}, "walked, sensor clock 50 ppm fast");
  EXPECT_LE(a.within_95, 0.075);
}

TEST(WalkedSurvey, GapsAndFixesOfQualityZero) {
  test::WalkedSurveyOptions options;
  options.no_fix_ms = {{60'000, 70'000}};        // 11 s between two fixes
  options.quality_zero_ms = {{200'000, 203'000}};
  const test::WalkedSurvey survey = test::walk_survey(options);
  const Placed placed = place(survey.feed);
  // None in the 11 s and the 4 s around the three quality-0 fixes; the rest placed.
  std::size_t none = 0;
  for (const StationPosition& p : placed.positions) none += p.verdict == PositionVerdict::none;
  // Stations at 10 Hz: (70 - 59) s + (203 - 199) s = 150, give or take the
  // stations at the ends of the survey and on the edges.
  EXPECT_NEAR(static_cast<double>(none), 150.0, 4.0);
  EXPECT_EQ(placed.summary.longest_gap_ms, 11'000);
  EXPECT_LE(placed.most_held, 160u);  // 11 s + 7 s of patience at 10 Hz
  EXPECT_LE(placed.most_fixes, 12u);
  const Accuracy a = accuracy_of(options, {}, "walked, a gap and quality 0");
  EXPECT_LE(a.within_95, 0.05);
}

// South of the equator and east of Greenwich: a negative zone.
TEST(WalkedSurvey, SouthernHemisphere) {
  test::WalkedSurveyOptions options;
  options.origin_latitude = -33.9;
  options.origin_longitude = 151.2;
  options.antenna_along_m = -1.0;
  PositionOptions positions;
  positions.antenna_along_m = -1.0;
  const Accuracy a = accuracy_of(options, positions, "walked, 33.9 S 151.2 E, 1 m behind");
  EXPECT_LE(a.within_95, 0.10);
  EXPECT_GT(a.placed_share, 0.99);
}

// 15 km/h, lines 200 m long and 10 m apart.
TEST(WalkedSurvey, TowedByAVehicle) {
  test::WalkedSurveyOptions options;
  options.lines = 4;
  options.line_length_m = 200.0;
  options.line_spacing_m = 10.0;
  options.speed_m_s = 15.0 / 3.6;
  const Accuracy a = accuracy_of(options, {}, "vehicle, 15 km/h");
  // The offset found is 22 ms short (see above): 9 cm at 4.17 m/s.
  EXPECT_LE(a.within_95, 0.12);
  EXPECT_GT(a.last_fix_95, 3.5);
}

}  // namespace
}  // namespace kal::xlat

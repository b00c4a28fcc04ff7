// The stations' own positions: each station placed by its time between the
// GPS fixes around it, with the sensor clock's offset to GPS time estimated
// from the order in which stations and fixes were logged, and the antenna's
// distance to the sensor applied. Plain values and no I/O.
//
// Use per survey file, in two passes over the same RAW order:
//   1. ClockOffsetEstimator: every station time and every fix time, in RAW
//      order (the GPS pre-pass can feed it); result() is the offset.
//   2. StationPositioner: every fix and every station again in RAW order;
//      positioned stations come out in the order they went in; finish() at
//      the end of the survey file settles the ones still held.
#pragma once

#include <cstdint>
#include <deque>
#include <optional>
#include <string_view>
#include <vector>

#include "geodesy/gga_fix.h"

namespace kal::xlat {

inline constexpr std::int64_t kDayMs = 86'400'000;

struct PositionOptions {
  double max_gap_s = 5.0;          // longest time between two fixes a station may lie between
  std::optional<double> max_hdop;  // fixes with a larger (or no) HDOP count as no fix
  double antenna_along_m = 0.0;    // sensor from the antenna: + forward in the direction of travel
  double antenna_across_m = 0.0;   // + to the right of the direction of travel
  double gps_lag_s = 0.0;          // a fix reaches the RAW stream this long after its moment
};

// Times of day that pass midnight made continuous: a time more than 12 hours
// before the previous one belongs to the next day.
class DayUnwrapper {
 public:
  std::int64_t continuous(std::int64_t time_of_day_ms);

 private:
  std::optional<std::int64_t> previous_;
  std::int64_t day_ = 0;
};

// The GPS time (modulo a day) at which a fix logged at a sensor time came:
// sensor time + offset_ms + drift * (sensor time - reference). A fix comes
// gps_lag_s after the moment it describes; the positioner adds that lag.
// Sensor times are continuous as DayUnwrapper makes them, from the first
// station of the survey file.
struct ClockOffset {
  double offset_ms = 0.0;           // at the reference time; within -12 h .. +12 h
  double drift = 0.0;               // ms per ms of sensor time (1e-6 = 1 ppm)
  std::int64_t reference_ms = 0;    // continuous sensor time
  std::int64_t samples = 0;         // fixes that lay between two stations
  std::int64_t samples_used = 0;    // of the samples kept, those near the median

  double gps_of(std::int64_t sensor_ms) const {
    return static_cast<double>(sensor_ms) + offset_ms +
           drift * static_cast<double>(sensor_ms - reference_ms);
  }
};

// Each fix was logged between the station before it and the one after it,
// so (fix time - the middle of those two station times) is one sample of the
// offset, within half the time between the two stations. Samples from
// stations further apart than twice the usual (a pause in the readings) are
// left out. The median of the samples is the offset; the samples within
// 0.5 s (or one reading interval, when longer) of it then give a
// least-squares line (offset and drift) when they span at least ten
// minutes, so a drifting sensor clock is followed. A survey file with more
// than 4096 samples keeps every second, fourth, ... of them, spread evenly
// over the file, so memory stays bounded. With readings and fixes locked to each other
// (no drift) every sample has the same error, and the offset stays
// uncertain by up to half a reading interval: no logging order can tell more.
class ClockOffsetEstimator {
 public:
  void station(std::int64_t sensor_time_of_day_ms);
  // Every fix with a time, with or without position.
  void fix(std::int32_t gps_time_of_day_ms);
  // nullopt when no fix lay between two stations.
  std::optional<ClockOffset> result() const;

 private:
  struct Sample {
    std::int64_t sensor_ms;  // middle of the two stations around the fix
    double offset_ms;        // fix time - sensor_ms, near the first sample
    std::int64_t bracket_ms;  // between the two stations
  };
  DayUnwrapper sensor_clock_;
  std::optional<std::int64_t> last_station_ms_;
  std::vector<std::int32_t> waiting_fixes_;  // logged after last_station_ms_
  void keep(const Sample& sample);
  std::vector<Sample> samples_;
  std::int64_t seen_ = 0;    // samples offered
  std::int64_t stride_ = 1;  // every stride_-th of them is kept
};

enum class PositionVerdict {
  interpolated,  // between two good fixes around the station's GPS time
  none,          // no fix on one side, a gap over the limit, a quality-0 fix next to it
};

// "interpolated", "none": the word of the exports' position column.
std::string_view verdict_name(PositionVerdict verdict);

struct StationPosition {
  PositionVerdict verdict = PositionVerdict::none;
  double latitude = 0.0, longitude = 0.0;  // degrees, north and east positive
  double easting = 0.0, northing = 0.0;    // m, in `zone`
  std::int32_t zone = 0;                   // negative: southern hemisphere
  double gps_time_ms = 0.0;                // the station's moment, GPS ms of the day
};

struct PositionedStation {
  std::uint64_t index = 0;  // stations fed before this one in the survey file
  StationPosition position;
};

struct PositionSummary {
  std::uint64_t stations = 0;
  std::uint64_t placed = 0;            // verdict interpolated
  std::int64_t longest_gap_ms = 0;     // longest time between two consecutive good fixes
};

// Stations wait until the fixes after their GPS time have come (two of them,
// for the curve), or until a station more than max_gap_s + |gps_lag_s| + 2 s
// later shows none will come in time: with readings at 10 Hz that holds
// about 80 stations, whatever the length of the file. Fixes are kept from
// the second before the oldest waiting station on: a few more than the
// stations' window spans. Stations must come in time order (as the sensor
// logs them); a station earlier than the fixes already let go gets none.
class StationPositioner {
 public:
  // offset: nullopt places no station (no fix ever lay between stations).
  // zone: the survey's UTM zone; 0 takes the zone of the first good fix.
  StationPositioner(const PositionOptions& options, std::optional<ClockOffset> offset,
                    std::int32_t zone);

  void fix(const GgaFix& fix);
  void station(std::int64_t sensor_time_of_day_ms);
  // Settles every station still held (end of the survey file).
  void finish();

  // The next positioned station in feed order; false when none is ready.
  bool next(PositionedStation& out);

  const PositionSummary& summary() const { return summary_; }
  std::int32_t zone() const { return zone_; }
  // What is held now: the bounds above.
  std::size_t stations_held() const { return held_.size() + ready_.size(); }
  std::size_t fixes_kept() const { return fixes_.size(); }

 private:
  struct KeptFix {
    std::int64_t gps_ms = 0;  // continuous
    bool good = false;        // has a position, quality above 0, HDOP within the limit
    double latitude = 0.0, longitude = 0.0;
    double easting = 0.0, northing = 0.0;
    // d(easting, northing) / d(latitude, longitude), to carry a shift in
    // metres back to degrees.
    double de_dlat = 0.0, de_dlon = 0.0, dn_dlat = 0.0, dn_dlon = 0.0;
  };
  struct HeldStation {
    std::uint64_t index = 0;
    double gps_ms = 0.0;  // modulo a day; aligned to the fixes when settled
  };

  void settle(bool finishing);
  void let_go_of_old_fixes();
  bool settle_front(bool finishing);
  StationPosition place(double gps_ms, std::size_t before, std::size_t after);
  bool in_stretch(std::size_t a, std::size_t b) const;

  PositionOptions options_;
  std::optional<ClockOffset> offset_;
  std::int32_t zone_ = 0;
  DayUnwrapper sensor_clock_, fix_clock_;
  std::deque<KeptFix> fixes_;
  std::optional<std::int64_t> last_good_fix_ms_;
  std::deque<HeldStation> held_;
  std::deque<PositionedStation> ready_;
  std::optional<double> newest_station_gps_ms_;
  std::optional<std::pair<double, double>> last_heading_;  // unit (east, north)
  std::uint64_t next_index_ = 0;
  PositionSummary summary_;
};

}  // namespace kal::xlat

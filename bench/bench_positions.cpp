// Speed of the stations' own positions: the clock offset pass and the
// positioning pass over 1,000,000 stations at 10 Hz with a fix every second
// (a walked survey of some 28 hours, past midnight twice), and the reading of
// the GGA sentences.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "bench_support.h"
#include "export/positions.h"
#include "geodesy/gga_fix.h"

namespace {

using namespace kal;

constexpr std::int64_t kStations = 1'000'000;
constexpr std::int64_t kDayMs = 86'400'000;

struct Event {
  bool is_fix = false;
  std::int64_t sensor_ms = 0;
  GgaFix fix;
};

std::string angle(double degrees, int degree_digits) {
  const double minutes = (degrees - static_cast<int>(degrees)) * 60.0;
  char text[40];
  std::snprintf(text, sizeof text, "%0*d%011.8f", degree_digits, static_cast<int>(degrees), minutes);
  return text;
}

// Lines 100 m long and 3 m apart walked at 1.5 m/s; the sensor clock 5 h
// and 0.372 s behind GPS time.
std::vector<std::string> survey_sentences(std::vector<Event>& events) {
  std::vector<std::string> sentences;
  const std::int64_t start_gps = 20 * 3'600'000;
  const std::int64_t sensor_minus_gps = -(5 * 3'600'000 + 372);
  for (std::int64_t k = 0; k < kStations; ++k) {
    const std::int64_t gps_since = k * 100;
    Event station;
    station.sensor_ms = ((start_gps + gps_since + sensor_minus_gps) % kDayMs + kDayMs) % kDayMs;
    events.push_back(station);
    if (k % 10 == 4) {  // the fix of the whole second, logged 0.4 s into it
      const std::int64_t t = gps_since / 1000 * 1000;
      const double s = 1.5 * static_cast<double>(t) / 1000.0;
      const auto line = static_cast<std::int64_t>(s / 100.0);
      const double along = s - 100.0 * static_cast<double>(line);
      const double north = line % 2 == 0 ? along : 100.0 - along;
      const double east = 3.0 * static_cast<double>(line);
      const double latitude = 45.5 + north / 111'132.0;
      const double longitude = 73.6 - east / 78'000.0;
      const std::int64_t time = (start_gps + t) % kDayMs;
      char clock[16];
      std::snprintf(clock, sizeof clock, "%02d%02d%02d.00", static_cast<int>(time / 3'600'000),
                    static_cast<int>(time / 60'000 % 60), static_cast<int>(time / 1000 % 60));
      const std::string body = std::string("GPGGA,") + clock + "," + angle(latitude, 2) + ",N," +
                               angle(longitude, 3) + ",W,4,12,0.7,35.2,M,-32.1,M,,";
      sentences.push_back(body + "*" + bench::nmea_checksum(body));
      Event fix;
      fix.is_fix = true;
      events.push_back(fix);
    }
  }
  std::size_t next = 0;
  for (Event& event : events) {
    if (!event.is_fix) continue;
    event.fix = *read_gga_fix(sentences[next++]);
  }
  return sentences;
}

struct Survey {
  std::vector<Event> events;
  std::vector<std::string> sentences;
  Survey() { sentences = survey_sentences(events); }
};

const Survey& survey() {
  static const Survey once;
  return once;
}

void BM_ReadGgaFix(benchmark::State& state) {
  const auto& sentences = survey().sentences;
  std::size_t i = 0;
  for (auto _ : state) {
    auto fix = read_gga_fix(sentences[i]);
    benchmark::DoNotOptimize(fix);
    i = (i + 1) % sentences.size();
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_ReadGgaFix);

// Both passes over the whole survey; items are stations.
void BM_PositionMillionStations(benchmark::State& state) {
  const auto& events = survey().events;
  std::uint64_t placed = 0;
  for (auto _ : state) {
    xlat::ClockOffsetEstimator estimator;
    for (const Event& e : events) {
      if (e.is_fix) {
        estimator.fix(e.fix.time_ms);
      } else {
        estimator.station(e.sensor_ms);
      }
    }
    xlat::StationPositioner positioner({}, estimator.result(), 0);
    xlat::PositionedStation out;
    for (const Event& e : events) {
      if (e.is_fix) {
        positioner.fix(e.fix);
      } else {
        positioner.station(e.sensor_ms);
      }
      while (positioner.next(out)) benchmark::DoNotOptimize(out);
    }
    positioner.finish();
    while (positioner.next(out)) benchmark::DoNotOptimize(out);
    placed = positioner.summary().placed;
  }
  state.counters["placed"] = static_cast<double>(placed);
  state.SetItemsProcessed(state.iterations() * kStations);
}
BENCHMARK(BM_PositionMillionStations)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace

BENCHMARK_MAIN();

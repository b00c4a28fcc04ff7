// Memory, size and time of the exports on a large RAW file: a day of D$
// stations on 500-station lines walked back and forth with a GGA sentence
// every second station, status records and comments. Reports the peak
// resident memory of the process, the report's size and the time.
//
//   bench_report                               (1,000,000 RAW lines)
//   bench_report --benchmark_filter=Report
#include <benchmark/benchmark.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "bench_support.h"
#include "console/console.h"
#include "export/export.h"
#include "transcribe/driver.h"
#include "transcribe/transcribe_state.h"

namespace {

using kal::bench::nmea_checksum;
using kal::bench::SilentConsole;

std::string clock(long second_of_day) {
  char text[8];
  std::snprintf(text, sizeof text, "%02ld%02ld%02ld", second_of_day / 3600 % 24, second_of_day / 60 % 60,
                second_of_day % 60);
  return text;
}

std::string minutes_text(double minutes, int degree_digits) {
  char text[32];
  const int degrees = static_cast<int>(minutes / 60);
  std::snprintf(text, sizeof text, "%0*d%07.4f", degree_digits, degrees, minutes - degrees * 60.0);
  return text;
}

// Writes a RAW file of exactly `lines` lines.
void write_raw(const std::string& path, long lines) {
  std::ofstream out(path, std::ios::binary);
  long written = 0;
  auto put = [&](const std::string& line) {
    if (written < lines) out << line << '\n';
    ++written;
  };
  put("C$080000 KALVOR-1   SN12345678 SW VERSION 5.1a");
  long station = 0;
  int survey = 0;
  long next_header = 0;
  char text[160];
  while (written < lines) {
    if (written >= next_header) {
      std::snprintf(text, sizeof text, "H$080000 DAY%05d 261208 1", ++survey);
      put(text);
      next_header += 100000;
    }
    const long line = station / 500 + 1;
    const long along = line % 2 == 1 ? station % 500 : 499 - station % 500;  // back and forth
    const long second = 8 * 3600 + station / 2;
    const std::string time = clock(second);
    if (station % 2 == 0) {
      const double lat = 45 * 60.0 + along * 0.5 / 1852.0;
      const double lon = 75 * 60.0 - line * 2.0 / 1309.6;
      std::snprintf(text, sizeof text, "GPGGA,%s,%s,N,%s,W,1,08,0.9,100.0,M,0.0,M,,", time.c_str(),
                    minutes_text(lat, 2).c_str(), minutes_text(lon, 3).c_str());
      put("G$" + nmea_checksum(text));
    }
    if (station % 10 == 0) {
      std::snprintf(text, sizeof text, "AS$%s %5ld  2345 %6d%6d", time.c_str(), 12500 - station / 1000, 150, -250);
      put(text);
    }
    if (station % 2000 == 0) put("C$" + time + " Line " + std::to_string(line) + ", \"flag\"");
    const long hq = 2000 + std::lround(400 * std::sin(along / 37.0 + line / 5.0));
    const long hi = std::lround(300 * std::sin(along / 23.0));
    std::snprintf(text, sizeof text, "D$%s %6ld  %6ld 0 %6ld%6ld%6ld%6ld %5d %5d %4d%4d", time.c_str(), line,
                  along + 1, hq, hi, hq + 100, hi / 2, 12400, 2100, 5, -5);
    put(text);
    ++station;
  }
}

struct BenchFolder {
  std::filesystem::path path;
  BenchFolder() {
    std::string pattern = (std::filesystem::temp_directory_path() / "report_bench_XXXXXX").string();
    path = ::mkdtemp(pattern.data());
  }
  ~BenchFolder() {
    std::error_code ec;
    std::filesystem::remove_all(path, ec);
  }
};

long peak_rss_kb() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss;
}

void BM_Export(benchmark::State& state, bool report, bool gis) {
  const long lines = state.range(0);
  BenchFolder folder;
  const std::string raw = (folder.path / "DAY.RAW").string();
  write_raw(raw, lines);
  SilentConsole silent;
  kal::set_console(&silent);
  kal::ExportRequest request;
  request.report = report;
  request.csv = request.geojson = gis;
  const long rss_before = peak_rss_kb();
  bool ok = true;
  // The exports ride on the XYZ transcription, as `kalxlat RAW X --csv
  // --geojson --report` makes them.
  for (auto _ : state) {
    kal::xlat::Persistent kept;
    kal::SurveyExport exports(raw, request);
    float height = 0.2f;
    bool height_set = true;
    std::int32_t result = 0;
    kal::KALXLATSUB(raw, "X", height, height_set, result, kept, exports.observer());
    ok = exports.finish() && result == 0 && ok;
  }
  kal::set_console(nullptr);
  if (!ok) state.SkipWithError("an export could not be written");
  if (silent.errors != 0) state.SkipWithError("the generated RAW file was not read cleanly");
  std::error_code ec;
  state.counters["lines_per_s"] =
      benchmark::Counter(static_cast<double>(state.iterations() * lines), benchmark::Counter::kIsRate);
  state.counters["peak_rss_MB"] = static_cast<double>(peak_rss_kb()) / 1024.0;
  state.counters["rss_before_MB"] = static_cast<double>(rss_before) / 1024.0;
  double export_bytes = 0;
  for (const auto& entry : std::filesystem::directory_iterator(folder.path, ec)) {
    const std::string ext = entry.path().extension().string();
    if (ext == ".csv" || ext == ".geojson") export_bytes += static_cast<double>(entry.file_size(ec));
  }
  if (gis) state.counters["csv_geojson_MB"] = export_bytes / (1024.0 * 1024.0);
  if (report) {
    state.counters["report_MB"] =
        static_cast<double>(std::filesystem::file_size(folder.path / "DAY.html", ec)) / (1024.0 * 1024.0);
  }
}

// The report alone first: its peak is not hidden by the other exports'.
BENCHMARK_CAPTURE(BM_Export, Report, true, false)->Arg(1000000)->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK_CAPTURE(BM_Export, CsvGeoJson, false, true)->Arg(1000000)->Unit(benchmark::kMillisecond)->Iterations(1);

}  // namespace

BENCHMARK_MAIN();

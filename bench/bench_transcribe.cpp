// Speed and memory of the transcription on realistic RAW files of three
// kinds, each with an identification and a file header every 100,000 lines:
//
//   ems_gps        an EMS survey: I$ records, a GGA sentence every fourth line
//   two_geometry   T$/X$ stations of a two-geometry instrument, an AS$ status
//                  record every second station, a GGA sentence every third
//   single_t       83-column T$ stations of a single-geometry instrument, a
//                  GGA sentence every third station
//   ems_versions   the EMS survey of an instrument whose software version
//                  changes every 1000 stations (6.2, 6.0, 6.1, ...): during
//                  the 6.0 stretches every I$ record prints a console line
//                  ("EMS software version change"), about 250,000 of them
//                  in 1,000,000 lines
//
// Reports RAW lines per second, CPU time per file and the peak resident
// memory. The Console benchmarks print through the real console with
// standard output sent to /dev/null, and count the CPU time of every thread
// of the process (the console's flusher included).
//
//   bench_transcribe                      (every benchmark)
//   bench_transcribe --benchmark_filter=X/two_geometry/1000000
//   bench_transcribe --write-raw two_geometry 200000 out.RAW
//                                         (writes one file, e.g. for a profiler)
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <string>
#include <string_view>

#include "bench_support.h"
#include "console/console.h"
#include "transcribe/driver.h"
#include "transcribe/transcribe_state.h"

namespace {

using kal::bench::nmea_checksum;
using kal::bench::SilentConsole;

std::string padded(long value, int width) {
  std::string digits = std::to_string(value);
  return std::string(width > static_cast<int>(digits.size()) ? width - digits.size() : 0, ' ') + digits;
}

std::string two(int v) {
  const char digits[3] = {static_cast<char>('0' + v / 10 % 10), static_cast<char>('0' + v % 10), '\0'};
  return digits;
}

std::string hhmmss(long second_of_day) {
  return two(static_cast<int>(second_of_day / 3600 % 24)) + two(static_cast<int>(second_of_day / 60 % 60)) +
         two(static_cast<int>(second_of_day % 60));
}

std::string gga_record(const std::string& time, long n) {
  char body[128];
  std::snprintf(body, sizeof body, "GPGGA,%s,4500.%04d,N,07500.%04d,W,1,08,0.9,100.0,M,0.0,M,,", time.c_str(),
                static_cast<int>((1234 + n) % 10000), static_cast<int>(n % 10000));
  return "G$" + nmea_checksum(body);
}

enum class Kind { ems_gps, two_geometry, single_t, ems_versions };

struct KindInfo {
  Kind kind;
  const char* name;
  const char* identification;
  const char* length_code;  // of the file headers
};

constexpr KindInfo kKinds[] = {
    {Kind::ems_gps, "ems_gps", "C$080000 KALVOR-1   SN12345678 SW VERSION 6.2", "1"},
    {Kind::two_geometry, "two_geometry", "C$080000 KALVOR-21  SN12345678 SW VERSION 5.1a", "21"},
    {Kind::single_t, "single_t", "C$080000 KALVOR-1   SN12345678 SW VERSION 5.1a", "1"},
    {Kind::ems_versions, "ems_versions", "C$080000 KALVOR-1   SN12345678 SW VERSION 6.2", "1"},
};

// The software versions an ems_versions file goes through, 1000 stations each.
constexpr const char* kEmsVersions[] = {"6.2", "6.0", "6.1"};
constexpr long kStationsPerVersion = 1000;

const KindInfo* kind_named(std::string_view name) {
  for (const KindInfo& k : kKinds) {
    if (name == k.name) return &k;
  }
  return nullptr;
}

// The records of the n-th station (from 1) of each kind.
void put_station(Kind kind, long n, const std::function<void(const std::string&)>& put) {
  const long r = n % 997;
  switch (kind) {
    case Kind::ems_versions:
      if (n % kStationsPerVersion == 0) {
        const long next = n / kStationsPerVersion % std::size(kEmsVersions);
        put("C$080000 KALVOR-1   SN12345678 SW VERSION " + std::string(kEmsVersions[next]));
      }
      [[fallthrough]];
    case Kind::ems_gps: {  // 10 records per second
      const std::string time = hhmmss(8 * 3600 + n / 10);
      put("I$" + time + " " + padded(r % 300 - 150, 4) + padded(150 - r % 300, 4) + padded(35, 4) + " " +
          padded(12000 + r, 5) + "  3 " + padded(10000 + r, 5) + padded(250 + r, 6) + padded(7500 - r, 6));
      if (n % 3 == 0) put(gga_record(time, n));
      break;
    }
    case Kind::two_geometry: {  // 5 stations per second
      const std::string time = hhmmss(8 * 3600 + n / 5);
      put("T$" + time + " " + padded(n, 6) + " CONV " + padded(r, 6) + padded(-r, 6) + padded(1000 + r, 6) +
          padded(200 - r, 6) + padded(1100 + r, 6) + padded(300 + r, 6));
      put("X$" + time + " " + padded(2000 + r, 6) + padded(400, 6) + padded(2100 - r, 6) + padded(500 + r, 6));
      if (n % 2 == 0) put("AS$" + time + " 12500  2345 " + padded(150 - r, 6) + padded(-250 + r, 6));
      if (n % 3 == 0) put(gga_record(time, n));
      break;
    }
    case Kind::single_t: {  // 10 stations per second, with milliseconds
      const std::string time = hhmmss(8 * 3600 + n / 10);
      put("T$" + time + " " + padded(n % 10 * 100, 3) + " " + padded(n, 6) + " CONV " + padded(r, 6) +
          padded(-r, 6) + padded(1000 + r, 6) + padded(200 - r, 6) + padded(1100 + r, 6) + padded(300 + r, 6) +
          " " + padded(12500 - r, 5) + " " + padded(2345 + r, 5) + " " + padded(r % 600 - 300, 4) +
          padded(300 - r % 600, 4));
      if (n % 3 == 0) put(gga_record(time, n));
      break;
    }
  }
}

// Writes the RAW file line by line; `lines` is the exact line count.
void write_raw(const KindInfo& kind, const std::string& path, long lines) {
  std::ofstream out(path, std::ios::binary);
  long written = 0;
  auto put = [&](const std::string& line) {
    if (written < lines) out << line << '\n';
    ++written;
  };
  put(kind.identification);
  long station = 0;
  int survey = 0;
  long next_header = 0;
  while (written < lines) {
    if (written >= next_header) {
      const std::string number = std::to_string(++survey);
      put("H$080000 LINE" + std::string(4 - std::min<std::size_t>(4, number.size()), '0') + number + " 261208 " +
          kind.length_code);
      next_header += 100000;
    }
    put_station(kind.kind, ++station, put);
  }
}

struct BenchFolder {
  std::filesystem::path path;
  BenchFolder() {
    std::string pattern = (std::filesystem::temp_directory_path() / "xlat_bench_XXXXXX").string();
    path = ::mkdtemp(pattern.data());
  }
  ~BenchFolder() {
    std::error_code ec;
    std::filesystem::remove_all(path, ec);
  }
};

BenchFolder& folder() {
  static BenchFolder f;
  return f;
}

const std::string& raw_file(const KindInfo& kind, long lines) {
  static std::map<std::pair<Kind, long>, std::string> files;
  const auto key = std::make_pair(kind.kind, lines);
  auto found = files.find(key);
  if (found != files.end()) return found->second;
  const std::string path = (folder().path / (std::string(kind.name) + std::to_string(lines) + ".RAW")).string();
  write_raw(kind, path, lines);
  return files.emplace(key, path).first->second;
}

long peak_rss_kb() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss;
}

void BM_Transcribe(benchmark::State& state, const char* type, Kind kind) {
  const long lines = state.range(0);
  const std::string& raw = raw_file(kKinds[static_cast<int>(kind)], lines);
  SilentConsole silent;
  kal::set_console(&silent);
  std::int32_t result = 0;
  for (auto _ : state) {
    kal::xlat::Persistent kept;  // fresh: every call runs the GPS pre-pass
    float height = 0.2f;
    bool height_set = true;
    kal::KALXLATSUB(raw, type, height, height_set, result, kept);
  }
  kal::set_console(nullptr);
  if (result != 0) state.SkipWithError("transcription failed");
  if (silent.errors != 0) state.SkipWithError("records of the generated RAW file were rejected");
  state.SetItemsProcessed(state.iterations() * lines);
  state.counters["lines_per_s"] =
      benchmark::Counter(static_cast<double>(state.iterations() * lines), benchmark::Counter::kIsRate);
  state.counters["peak_rss_MB"] = static_cast<double>(peak_rss_kb()) / 1024.0;
}

// Standard output goes to /dev/null for the object's lifetime.
class StdoutToNull {
 public:
  StdoutToNull() : saved_(::dup(STDOUT_FILENO)) {
    const int null = ::open("/dev/null", O_WRONLY);
    if (null >= 0) {
      ::dup2(null, STDOUT_FILENO);
      ::close(null);
    }
  }
  ~StdoutToNull() {
    kal::flush_console();
    if (saved_ >= 0) {
      ::dup2(saved_, STDOUT_FILENO);
      ::close(saved_);
    }
  }
  StdoutToNull(const StdoutToNull&) = delete;
  StdoutToNull& operator=(const StdoutToNull&) = delete;

 private:
  int saved_;
};

// The same through the platform's console, as kalxlat prints.
void BM_TranscribeConsole(benchmark::State& state, const char* type, Kind kind) {
  const long lines = state.range(0);
  const std::string& raw = raw_file(kKinds[static_cast<int>(kind)], lines);
  kal::set_console(nullptr);
  std::int32_t result = 0;
  {
    StdoutToNull quiet;
    for (auto _ : state) {
      kal::xlat::Persistent kept;  // fresh: every call runs the GPS pre-pass
      float height = 0.2f;
      bool height_set = true;
      kal::KALXLATSUB(raw, type, height, height_set, result, kept);
      kal::flush_console();
    }
  }
  if (result != 0) state.SkipWithError("transcription failed");
  state.SetItemsProcessed(state.iterations() * lines);
  state.counters["lines_per_s"] =
      benchmark::Counter(static_cast<double>(state.iterations() * lines), benchmark::Counter::kIsRate);
}

// The smaller file first: the peak memory of the larger one shows whether
// memory grows with the RAW file.
BENCHMARK_CAPTURE(BM_Transcribe, X/two_geometry, "X", Kind::two_geometry)
    ->Arg(100000)->Arg(1000000)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK_CAPTURE(BM_Transcribe, X/ems_gps, "X", Kind::ems_gps)
    ->Arg(1000000)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK_CAPTURE(BM_Transcribe, X/single_t, "X", Kind::single_t)
    ->Arg(1000000)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK_CAPTURE(BM_Transcribe, G/two_geometry, "G", Kind::two_geometry)
    ->Arg(1000000)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK_CAPTURE(BM_Transcribe, S/two_geometry, "S", Kind::two_geometry)
    ->Arg(1000000)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK_CAPTURE(BM_Transcribe, I/ems_gps, "I", Kind::ems_gps)
    ->Arg(1000000)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK_CAPTURE(BM_Transcribe, X/ems_versions, "X", Kind::ems_versions)
    ->Arg(1000000)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK_CAPTURE(BM_TranscribeConsole, X/ems_versions, "X", Kind::ems_versions)
    ->Arg(1000000)->Unit(benchmark::kMillisecond)->Iterations(3)->MeasureProcessCPUTime();
BENCHMARK_CAPTURE(BM_TranscribeConsole, X/two_geometry, "X", Kind::two_geometry)
    ->Arg(1000000)->Unit(benchmark::kMillisecond)->Iterations(3)->MeasureProcessCPUTime();

// --write-raw KIND LINES PATH: writes one RAW file and ends.
int write_raw_command(int argc, char** argv) {
  const KindInfo* kind = argc == 5 ? kind_named(argv[2]) : nullptr;
  const long lines = argc == 5 ? std::atol(argv[3]) : 0;
  if (kind == nullptr || lines <= 0) {
    std::fprintf(stderr, "usage: bench_transcribe --write-raw ems_gps|two_geometry|single_t|ems_versions LINES PATH\n");
    return 64;
  }
  write_raw(*kind, argv[4], lines);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc >= 2 && std::string_view(argv[1]) == "--write-raw") return write_raw_command(argc, argv);
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}

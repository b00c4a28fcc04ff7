// Speed and memory of the transcription on a realistic RAW file: an
// identification, a file header every 100,000 lines, T$/X$ stations of a
// three-geometry instrument, AS$ status records and a GGA sentence every
// tenth line. Reports RAW lines per second and the peak resident memory.
//
//   bench_transcribe                      (1,000,000 and 100,000 lines)
//   bench_transcribe --benchmark_filter=X/1000000
#include <benchmark/benchmark.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cstdint>
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <string_view>

#include "link/console.h"
#include "transcribe/driver.h"
#include "transcribe/transcribe_state.h"

namespace {

// Console that says nothing and answers every prompt with the end of input;
// it counts error lines, so that a generated record the transcription
// rejects spoils the measurement visibly.
class SilentConsole : public kal::ConsoleServices {
 public:
  bool key_waiting() override { return false; }
  char get_key() override { return ' '; }
  void sleep_ms(std::int32_t) override {}
  void time_of_day(std::int16_t& h, std::int16_t& m, std::int16_t& s, std::int16_t& c) override {
    h = m = s = c = 0;
  }
  void date_today(std::int16_t& y, std::int16_t& m, std::int16_t& d) override { y = 2026, m = 12, d = 8; }
  bool read_line(std::string&) override { return false; }
  void write_line(std::string_view line) override {
    if (line.find("rror") != std::string_view::npos) ++errors;
  }
  long errors = 0;
};

std::string padded(long value, int width) {
  std::string digits = std::to_string(value);
  return std::string(width > static_cast<int>(digits.size()) ? width - digits.size() : 0, ' ') + digits;
}

std::string two(int v) {
  const char digits[3] = {static_cast<char>('0' + v / 10 % 10), static_cast<char>('0' + v % 10), '\0'};
  return digits;
}

std::string nmea_checksum(const std::string& body) {
  unsigned sum = 0;
  for (char c : body) sum ^= static_cast<unsigned char>(c);
  char hex[3];
  std::snprintf(hex, sizeof hex, "%02X", sum);
  return body + "*" + hex;
}

// Writes the RAW file line by line; `lines` is the exact line count.
void write_raw(const std::string& path, long lines) {
  std::ofstream out(path, std::ios::binary);
  long written = 0;
  auto put = [&](const std::string& line) {
    if (written < lines) out << line << '\n';
    ++written;
  };
  put("C$080000 KALVOR-421 SN12345678 SW VERSION 5.1a");
  long station = 0;
  int survey = 0;
  long next_header = 0;
  while (written < lines) {
    if (written >= next_header) {
      const std::string number = std::to_string(++survey);
      put("H$080000 LINE" + std::string(4 - std::min<std::size_t>(4, number.size()), '0') + number + " 261208 421");
      next_header += 100000;
    }
    const long second_of_day = 8 * 3600 + station / 5;
    const std::string time = two(static_cast<int>(second_of_day / 3600 % 24)) +
                             two(static_cast<int>(second_of_day / 60 % 60)) + two(static_cast<int>(second_of_day % 60));
    ++station;
    const long r = station % 997;
    put("T$" + time + " " + padded(station, 6) + " CONV " + padded(r, 6) + padded(-r, 6) + padded(1000 + r, 6) +
        padded(200 - r, 6) + padded(1100 + r, 6) + padded(300 + r, 6));
    put("X$" + time + " " + padded(2000 + r, 6) + padded(400, 6) + padded(2100 - r, 6) + padded(500, 6) +
        padded(3000 + r, 6) + padded(600, 6) + padded(3100, 6) + padded(700 - r, 6));
    if (station % 4 == 0) {
      put("AS$" + time + " 12500  2345 " + padded(150 - r, 6) + padded(-250 + r, 6));
    }
    if (station % 3 == 0) {
      const double minutes = 0.1234 + static_cast<double>(station % 1000) * 0.0001;
      char body[128];
      std::snprintf(body, sizeof body, "GPGGA,%s,4500.%04d,N,07500.%04d,W,1,08,0.9,100.0,M,0.0,M,,",
                    time.c_str(), static_cast<int>(minutes * 10000) % 10000, static_cast<int>(station % 10000));
      put("G$" + nmea_checksum(body));
    }
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

const std::string& raw_file(long lines) {
  static std::map<long, std::string> files;
  auto found = files.find(lines);
  if (found != files.end()) return found->second;
  const std::string path = (folder().path / (std::to_string(lines) + ".RAW")).string();
  write_raw(path, lines);
  return files.emplace(lines, path).first->second;
}

long peak_rss_kb() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss;
}

void BM_Transcribe(benchmark::State& state, const char* type) {
  const long lines = state.range(0);
  const std::string& raw = raw_file(lines);
  SilentConsole silent;
  kal::set_console(&silent);
  std::int32_t result = 0;
  for (auto _ : state) {
    kal::xlat::reset_persistent_state();  // every call runs the GPS pre-pass
    float height = 0.2f;
    bool height_set = true;
    kal::KALXLATSUB(raw, type, height, height_set, result);
  }
  kal::set_console(nullptr);
  if (result != 0) state.SkipWithError("transcription failed");
  if (silent.errors != 0) state.SkipWithError("records of the generated RAW file were rejected");
  state.SetItemsProcessed(state.iterations() * lines);
  state.counters["lines_per_s"] =
      benchmark::Counter(static_cast<double>(state.iterations() * lines), benchmark::Counter::kIsRate);
  state.counters["peak_rss_MB"] = static_cast<double>(peak_rss_kb()) / 1024.0;
}

// The smaller file first: the peak memory of the larger one shows whether
// memory grows with the RAW file.
BENCHMARK_CAPTURE(BM_Transcribe, X, "X")->Arg(100000)->Arg(1000000)->Unit(benchmark::kMillisecond)->Iterations(2);
BENCHMARK_CAPTURE(BM_Transcribe, G, "G")->Arg(1000000)->Unit(benchmark::kMillisecond)->Iterations(2);
BENCHMARK_CAPTURE(BM_Transcribe, S, "S")->Arg(1000000)->Unit(benchmark::kMillisecond)->Iterations(2);

}  // namespace

BENCHMARK_MAIN();

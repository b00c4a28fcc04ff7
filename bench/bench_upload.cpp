// Upload speed against the wire: a 2,000-line memory from kalvor-sim sending
// at the real byte rate over a pseudo-terminal, uploaded by the session in
// this process. The upload's time comes from the simulator's own trace
// (from the start of the upload to the sending of "Z$"); the wire limit is
// each line's bytes and CR LF, plus the one-byte answer, at 10 bits a byte.
//
//   bench_upload        (115200 and 38400 baud)
#include <benchmark/benchmark.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "console/console.h"
#include "session/session.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;

constexpr int kMemoryLines = 2000;

// A console whose pauses are a tenth of the program's (the probe and the
// rate change stay quick, the sensor still has time to answer), that
// answers "n" at the clear prompt and keeps the height at the
// transcription's prompt.
class QuietConsole : public kal::ConsoleServices {
 public:
  bool key_waiting() override { return false; }
  char get_key() override { return 'n'; }
  void sleep_ms(std::int32_t ms) override { std::this_thread::sleep_for(std::chrono::milliseconds(ms / 10)); }
  void time_of_day(std::int16_t& h, std::int16_t& m, std::int16_t& s, std::int16_t& c) override {
    h = 14, m = 30, s = 15, c = 0;
  }
  void date_today(std::int16_t& y, std::int16_t& m, std::int16_t& d) override { y = 2026, m = 12, d = 8; }
  bool read_line(std::string&) override { return false; }
  void write_line(std::string_view) override {}
  bool keys_can_arrive() override { return false; }
};

// kalvor-sim on COM3 of `ports`, paced, with its trace; stopped at the end.
class Simulator {
 public:
  Simulator(const fs::path& ports, const fs::path& trace, int lines) {
    const std::string sim = std::string(KAL_BIN_DIR) + "/kalvor-sim";
    std::vector<std::string> args = {sim, "--dir", ports.string(), "--port", "3", "--pace",
                                     "--builtin-lines", std::to_string(lines), "--trace", trace.string()};
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    if (posix_spawn(&pid_, sim.c_str(), nullptr, nullptr, argv.data(), environ) != 0) pid_ = -1;
    for (int i = 0; i < 200 && pid_ > 0 && !fs::exists(ports / "COM3"); ++i) usleep(10000);
  }
  ~Simulator() {
    if (pid_ <= 0) return;
    kill(pid_, SIGTERM);
    int status = 0;
    waitpid(pid_, &status, 0);
  }
  bool running() const { return pid_ > 0; }

 private:
  pid_t pid_ = -1;
};

// Milliseconds of the first trace line holding `text`, -1 when none.
long trace_ms(const fs::path& trace, const std::string& text) {
  std::ifstream in(trace);
  for (std::string line; std::getline(in, line);) {
    if (line.find(text) != std::string::npos) return std::stol(line);
  }
  return -1;
}

void BM_Upload(benchmark::State& state) {
  const int baud = static_cast<int>(state.range(0));
  const fs::path work = fs::temp_directory_path() / ("kal-bench-upload-" + std::to_string(getpid()));
  fs::remove_all(work);
  fs::create_directories(work);
  const fs::path previous = fs::current_path();
  fs::current_path(work);
  setenv("KALFETCH_PORT_DIR", (work / "ports").c_str(), 1);
  for (auto _ : state) {
    Simulator sim(work / "ports", work / "trace.txt", kMemoryLines);
    if (!sim.running()) {
      state.SkipWithError("kalvor-sim did not start");
      break;
    }
    QuietConsole console;
    kal::set_console(&console);
    const int status = kal::KALFETCH5({"X", "COM3", std::to_string(baud)});
    kal::set_console(nullptr);
    // The RAW file holds what was uploaded.
    std::ifstream raw(work / "XC143015-12082026.RAW");
    double wire_seconds = 0;
    int lines = 0;
    for (std::string line; std::getline(raw, line); ++lines) {
      wire_seconds += static_cast<double>(line.size() + 3) * 10.0 / baud;
    }
    const long start = trace_ms(work / "trace.txt", "upload of ");
    const long end = trace_ms(work / "trace.txt", "| Z$");
    if (status != 0 || lines != kMemoryLines || start < 0 || end <= start) {
      state.SkipWithError(("the upload did not complete: exit status " + std::to_string(status) + ", " +
                           std::to_string(lines) + " lines")
                              .c_str());
      break;
    }
    const double seconds = static_cast<double>(end - start) / 1000.0;
    state.SetIterationTime(seconds);
    state.counters["lines_per_s"] = lines / seconds;
    state.counters["wire_limit_lines_per_s"] = lines / wire_seconds;
    state.counters["percent_of_wire"] = 100.0 * wire_seconds / seconds;
  }
  fs::current_path(previous);
  fs::remove_all(work);
}
BENCHMARK(BM_Upload)->Arg(115200)->Arg(38400)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);

}  // namespace

BENCHMARK_MAIN();

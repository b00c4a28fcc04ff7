// Latency of the serial-port service over a pseudo-terminal:
//  - line to peek: from the moment a complete line is written on the
//    sensor's (master) side until SERIAL_PEEK_LINE reports it ready;
//  - round trip: line written on the master side -> peek -> SERIAL_READ ->
//    SERIAL_WRITE "N" -> "N" read back on the master side.
// Each iteration is timed on its own; the counters report the median and
// the 99th percentile in microseconds.
#include <benchmark/benchmark.h>
#include <poll.h>
#include <pty.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "link/serial_port.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr std::int32_t kPort = 7;
const std::string kLine = "D$ 0001 12.345 23.456 34.567 45.678 1.234 2.345 3.456\r\n";

// A connected port whose sensor side the benchmark holds.
class Link {
 public:
  Link() {
    char name[256] = {};
    if (openpty(&master_, &slave_, name, nullptr, nullptr) != 0) return;
    folder_ = std::filesystem::temp_directory_path() /
              ("kal-bench-serial-" + std::to_string(::getpid()));
    std::filesystem::create_directories(folder_);
    std::filesystem::remove(folder_ / "COM7");
    std::filesystem::create_symlink(name, folder_ / "COM7");
    setenv("KALFETCH_PORT_DIR", folder_.c_str(), 1);
    const std::uint32_t options = 7;
    ok_ = kal::SERIAL_CONNECT(&kPort, &options) == kal::kSerialOk;
    std::int32_t ready = 0, count = 0;
    ok_ = ok_ && kal::SERIAL_PEEK_LINE(&kPort, &ready, &count) == kal::kSerialOk;  // reader runs
  }
  ~Link() {
    if (ok_) kal::SERIAL_RELEASE(&kPort);
    if (master_ >= 0) ::close(master_);
    if (slave_ >= 0) ::close(slave_);
    std::error_code ignored;
    std::filesystem::remove_all(folder_, ignored);
  }
  bool ok() const { return ok_; }
  void send_line() { [[maybe_unused]] auto n = ::write(master_, kLine.data(), kLine.size()); }
  bool receive_byte(char& c) {
    struct pollfd p{master_, POLLIN, 0};
    return ::poll(&p, 1, 1000) == 1 && ::read(master_, &c, 1) == 1;
  }

 private:
  int master_ = -1;
  int slave_ = -1;
  bool ok_ = false;
  std::filesystem::path folder_;
};

bool wait_for_line() {
  std::int32_t ready = 0, count = 0;
  for (;;) {
    if (kal::SERIAL_PEEK_LINE(&kPort, &ready, &count) != kal::kSerialOk) return false;
    if (ready != 0) return true;
  }
}

void report(benchmark::State& state, std::vector<double>& samples) {
  if (samples.empty()) return;
  std::sort(samples.begin(), samples.end());
  state.counters["median_us"] = samples[samples.size() / 2];
  state.counters["p99_us"] = samples[samples.size() * 99 / 100];
}

double microseconds_since(Clock::time_point start) {
  return std::chrono::duration<double, std::micro>(Clock::now() - start).count();
}

void BM_LineToPeek(benchmark::State& state) {
  Link link;
  if (!link.ok()) {
    state.SkipWithError("no pseudo-terminal");
    return;
  }
  std::vector<double> samples;
  std::string buffer(256, ' ');
  std::int32_t count = 0;
  for (auto _ : state) {
    const Clock::time_point start = Clock::now();
    link.send_line();
    if (!wait_for_line()) {
      state.SkipWithError("peek failed");
      break;
    }
    const double elapsed = microseconds_since(start);
    state.SetIterationTime(elapsed / 1e6);
    samples.push_back(elapsed);
    kal::SERIAL_READ(&kPort, buffer.data(), 256, &count);
  }
  report(state, samples);
}
BENCHMARK(BM_LineToPeek)->UseManualTime()->Iterations(2000)->Unit(benchmark::kMicrosecond);

void BM_RoundTripLineToN(benchmark::State& state) {
  Link link;
  if (!link.ok()) {
    state.SkipWithError("no pseudo-terminal");
    return;
  }
  std::vector<double> samples;
  std::string buffer(256, ' ');
  for (auto _ : state) {
    const Clock::time_point start = Clock::now();
    link.send_line();
    std::int32_t count = 0;
    std::int32_t one = 1;
    char answer = 0;
    if (!wait_for_line() ||
        kal::SERIAL_READ(&kPort, buffer.data(), 256, &count) != kal::kSerialOk ||
        kal::SERIAL_WRITE(&kPort, "N", &one) != kal::kSerialOk || !link.receive_byte(answer) ||
        answer != 'N') {
      state.SkipWithError("round trip failed");
      break;
    }
    const double elapsed = microseconds_since(start);
    state.SetIterationTime(elapsed / 1e6);
    samples.push_back(elapsed);
  }
  report(state, samples);
}
BENCHMARK(BM_RoundTripLineToN)->UseManualTime()->Iterations(2000)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();

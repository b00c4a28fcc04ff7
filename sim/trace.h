// The wire trace: one line per event, flushed at once so that a test can read
// it while the simulator runs. The format is documented in the --help text.
#pragma once

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <string_view>

namespace kal::sim {

class Trace {
 public:
  // An inactive trace (no file) ignores every event.
  Trace() = default;
  bool open(const std::string& path, std::string& error);

  // `direction` is "H>", "H!" or "S>".
  void bytes(std::string_view direction, std::int32_t host_speed, std::string_view data);
  void note(std::int32_t host_speed, std::string_view text);

 private:
  void put(const std::string& line);

  struct Closer {
    void operator()(std::FILE* file) const { std::fclose(file); }
  };
  std::unique_ptr<std::FILE, Closer> file_;
  std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
};

// "AA 81 05 55 | ...." for `data`.
std::string hex_and_text(std::string_view data);

}  // namespace kal::sim

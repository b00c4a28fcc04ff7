// A scripted console for link tests: keys come from a queue, sleeps are
// recorded (and shortened or skipped), lines are captured.
#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "link/console.h"

namespace kal::testing {

class FakeConsole final : public ConsoleServices {
 public:
  // Real time spent per requested sleep: milliseconds / divisor (0: none).
  explicit FakeConsole(int divisor = 0) : divisor(divisor) { set_console(this); }
  ~FakeConsole() override { set_console(nullptr); }

  int divisor;
  std::deque<char> keys;
  std::vector<std::string> lines;
  std::vector<std::int32_t> sleeps;
  // Called after each sleep with its length, on the calling thread.
  std::function<void(std::int32_t)> on_sleep;

  bool key_waiting() override { return !keys.empty(); }
  char get_key() override {
    if (keys.empty()) return ' ';
    const char key = keys.front();
    keys.pop_front();
    return key;
  }
  void sleep_ms(std::int32_t milliseconds) override {
    sleeps.push_back(milliseconds);
    if (divisor > 0)
      std::this_thread::sleep_for(std::chrono::microseconds(milliseconds * 1000 / divisor));
    if (on_sleep) on_sleep(milliseconds);
  }
  void time_of_day(std::int16_t& hour, std::int16_t& minute, std::int16_t& second,
                   std::int16_t& hundredths) override {
    hour = 12;
    minute = 0;
    second = 0;
    hundredths = 0;
  }
  void date_today(std::int16_t& year, std::int16_t& month, std::int16_t& day) override {
    year = 2026;
    month = 1;
    day = 1;
  }
  bool read_line(std::string&) override { return false; }
  void write_line(std::string_view line) override { lines.emplace_back(line); }

  std::size_t sleeps_of(std::int32_t milliseconds) const {
    std::size_t n = 0;
    for (std::int32_t s : sleeps) n += s == milliseconds ? 1 : 0;
    return n;
  }

};

}  // namespace kal::testing

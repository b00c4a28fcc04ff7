// A console for tests: captured output lines, scripted keys and typed lines,
// a fixed clock and a sleep that is scaled down (or skipped).
#pragma once

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "link/console.h"

namespace kal::test {

class FakeConsole final : public ConsoleServices {
 public:
  // A key press that becomes "waiting" once its condition holds. Keys are
  // taken in order: only the first one in the queue can be waiting.
  struct Key {
    char key = ' ';
    std::string after_line;           // a line starting with this was written
    std::int64_t after_idle_polls = 0;  // key tests since the last written line
  };

  FakeConsole() { set_console(this); }
  ~FakeConsole() override { set_console(nullptr); }
  FakeConsole(const FakeConsole&) = delete;
  FakeConsole& operator=(const FakeConsole&) = delete;

  // ---- script -----------------------------------------------------------------
  void press(char key) { keys_.push_back(Key{key, {}, 0}); }
  void press_after_line(std::string_view prefix, char key) {
    keys_.push_back(Key{key, std::string(prefix), 0});
  }
  void press_after_idle_polls(std::int64_t polls, char key) {
    keys_.push_back(Key{key, {}, polls});
  }
  // Both: the line was written and then `polls` key tests passed without output.
  void press_after_line_and_idle_polls(std::string_view prefix, std::int64_t polls, char key) {
    keys_.push_back(Key{key, std::string(prefix), polls});
  }
  void type_line(std::string_view line) { typed_.emplace_back(line); }
  // After this many key tests the console presses q on its own, so that a
  // session that would poll forever ends and the test can report it.
  void set_watchdog(std::int64_t key_tests) { watchdog_ = key_tests; }
  bool watchdog_fired() const { return watchdog_fired_; }
  // Real sleeps are the requested time divided by this; 0 skips them.
  void set_sleep_divisor(int divisor) { sleep_divisor_ = divisor; }
  void set_clock(int year, int month, int day, int hour, int minute, int second) {
    year_ = year;
    month_ = month;
    day_ = day;
    hour_ = hour;
    minute_ = minute;
    second_ = second;
  }

  // ---- observations -------------------------------------------------------------
  const std::vector<std::string>& lines() const { return lines_; }
  std::int64_t slept_ms() const { return slept_ms_; }
  std::size_t keys_left() const { return keys_.size(); }
  std::int64_t key_tests() const { return key_tests_; }
  std::string transcript() const {
    std::string all;
    for (const std::string& l : lines_) all += l + "\n";
    return all;
  }

  // ---- services -------------------------------------------------------------------
  bool key_waiting() override {
    ++key_tests_;
    ++idle_polls_;
    if (watchdog_ > 0 && key_tests_ > watchdog_) {
      watchdog_fired_ = true;
      return true;
    }
    if (keys_.empty()) return false;
    const Key& k = keys_.front();
    if (!k.after_line.empty() && !seen_line_start(k.after_line)) return false;
    if (k.after_idle_polls > 0 && idle_polls_ <= k.after_idle_polls) return false;
    return true;
  }

  char get_key() override {
    if (watchdog_fired_) return 'q';
    if (keys_.empty()) return ' ';  // end of input
    const char key = keys_.front().key;
    keys_.pop_front();
    return key;
  }

  void sleep_ms(std::int32_t milliseconds) override {
    if (milliseconds <= 0) return;
    slept_ms_ += milliseconds;
    if (sleep_divisor_ > 0) {
      std::this_thread::sleep_for(std::chrono::microseconds(
          std::int64_t{milliseconds} * 1000 / sleep_divisor_));
    }
  }

  void time_of_day(std::int16_t& hour, std::int16_t& minute, std::int16_t& second,
                   std::int16_t& hundredths) override {
    hour = static_cast<std::int16_t>(hour_);
    minute = static_cast<std::int16_t>(minute_);
    second = static_cast<std::int16_t>(second_);
    hundredths = 0;
  }

  void date_today(std::int16_t& year, std::int16_t& month, std::int16_t& day) override {
    year = static_cast<std::int16_t>(year_);
    month = static_cast<std::int16_t>(month_);
    day = static_cast<std::int16_t>(day_);
  }

  bool read_line(std::string& line) override {
    if (typed_.empty()) return false;
    line = typed_.front();
    typed_.pop_front();
    return true;
  }

  void write_line(std::string_view line) override {
    lines_.emplace_back(line);
    idle_polls_ = 0;
    if (std::getenv("KAL_TEST_ECHO")) std::fprintf(stderr, "|%.*s\n", static_cast<int>(line.size()), line.data());
  }

 private:
  bool seen_line_start(const std::string& prefix) const {
    for (const std::string& l : lines_) {
      if (l.compare(0, prefix.size(), prefix) == 0) return true;
    }
    return false;
  }

  std::vector<std::string> lines_;
  std::deque<Key> keys_;
  std::deque<std::string> typed_;
  int sleep_divisor_ = 0;
  std::int64_t slept_ms_ = 0;
  std::int64_t key_tests_ = 0;
  std::int64_t idle_polls_ = 0;
  std::int64_t watchdog_ = 0;
  bool watchdog_fired_ = false;
  int year_ = 2026, month_ = 12, day_ = 8, hour_ = 14, minute_ = 30, second_ = 15;
};

}  // namespace kal::test

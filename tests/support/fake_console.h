// The console every test talks to instead of the terminal: scripted keys and
// typed lines, a settable clock, sleeps that are logged and skipped or scaled
// down, and the written lines captured. It installs itself for its lifetime.
#pragma once

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <functional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "console/console.h"

namespace kal::test {

// Installs `services` for the lifetime of the object; afterwards the
// platform's console is in use again.
class ScopedConsole {
 public:
  explicit ScopedConsole(ConsoleServices& services) { set_console(&services); }
  ~ScopedConsole() { set_console(nullptr); }
  ScopedConsole(const ScopedConsole&) = delete;
  ScopedConsole& operator=(const ScopedConsole&) = delete;
};

class FakeConsole final : public ConsoleServices {
 public:
  // A key press that becomes "waiting" once its conditions hold. Keys are
  // taken in order: only the first one in the queue can be waiting.
  struct Key {
    Key(char k) : key(k) {}  // NOLINT: a plain key is waiting at once
    Key(char k, std::string line, std::int64_t polls)
        : key(k), after_line(std::move(line)), after_idle_polls(polls) {}
    char key = ' ';
    std::string after_line;             // a line starting with this was written
    std::int64_t after_idle_polls = 0;  // key tests since the last written line
  };

  // Real time spent per requested sleep: milliseconds / sleep_divisor (0: none).
  explicit FakeConsole(int divisor = 0) : sleep_divisor(divisor) {}
  FakeConsole(const FakeConsole&) = delete;
  FakeConsole& operator=(const FakeConsole&) = delete;

  // ---- script ------------------------------------------------------------------
  std::deque<Key> keys;
  std::deque<std::string> typed;  // the operator's lines, for read_line
  bool terminal = true;           // keys_can_arrive: false as for a script's pipe
  int sleep_divisor;
  // Called after each sleep with its length, on the sleeping thread.
  std::function<void(std::int32_t)> on_sleep;
  // When false, written lines and sleeps are not kept (long fuzz runs);
  // keys that wait for a line then never become waiting.
  bool recording = true;

  void press(char key) { keys.emplace_back(key); }
  void press_after_line(std::string_view prefix, char key) {
    keys.emplace_back(key, std::string(prefix), 0);
  }
  // Both: the line was written and then `polls` key tests passed without output.
  void press_after_line_and_idle_polls(std::string_view prefix, std::int64_t polls, char key) {
    keys.emplace_back(key, std::string(prefix), polls);
  }
  void type_line(std::string_view line) { typed.emplace_back(line); }
  // After this many key tests the console presses q on its own, so that a
  // loop that would poll forever ends and the test can report it.
  void set_watchdog(std::int64_t key_tests) { watchdog_ = key_tests; }
  void set_clock(int year, int month, int day, int hour, int minute, int second) {
    year_ = year;
    month_ = month;
    day_ = day;
    hour_ = hour;
    minute_ = minute;
    second_ = second;
  }

  // ---- observations ---------------------------------------------------------------
  std::vector<std::string> lines;
  std::vector<std::int32_t> sleeps;  // every requested sleep, in order

  bool watchdog_fired() const { return watchdog_fired_; }
  std::size_t keys_left() const { return keys.size(); }
  std::int64_t key_tests() const { return key_tests_; }
  std::int64_t slept_ms() const {
    std::int64_t total = 0;
    for (std::int32_t s : sleeps) total += s > 0 ? s : 0;
    return total;
  }
  std::size_t sleeps_of(std::int32_t milliseconds) const {
    std::size_t n = 0;
    for (std::int32_t s : sleeps) n += s == milliseconds ? 1 : 0;
    return n;
  }
  bool has(std::string_view line) const { return count(line) > 0; }
  // The index of the first line equal to `line`, -1 when there is none.
  int index_of(std::string_view line) const {
    for (std::size_t i = 0; i < lines.size(); ++i) {
      if (lines[i] == line) return static_cast<int>(i);
    }
    return -1;
  }
  int count(std::string_view line) const {
    int n = 0;
    for (const std::string& l : lines) n += l == line ? 1 : 0;
    return n;
  }
  // All lines, each ended by a line feed.
  std::string transcript() const {
    std::string all;
    for (const std::string& l : lines) all += l + "\n";
    return all;
  }
  // All lines in brackets, so that trailing blanks show in a failure report.
  std::string dump() const {
    std::string all;
    for (const std::string& l : lines) all += "[" + l + "]\n";
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
    if (keys.empty()) return false;
    const Key& k = keys.front();
    if (!k.after_line.empty() && !seen_line_start(k.after_line)) return false;
    if (k.after_idle_polls > 0 && idle_polls_ <= k.after_idle_polls) return false;
    return true;
  }

  char get_key() override {
    if (watchdog_fired_) return 'q';
    if (keys.empty()) return ' ';  // end of input
    const char key = keys.front().key;
    keys.pop_front();
    return key;
  }

  void sleep_ms(std::int32_t milliseconds) override {
    if (recording) sleeps.push_back(milliseconds);
    if (milliseconds > 0 && sleep_divisor > 0) {
      std::this_thread::sleep_for(
          std::chrono::microseconds(std::int64_t{milliseconds} * 1000 / sleep_divisor));
    }
    if (on_sleep) on_sleep(milliseconds);
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

  bool keys_can_arrive() override { return terminal; }
  bool read_line(std::string& line) override {
    if (typed.empty()) return false;
    line = typed.front();
    typed.pop_front();
    return true;
  }

  void write_line(std::string_view line) override {
    idle_polls_ = 0;
    if (!recording) return;
    lines.emplace_back(line);
    // KAL_TEST_ECHO=1 shows the dialogue live while a test runs.
    if (std::getenv("KAL_TEST_ECHO")) {
      std::fprintf(stderr, "|%.*s\n", static_cast<int>(line.size()), line.data());
    }
  }

 private:
  bool seen_line_start(const std::string& prefix) const {
    for (const std::string& l : lines) {
      if (l.compare(0, prefix.size(), prefix) == 0) return true;
    }
    return false;
  }

  std::int64_t key_tests_ = 0;
  std::int64_t idle_polls_ = 0;
  std::int64_t watchdog_ = 0;
  bool watchdog_fired_ = false;
  int year_ = 2026, month_ = 12, day_ = 8, hour_ = 14, minute_ = 30, second_ = 15;
  // Last member: installed once everything above is ready, removed first.
  ScopedConsole installed_{*this};
};

}  // namespace kal::test

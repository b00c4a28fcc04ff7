// A console that records the lines written to it, for checking messages.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "link/console.h"

namespace kal::testing {

class CaptureConsole final : public ConsoleServices {
 public:
  bool key_waiting() override { return false; }
  char get_key() override { return ' '; }
  void sleep_ms(std::int32_t) override {}
  void time_of_day(std::int16_t& hour, std::int16_t& minute, std::int16_t& second,
                   std::int16_t& hundredths) override {
    hour = minute = second = hundredths = 0;
  }
  void date_today(std::int16_t& year, std::int16_t& month, std::int16_t& day) override {
    year = 2026;
    month = day = 1;
  }
  bool read_line(std::string&) override { return false; }
  void write_line(std::string_view line) override { lines.emplace_back(line); }

  std::vector<std::string> lines;
};

// Installs a capturing console for the lifetime of the object.
class ScopedCapture {
 public:
  ScopedCapture() { set_console(&console_); }
  ~ScopedCapture() { set_console(nullptr); }
  ScopedCapture(const ScopedCapture&) = delete;
  ScopedCapture& operator=(const ScopedCapture&) = delete;

  const std::vector<std::string>& lines() const { return console_.lines; }
  void clear() { console_.lines.clear(); }

 private:
  CaptureConsole console_;
};

}  // namespace kal::testing

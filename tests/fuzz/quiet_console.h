// A console with no keyboard (end of input), an instant clock and no output,
// for the fuzz targets.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "link/console.h"

class QuietConsole final : public kal::ConsoleServices {
 public:
  bool key_waiting() override { return false; }
  char get_key() override { return ' '; }
  void sleep_ms(std::int32_t) override {}
  void time_of_day(std::int16_t& h, std::int16_t& m, std::int16_t& s, std::int16_t& c) override {
    h = 10;
    m = 15;
    s = 2;
    c = 0;
  }
  void date_today(std::int16_t& y, std::int16_t& m, std::int16_t& d) override {
    y = 2026;
    m = 12;
    d = 8;
  }
  bool read_line(std::string&) override { return false; }
  void write_line(std::string_view) override {}
};

// What the transcription benchmarks share: a console that stays silent and
// counts the lines that report trouble, and the NMEA checksum of the GGA
// sentences they generate.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

#include "console/console.h"

namespace kal::bench {

// Says nothing and answers every prompt with the end of input; it counts
// the lines that report an error ("*** Read error ...", "T$ packet error:",
// ...), so that a generated record the transcription rejects spoils the
// measurement visibly.
class SilentConsole : public ConsoleServices {
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

// Two upper-case hexadecimal digits: the exclusive or of the sentence body.
inline std::string nmea_checksum(std::string_view body) {
  unsigned sum = 0;
  for (char c : body) sum ^= static_cast<unsigned char>(c);
  char hex[3];
  std::snprintf(hex, sizeof hex, "%02X", sum);
  return hex;
}

}  // namespace kal::bench

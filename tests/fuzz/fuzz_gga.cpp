// The GGA reader over arbitrary sentences: never a crash, never a hang.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "geodesy/read_gpgga.h"
#include "link/console.h"

namespace {
class QuietConsole final : public kal::ConsoleServices {
 public:
  bool key_waiting() override { return false; }
  char get_key() override { return ' '; }
  void sleep_ms(std::int32_t) override {}
  void time_of_day(std::int16_t& h, std::int16_t& m, std::int16_t& s, std::int16_t& c) override {
    h = m = s = c = 0;
  }
  void date_today(std::int16_t& y, std::int16_t& m, std::int16_t& d) override {
    y = 2026;
    m = d = 1;
  }
  bool read_line(std::string&) override { return false; }
  void write_line(std::string_view) override {}
};
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static QuietConsole quiet;
  kal::set_console(&quiet);
  std::string_view payload(reinterpret_cast<const char*>(data), size);
  std::int32_t time = 0, fix = 0, satellites = 0;
  double latitude = 0, longitude = 0;
  float hdop = 0, altitude = 0;
  kal::READ_GPGGA(payload, time, latitude, longitude, fix, satellites, hdop, altitude);
  return 0;
}

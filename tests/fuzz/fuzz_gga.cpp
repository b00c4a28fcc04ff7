// The GGA reader over arbitrary sentences: never a crash, never a hang.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "geodesy/read_gpgga.h"
#include "support/fake_console.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static kal::test::FakeConsole quiet;  // installed for the whole run
  quiet.recording = false;              // no keyboard, nothing kept
  std::string_view payload(reinterpret_cast<const char*>(data), size);
  std::int32_t time = 0, fix = 0, satellites = 0;
  double latitude = 0, longitude = 0;
  float hdop = 0, altitude = 0;
  kal::READ_GPGGA(payload, time, latitude, longitude, fix, satellites, hdop, altitude);
  return 0;
}

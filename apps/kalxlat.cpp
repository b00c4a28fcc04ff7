// kalxlat: transcribes an existing RAW file, once per output type letter.
//
//   kalxlat RAWFILE [TYPES] [HEIGHT]
//
// TYPES is a string of output type letters (X G D L S P I R, any case;
// default X); HEIGHT, when given, is the sensor height counted as set on the
// command line. Exit status: 0 when every transcription returned 0, else the
// first non-zero result code; 64 for a wrong command line.
#include <cstdint>
#include <string>
#include <string_view>

#include "common/fixed_text.h"
#include "common/format.h"
#include "link/console.h"
#include "transcribe/driver.h"

namespace {

constexpr int kUsageError = 64;  // EX_USAGE

int usage() {
  kal::put_line("usage: kalxlat RAWFILE [TYPES] [HEIGHT]");
  kal::put_line("  TYPES: output type letters X G D L S P I R (default X); HEIGHT: sensor height in m");
  return kUsageError;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2 || argc > 4) return usage();
  const std::string raw_name = argv[1];
  std::string types = argc >= 3 ? std::string(kal::trimmed(argv[2])) : std::string();
  if (types.empty()) types = "X";

  float sensor_height = 0.2f;
  bool height_set = false;
  if (argc >= 4) {
    if (kal::fmt::read_free_real(argv[3], sensor_height) != kal::fmt::FreeRead::value) return usage();
    height_set = true;
  }

  std::int32_t first_failure = 0;
  for (const char letter : types) {
    if (letter == ' ') continue;
    const std::string_view type(&letter, 1);
    kal::put_line(">>>Transcribe to file type " + std::string(type));
    std::int32_t result = 0;
    kal::KALXLATSUB(raw_name, type, sensor_height, height_set, result);
    if (result == 0) {
      kal::put_line("   Data  successfully transcribed!");
    } else {
      kal::put_line(kal::fmt::FreeLine().text("   Error code was ").i32(result).str());
      if (first_failure == 0) first_failure = result;
    }
  }
  return first_failure;
}

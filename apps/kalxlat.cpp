// kalxlat: transcribes an existing RAW file, once per output type letter.
//
//   kalxlat RAWFILE [TYPES] [HEIGHT] [--csv] [--geojson] [--report]
//
// TYPES is a string of output type letters (X G D L S P I R, any case;
// default X); HEIGHT, when given, is the sensor height counted as set on the
// command line. The options, anywhere after RAWFILE, add the GIS exports of
// every survey file (NAME.csv, NAME.geojson) and the quick-look report
// (RAWSTEM.html), made from the stations of the first transcription; they
// change none of the files of the TYPES. Exit status: 0
// when every transcription returned 0, else the first non-zero result code
// (4 as well when an export could not be written); 64 for a wrong command
// line.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/fixed_text.h"
#include "common/format.h"
#include "console/console.h"
#include "export/export.h"
#include "transcribe/driver.h"

namespace {

constexpr int kUsageError = 64;  // EX_USAGE

int usage() {
  kal::put_line("usage: kalxlat RAWFILE [TYPES] [HEIGHT] [--csv] [--geojson] [--report]");
  kal::put_line("  TYPES: output type letters X G D L S P I R (default X); HEIGHT: sensor height in m");
  kal::put_line("  --csv, --geojson: NAME.csv, NAME.geojson per survey file; --report: RAWSTEM.html");
  return kUsageError;
}

// Takes an option; false for an unknown one.
bool take_option(std::string_view arg, kal::ExportRequest& request) {
  if (arg == "--csv") {
    request.csv = true;
  } else if (arg == "--geojson") {
    request.geojson = true;
  } else if (arg == "--report") {
    request.report = true;
  } else {
    return false;
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return usage();
  const std::string raw_name = argv[1];
  kal::ExportRequest request;
  std::vector<std::string> positional;
  for (int i = 2; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (arg.substr(0, 2) == "--") {
      if (!take_option(arg, request)) return usage();
    } else {
      positional.emplace_back(arg);
    }
  }
  if (positional.size() > 2) return usage();
  std::string types = !positional.empty() ? std::string(kal::trimmed(positional[0])) : std::string();
  if (types.empty()) types = "X";

  float sensor_height = 0.2f;
  bool height_set = false;
  if (positional.size() == 2) {
    if (kal::fmt::read_free_real(positional[1], sensor_height) != kal::fmt::FreeRead::value) return usage();
    height_set = true;
  }

  std::optional<kal::SurveyExport> exports;
  if (request.any()) exports.emplace(raw_name, request);
  kal::xlat::Persistent kept;  // from one transcription of the RAW file to the next
  std::int32_t first_failure = 0;
  for (const char letter : types) {
    if (letter == ' ') continue;
    const std::string_view type(&letter, 1);
    kal::put_line(">>>Transcribe to file type " + std::string(type));
    std::int32_t result = 0;
    kal::KALXLATSUB(raw_name, type, sensor_height, height_set, result, kept,
                    exports ? exports->observer() : nullptr);
    if (result == 0) {
      kal::put_line("   Data  successfully transcribed!");
    } else {
      kal::put_line(kal::fmt::FreeLine().text("   Error code was ").i32(result).str());
      if (first_failure == 0) first_failure = result;
    }
  }
  if (exports && !exports->finish() && first_failure == 0) first_failure = kal::kXlatOutputOpen;
  return first_failure;
}

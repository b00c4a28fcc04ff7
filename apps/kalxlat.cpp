// kalxlat: transcribes an existing RAW file, once per output type letter.
//
//   kalxlat RAWFILE [TYPES] [HEIGHT] [--csv] [--geojson] [--report]
//
// TYPES is a string of output type letters (X G D L S P I R, any case;
// default X); HEIGHT, when given, is the sensor height counted as set on the
// command line. The options, anywhere after RAWFILE, add the GIS exports of
// every survey file (NAME.csv, NAME.geojson) and the quick-look report
// (RAWSTEM.html), made from the stations of the first transcription; they
// change none of the files of the TYPES. --help (-h, /?) and --version
// answer and touch no file. Exit status: 0 when every transcription returned
// 0, else the first non-zero result code (3 when the RAW file cannot be
// opened, before any prompt; 4 as well when an export could not be written);
// 64 for a wrong command line, an unknown option among them.
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/fixed_text.h"
#include "common/format.h"
#include "common/file_error.h"
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

enum class Request { none, help, version };

Request help_or_version(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (arg == "--help" || arg == "-h" || arg == "/?") return Request::help;
    if (arg == "--version") return Request::version;
  }
  return Request::none;
}

int help() {
  kal::put_line("kalxlat " KAL_VERSION ": transcribes a RAW file of the Kalvor sensor, once per type letter.");
  kal::put_line("usage: kalxlat RAWFILE [TYPES] [HEIGHT] [--csv] [--geojson] [--report]");
  kal::put_line("  TYPES: output type letters X G D L S P I R (default X); HEIGHT: sensor height in m");
  kal::put_line("  --csv, --geojson: NAME.csv, NAME.geojson per survey file; --report: RAWSTEM.html");
  kal::put_line("  The outputs are written beside the RAW file. Exit status: 0 when every");
  kal::put_line("  transcription succeeded, 3 when the RAW file cannot be opened, 64 for a wrong");
  kal::put_line("  command line, else the first transcription's error code.");
  return 0;
}

// Options are spelled with "--"; a word with a dash that is none of them is a
// typo, never a list of type letters. A negative number can only be a height.
int unknown_option(std::string_view arg) {
  kal::put_line("kalxlat: " + std::string(arg) + " is not an option (kalxlat --help lists them)");
  return kUsageError;
}

// The RAW file is checked before the height prompt: an operator who typed a
// wrong name learns it at once, with the system's reason.
bool raw_file_readable(const std::string& name) {
  std::FILE* file = std::fopen(name.c_str(), "rb");
  if (file == nullptr) {
    const int error = errno;
    kal::put_line(kal::file_error_line("open", name, error));
    return false;
  }
  std::fclose(file);
  return true;
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

namespace {

// The whole run; its exit status.
int transcribe_command_line(int argc, char** argv) {
  switch (help_or_version(argc, argv)) {
    case Request::help:
      return help();
    case Request::version:
      kal::put_line("kalxlat " KAL_VERSION " (transcription v1.22)");
      return 0;
    case Request::none:
      break;
  }
  if (argc < 2) return usage();
  const std::string raw_name = argv[1];
  if (raw_name.starts_with('-')) return unknown_option(raw_name);
  kal::ExportRequest request;
  std::vector<std::string> positional;
  for (int i = 2; i < argc; ++i) {
    const std::string_view arg = argv[i];
    float height = 0.0f;
    const bool height_place = positional.size() == 1;
    if (arg.starts_with("--")) {
      if (!take_option(arg, request)) return unknown_option(arg);
    } else if (arg.starts_with('-') &&
               !(height_place && kal::fmt::read_free_real(arg, height) == kal::fmt::FreeRead::value)) {
      return unknown_option(arg);
    } else {
      positional.emplace_back(arg);
    }
  }
  if (positional.size() > 2) return usage();
  if (!raw_file_readable(raw_name)) return kal::kXlatNoRawFile;
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

}  // namespace

int main(int argc, char** argv) {
  const int status = transcribe_command_line(argc, argv);
  // A double-clicked kalxlat.exe: its window would close before the lines are read.
  if (kal::own_window_closes_with_program()) {
    kal::put_line("Press Enter to close this window.");
    std::string enter;
    kal::console().read_line(enter);
  }
  return status;
}

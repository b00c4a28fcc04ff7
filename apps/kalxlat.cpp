// kalxlat: transcribes an existing RAW file, once per output type letter.
//
//   kalxlat RAWFILE [TYPES] [HEIGHT] [--csv] [--geojson] [--report]
//           [--antenna-offset ALONG[,ACROSS]] [--gps-lag SECONDS] [--max-hdop HDOP]
//
// TYPES is a string of output type letters (X G D L S P I R, any case;
// default X); HEIGHT, when given, is the sensor height counted as set on the
// command line. The options, anywhere after RAWFILE, add the GIS exports of
// every survey file (NAME.csv, NAME.geojson) and the quick-look report
// (RAWSTEM.html), made from the stations of the first transcription; they
// change none of the files of the TYPES. The exports place each station by
// its time between the GPS fixes around it; --antenna-offset (metres, the
// sensor from the GPS antenna: ALONG forward in the direction of travel,
// ACROSS to the right), --gps-lag (seconds a fix reaches the RAW file after
// its moment) and --max-hdop (fixes with a larger HDOP count as none) tune
// that, and a value may also follow "=". --help (-h, /?) and --version
// answer and touch no file. Exit status: 0 when every transcription returned
// 0, else the first non-zero result code (3 when the RAW file cannot be
// opened, before any prompt; 4 as well when an export could not be written);
// 64 for a wrong command line, an unknown option or a malformed value among them.
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

// The synopsis and the options, for the usage text and the help.
void put_synopsis() {
  kal::put_line("usage: kalxlat RAWFILE [TYPES] [HEIGHT] [--csv] [--geojson] [--report]");
  kal::put_line("               [--antenna-offset ALONG[,ACROSS]] [--gps-lag SECONDS] [--max-hdop HDOP]");
  kal::put_line("  TYPES: output type letters X G D L S P I R (default X); HEIGHT: sensor height in m");
  kal::put_line("  --csv, --geojson: NAME.csv, NAME.geojson per survey file; --report: RAWSTEM.html");
  kal::put_line("  --antenna-offset ALONG[,ACROSS]: metres from the GPS antenna to the sensor, forward");
  kal::put_line("    (negative: towed behind) and to the right; --gps-lag SECONDS: how late a fix reaches");
  kal::put_line("    the RAW file; --max-hdop HDOP: fixes with a larger HDOP place no station");
}

int usage() {
  put_synopsis();
  return kUsageError;
}

// A real number that is the whole of `text`.
std::optional<double> number_of(std::string_view text) {
  float value = 0.0f;
  if (text.empty() || kal::fmt::read_free_real(text, value) != kal::fmt::FreeRead::value) return std::nullopt;
  if (text.find_first_of(",/ ") != std::string_view::npos) return std::nullopt;  // one number only
  return static_cast<double>(value);
}

// Reads the value of a positioning option; false with a line saying what
// was expected.
bool take_position_value(std::string_view name, std::string_view value, kal::xlat::PositionOptions& options) {
  if (name == "--antenna-offset") {
    const std::size_t comma = value.find(',');
    const std::optional<double> along = number_of(value.substr(0, comma));
    const std::optional<double> across =
        comma == std::string_view::npos ? std::optional<double>(0.0) : number_of(value.substr(comma + 1));
    if (along && across) {
      options.antenna_along_m = *along;
      options.antenna_across_m = *across;
      return true;
    }
    kal::put_line("kalxlat: --antenna-offset expects ALONG[,ACROSS] in metres (e.g. -1.0 or -1.0,0.2), not \"" +
                  std::string(value) + "\"");
    return false;
  }
  const std::optional<double> number = number_of(value);
  if (name == "--gps-lag" && number && *number >= 0.0 && *number <= 60.0) {
    options.gps_lag_s = *number;
    return true;
  }
  if (name == "--max-hdop" && number && *number > 0.0) {
    options.max_hdop = *number;
    return true;
  }
  kal::put_line("kalxlat: " + std::string(name) +
                (name == "--gps-lag" ? " expects seconds from 0 to 60" : " expects a number above 0") + ", not \"" +
                std::string(value) + "\"");
  return false;
}

bool takes_value(std::string_view name) {
  return name == "--antenna-offset" || name == "--gps-lag" || name == "--max-hdop";
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
  put_synopsis();
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

// Takes an option without a value; false for an unknown one.
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
      const std::size_t equals = arg.find('=');
      const std::string_view name = arg.substr(0, equals);
      if (takes_value(name)) {
        std::string_view value;
        if (equals != std::string_view::npos) {
          value = arg.substr(equals + 1);
        } else if (i + 1 < argc) {
          value = argv[++i];
        } else {
          kal::put_line("kalxlat: " + std::string(name) + " needs a value");
          return usage();
        }
        if (!take_position_value(name, value, request.positions)) return kUsageError;
      } else if (!take_option(arg, request)) {
        return unknown_option(arg);
      }
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

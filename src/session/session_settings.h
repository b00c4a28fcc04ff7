// The session settings record and the start-up of a run: banner, command-line
// classification, defaults, the list of output types to transcribe and the
// time-stamped base name of the RAW file.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kal {

inline constexpr std::size_t kFormatLettersLength = 10;
inline constexpr std::size_t kTranscribeListLength = 10;
inline constexpr std::size_t kRawBaseNameLength = 17;
inline constexpr std::int32_t kDefaultRequestedBaud = 38400;
// The port number a device given by its path is opened under.
inline constexpr std::int32_t kDevicePathPort = 1000;

// One record for the whole run. Text fields are fixed-length, blank-padded.
struct session_settings {
  std::int32_t port_number = 1;
  std::int32_t requested_baud = 0;
  std::int32_t initial_baud = 38400;
  std::int32_t current_baud = 0;
  std::int32_t data_bits = 8;
  std::int32_t parity = 0;     // none
  std::int32_t stop_bits = 0;  // one stop bit
  std::string format_letters = std::string(kFormatLettersLength, ' ');
  std::string transcribe_list = std::string(kTranscribeListLength, ' ');
  // Which output types are in transcribe_list.
  bool type_x = false;
  bool type_g = false;
  bool type_d = false;
  bool type_l = false;
  bool type_s = false;
  bool type_p = false;
  bool raw_open = false;
  float sensor_height = 0.4f;
  bool args_given = false;
  bool portset = false;
  bool baudset = false;
  bool LGFset = false;
  std::string raw_base_name = std::string(kRawBaseNameLength, ' ');
  // A port argument that names the serial device itself (/dev/ttyUSB0):
  // then port_number is kDevicePathPort, which opens this device.
  std::string device_path;

  bool any_type_flag() const { return type_x || type_g || type_d || type_l || type_s || type_p; }
  void clear_type_flags() { type_x = type_g = type_d = type_l = type_s = type_p = false; }
};

// How the command line leaves the run.
enum class CommandLine {
  proceed,       // settings complete: go on to the upload
  too_many,      // more than four arguments (message printed)
  usage,         // empty transcription list (usage text printed)
  bad_port,      // "COM" argument with characters 4-5 not digits or blanks
  bad_height,    // fourth argument that is not a number (usage text printed)
  unknown_option // an argument beginning with "--" that is no option (usage text printed)
};

// What the operator asks instead of a session.
enum class Request { help, version };

// --help, -h, -? or /? anywhere (any case): help; --version: the version.
// Nothing else: no request, the arguments are a session's.
std::optional<Request> help_or_version(const std::vector<std::string>& args);

// The five banner lines.
void print_banner();

// The usage text; its last-but-one line shows `requested_baud`.
void print_usage(std::int32_t requested_baud);

// The version line.
std::string version_line();

// Classifies the arguments (program name not included) into `settings`,
// printing every line the command line produces: port and height notes, the
// echo of which settings were given, error lines and the usage text.
CommandLine read_command_line(const std::vector<std::string>& args, session_settings& settings);

// "XC" hhmmss "-" MMDDYYYY from the console clock, 17 characters.
std::string form_raw_base_name();

// The RAW file name: the base name without trailing blanks, then ".RAW".
std::string raw_file_name(const session_settings& settings);

}  // namespace kal

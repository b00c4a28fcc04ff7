#include "session/session_settings.h"

#include <algorithm>
#include <array>
#include <optional>

#include "common/fixed_text.h"
#include "common/format.h"
#include "console/console.h"

namespace kal {
namespace {

constexpr std::size_t kArgumentFetchLength = 80;
constexpr std::size_t kArgumentFieldLength = 16;
constexpr std::size_t kHeightArgumentLength = 256;
constexpr int kMaxArguments = 4;
constexpr int kHeightArgumentPosition = 4;
constexpr std::int32_t kDefaultPort = 1;
constexpr int kHighestListedPort = 20;
constexpr float kHeightWithArguments = 0.15f;

constexpr std::array<std::int32_t, 8> kBaudWords = {9600, 4800, 2400, 1200,
                                                    19200, 38400, 57600, 115200};

// The seven output-type letters the session knows, in table order.
constexpr std::string_view kKnownTypeLetters = "SPRLDXG";


bool is_baud_word(std::string_view field, std::int32_t& baud) {
  for (const std::int32_t word : kBaudWords) {
    if (same_text(field, fmt::I(word, 0))) {
      baud = word;
      return true;
    }
  }
  return false;
}

bool is_listed_port(std::string_view field, std::int32_t& port) {
  for (int n = 1; n <= kHighestListedPort; ++n) {
    if (same_text(field, "COM" + fmt::I(n, 0))) {
      port = n;
      return true;
    }
  }
  return false;
}

bool has_any_type_letter(std::string_view field) {
  for (const char letter : kKnownTypeLetters) {
    if (field.find(letter) != std::string_view::npos) return true;
  }
  return false;
}

bool digits_or_blanks(std::string_view text) {
  for (const char c : text) {
    if (c != ' ' && (c < '0' || c > '9')) return false;
  }
  return true;
}

// Builds transcribe_list and the type flags from format_letters, in the
// transcription order X, G, D, L, S, P. R never enters the list: it names
// no output of its own here.
void build_transcribe_list(session_settings& s) {
  s.clear_type_flags();
  struct Entry {
    char letter;
    bool session_settings::*flag;
  };
  static constexpr Entry kOrder[] = {
      {'X', &session_settings::type_x}, {'G', &session_settings::type_g},
      {'D', &session_settings::type_d}, {'L', &session_settings::type_l},
      {'S', &session_settings::type_s}, {'P', &session_settings::type_p},
  };
  std::string list;
  for (const Entry& e : kOrder) {
    if (s.format_letters.find(e.letter) != std::string::npos) {
      s.*(e.flag) = true;
      list.push_back(e.letter);
    }
  }
  s.transcribe_list = fixed(list, kTranscribeListLength);
}

bool has_all_seven_letters(std::string_view letters) {
  for (const char letter : kKnownTypeLetters) {
    if (letters.find(letter) == std::string_view::npos) return false;
  }
  return true;
}

void apply_defaults(session_settings& s) {
  if (!s.portset) s.port_number = kDefaultPort;
  if (!s.baudset) s.requested_baud = kDefaultRequestedBaud;
  if (!s.LGFset) s.format_letters = fixed("X", kFormatLettersLength);
}

enum class Classified { ok, bad_port };

Classified classify_argument(std::string_view field, session_settings& s) {
  std::int32_t number = 0;
  if (is_baud_word(field, number)) {
    s.requested_baud = number;
    s.baudset = true;
  } else if (is_listed_port(field, number)) {
    s.port_number = number;
    s.portset = true;
  } else if (position_of(field, "COM") > 0) {
    // The port number stands in characters 4-5; anything there but digits
    // and blanks would be read as garbage.
    const std::string digits = columns(field, 4, 5);
    if (!digits_or_blanks(digits) || !fmt::read_int(digits, number)) return Classified::bad_port;
    s.port_number = number;
    s.portset = true;
    put_line(fmt::FreeLine().text("COM Port to be used is ").i32(s.port_number).str());
  } else if (has_any_type_letter(field)) {
    s.format_letters = fixed(trimmed(field).substr(0, kFormatLettersLength), kFormatLettersLength);
    s.LGFset = true;
  } else {
    // Not a setting: the flags are rebuilt after the loop.
    s.clear_type_flags();
    s.raw_open = false;
  }
  return Classified::ok;
}

// A word of digits alone: meant as a rate when it is none the program offers.
bool all_digits(std::string_view text) {
  return !text.empty() && std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// No format letter, port or rate is spelled with dashes: "--hlep" is a typo.
bool is_unknown_long_option(std::string_view argument) { return argument.starts_with("--"); }

std::string offered_rates() {
  std::array<std::int32_t, kBaudWords.size()> rates = kBaudWords;
  std::sort(rates.begin(), rates.end());
  std::string list;
  for (const std::int32_t rate : rates) list += (list.empty() ? "" : ", ") + fmt::I(rate, 0);
  return list;
}

bool read_height_argument(std::string_view argument, float& height) {
  float value = height;
  if (fmt::read_free_real(argument.substr(0, kHeightArgumentLength), value) !=
      fmt::FreeRead::value) {
    return false;
  }
  height = value;
  return true;
}

}  // namespace

void print_banner() {
  put_line("*****************************************************");
  put_line("************* Program KALFETCH5 V1.18  ***************");
  put_line("******** Uploads and Translates Kalvor Data *********");
  put_line("********** Transcription subroutine V1.20 ***********");
  put_line("*****************************************************");
}

void print_usage(std::int32_t requested_baud) {
  put_line("Usage:");
  put_line("KALFETCH [format] [comport] [baud], eg");
  put_line("KALFETCH X COM1 57600");
  put_line("  where ");
  put_line("  --format is X(yz), G(eosoft), D(at31), L(og) or R(aw),");
  put_line("    (default X for comment-free XYZ file),");
  put_line("  --comport is COM1 through COM20");
  put_line("    (default COM1), and");
  put_line("  --baud is 9600,19200,38400,57600, or 115200");
  put_line(fmt::FreeLine().text("    (default ").i32(requested_baud).text(")").str());
  put_line(" ");
}

std::string version_line() {
  return "kalfetch5 " KAL_VERSION " (Program KALFETCH5 V1.18, transcription v1.22)";
}

std::optional<Request> help_or_version(const std::vector<std::string>& args) {
  for (const std::string& argument : args) {
    const std::string word(trimmed(SHIFTUP(argument)));
    if (word == "--HELP" || word == "-H" || word == "-?" || word == "/?") return Request::help;
    if (word == "--VERSION") return Request::version;
  }
  return std::nullopt;
}

namespace {

// A port argument that names the device itself: a path, never format letters.
bool is_device_path(std::string_view argument) { return argument.starts_with('/'); }

}  // namespace

CommandLine read_command_line(const std::vector<std::string>& args, session_settings& s) {
  const int n = static_cast<int>(args.size());
  if (n > kMaxArguments) {
    put_line(" ERROR: TOO MANY ARGUMENTS");
    return CommandLine::too_many;
  }
  std::string rate_not_offered;
  for (int i = 1; i <= n; ++i) {
    const std::string& argument = args[static_cast<std::size_t>(i - 1)];
    if (is_unknown_long_option(argument)) {
      put_line(" ERROR: NOT AN OPTION OF KALFETCH5: " + argument);
      apply_defaults(s);
      print_usage(s.requested_baud);
      return CommandLine::unknown_option;
    }
    const std::string_view word = trimmed(argument);
    std::int32_t offered = 0;
    if (i != kHeightArgumentPosition && all_digits(word) && !is_baud_word(fixed(word, kArgumentFieldLength), offered))
      rate_not_offered = std::string(word);
    const std::string field = fixed(
        SHIFTUP(std::string_view(argument).substr(0, kArgumentFetchLength)), kArgumentFieldLength);
    if (is_device_path(argument)) {
      s.device_path = argument;
      s.port_number = kDevicePathPort;
      s.portset = true;
    } else if (classify_argument(field, s) == Classified::bad_port) {
      put_line(" ERROR: NOT A COM PORT NUMBER IN ARGUMENT " + std::string(trimmed(argument)));
      return CommandLine::bad_port;
    }
    if (i == kHeightArgumentPosition) {
      if (!read_height_argument(argument, s.sensor_height)) {
        put_line(" ERROR: SENSOR HEIGHT IS NOT A NUMBER: " + std::string(trimmed(argument)));
        apply_defaults(s);
        print_usage(s.requested_baud);
        return CommandLine::bad_height;
      }
      put_line(fmt::FreeLine().text("Sensor Height from command line=").real(s.sensor_height).str());
    } else {
      s.sensor_height = kHeightWithArguments;
    }
    s.args_given = true;
  }

  put_line(fmt::FreeLine()
               .text("portset=")
               .logical(s.portset)
               .text(" baudset=")
               .logical(s.baudset)
               .text(" and LGFset=")
               .logical(s.LGFset)
               .str());
  apply_defaults(s);
  if (!rate_not_offered.empty()) {
    put_line(" Baud rate " + rate_not_offered + " is not offered (" + offered_rates() + "): " +
             fmt::I(s.requested_baud, 0) + " is used instead.");
  }

  // With all seven letters the list stays blank and no usage is shown: the
  // run uploads and transcribes nothing.
  if (!has_all_seven_letters(s.format_letters)) {
    build_transcribe_list(s);
    if (trimmed_length(s.transcribe_list) == 0) {
      print_usage(s.requested_baud);
      return CommandLine::usage;
    }
  }
  return CommandLine::proceed;
}

std::string form_raw_base_name() {
  std::int16_t year = 0, month = 0, day = 0;
  std::int16_t hour = 0, minute = 0, second = 0, hundredths = 0;
  DATE_TODAY(year, month, day);
  TIME_OF_DAY(hour, minute, second, hundredths);
  return fixed(fmt::write("A,3I2.2,A,2I2.2,I4.4", {"XC", hour, minute, second, "-", month, day, year}),
               kRawBaseNameLength);
}

std::string raw_file_name(const session_settings& settings) {
  return std::string(trimmed(settings.raw_base_name)) + ".RAW";
}

}  // namespace kal

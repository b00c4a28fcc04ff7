// Command-line classification, defaults, the transcription list, the usage
// text and the RAW base name.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "expected_lines.h"
#include "session/session_settings.h"
#include "support/fake_console.h"

namespace kal {
namespace {

using namespace kal::test;

struct Case {
  const char* name;
  std::vector<std::string> args;
  CommandLine result;
  std::int32_t port;
  std::int32_t baud;
  const char* format_letters;  // trimmed
  const char* list;            // trimmed
  bool portset, baudset, lgfset;
  bool args_given;
  float height;
  std::vector<std::string> lines;
};

std::string padded10(const std::string& text) { return text + std::string(10 - text.size(), ' '); }

const char* const kEchoFFF = " portset= F baudset= F and LGFset= F";

std::vector<Case> cases() {
  return {
      {"no arguments", {}, CommandLine::proceed, 1, 38400, "X", "X", false, false, false, false,
       0.4f, {kEchoFFF}},
      // Arguments are upper-cased first, so com12 is COM12 of the list.
      {"com12", {"com12"}, CommandLine::proceed, 12, 38400, "X", "X", true, false, false, true,
       0.15f, {" portset= T baudset= F and LGFset= F"}},
      {"com7", {"com7"}, CommandLine::proceed, 7, 38400, "X", "X", true, false, false, true, 0.15f,
       {" portset= T baudset= F and LGFset= F"}},
      // COM25 is not one of COM1..COM20 but holds "COM": characters 4-5 give 25.
      {"COM25", {"COM25"}, CommandLine::proceed, 25, 38400, "X", "X", true, false, false, true,
       0.15f, {" COM Port to be used is           25", " portset= T baudset= F and LGFset= F"}},
      // COM01 is not the word COM1; characters 4-5 "01" read as 1.
      {"COM01", {"COM01"}, CommandLine::proceed, 1, 38400, "X", "X", true, false, false, true,
       0.15f, {" COM Port to be used is            1", " portset= T baudset= F and LGFset= F"}},
      {"1200", {"1200"}, CommandLine::proceed, 1, 1200, "X", "X", false, true, false, true, 0.15f,
       {" portset= F baudset= T and LGFset= F"}},
      {"2400", {"2400"}, CommandLine::proceed, 1, 2400, "X", "X", false, true, false, true, 0.15f,
       {" portset= F baudset= T and LGFset= F"}},
      {"4800", {"4800"}, CommandLine::proceed, 1, 4800, "X", "X", false, true, false, true, 0.15f,
       {" portset= F baudset= T and LGFset= F"}},
      {"115200", {"115200"}, CommandLine::proceed, 1, 115200, "X", "X", false, true, false, true,
       0.15f, {" portset= F baudset= T and LGFset= F"}},
      {"XG", {"XG"}, CommandLine::proceed, 1, 38400, "XG", "XG", false, false, true, true, 0.15f,
       {" portset= F baudset= F and LGFset= T"}},
      {"GX gives X first", {"GX"}, CommandLine::proceed, 1, 38400, "GX", "XG", false, false, true,
       true, 0.15f, {" portset= F baudset= F and LGFset= T"}},
      {"LX gives XL", {"lx"}, CommandLine::proceed, 1, 38400, "LX", "XL", false, false, true, true,
       0.15f, {" portset= F baudset= F and LGFset= T"}},
      // HELP holds L and P: a format argument.
      {"HELP", {"help"}, CommandLine::proceed, 1, 38400, "HELP", "LP", false, false, true, true,
       0.15f, {" portset= F baudset= F and LGFset= T"}},
      {"all six in any order", {"PSLDGX"}, CommandLine::proceed, 1, 38400, "PSLDGX", "XGDLSP",
       false, false, true, true, 0.15f, {" portset= F baudset= F and LGFset= T"}},
      // All seven letters: the list stays blank and no usage text is shown.
      {"all seven letters", {"GXDLRPS"}, CommandLine::proceed, 1, 38400, "GXDLRPS", "", false,
       false, true, true, 0.15f, {" portset= F baudset= F and LGFset= T"}},
      // Only the first 16 characters count, and the format keeps 10 of them.
      {"long format argument", {"XXXXXXXXXXXXXXXXG"}, CommandLine::proceed, 1, 38400, "XXXXXXXXXX",
       "X", false, false, true, true, 0.15f, {" portset= F baudset= F and LGFset= T"}},
      // No setting and no type letter: ignored without a message.
      {"ignored argument", {"abc"}, CommandLine::proceed, 1, 38400, "X", "X", false, false, false,
       true, 0.15f, {kEchoFFF}},
      {"any order", {"57600", "gd", "COM7"}, CommandLine::proceed, 7, 57600, "GD", "GD", true, true,
       true, true, 0.15f, {" portset= T baudset= T and LGFset= T"}},
      // An argument starting with "/" names the serial device: the port,
      // never a format, though /dev/ttyUSB0 holds D and S.
      {"device path", {"/dev/ttyUSB0"}, CommandLine::proceed, kDevicePathPort, 38400, "X", "X", true,
       false, false, true, 0.15f, {" portset= T baudset= F and LGFset= F"}},
      {"device path with format and rate",
       {"G", "/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A9X7QLP1-if00-port0", "57600"},
       CommandLine::proceed, kDevicePathPort, 57600, "G", "G", true, true, true, true, 0.15f,
       {" portset= T baudset= T and LGFset= T"}},
      // A fourth argument is the sensor height; 0.25 in G15.7 is "  0.2500000    ".
      {"height", {"X", "COM3", "9600", "0.25"}, CommandLine::proceed, 3, 9600, "X", "X", true, true,
       true, true, 0.25f,
       {" Sensor Height from command line=  0.2500000    ", " portset= T baudset= T and LGFset= T"}},
      {"R alone", {"R"}, CommandLine::usage, 1, 38400, "R", "", false, false, true, true, 0.15f,
       Lines{" portset= F baudset= F and LGFset= T"} + usage_lines("       38400")},
      {"R with a rate", {"r", "9600"}, CommandLine::usage, 1, 9600, "R", "", false, true, true,
       true, 0.15f, Lines{" portset= F baudset= T and LGFset= T"} + usage_lines("        9600")},
      {"too many", {"a", "b", "c", "d", "e"}, CommandLine::too_many, 1, 0, "", "", false, false,
       false, false, 0.4f, {" ERROR: TOO MANY ARGUMENTS"}},
      {"COMX", {"COMX"}, CommandLine::bad_port, 1, 0, "", "", false, false, false, false, 0.4f,
       {" ERROR: NOT A COM PORT NUMBER IN ARGUMENT COMX"}},
      {"com1a", {"X", "com1a"}, CommandLine::bad_port, 1, 0, "X", "", false, false, true, true,
       0.15f, {" ERROR: NOT A COM PORT NUMBER IN ARGUMENT com1a"}},
      // A signed number is no port number either.
      {"COM-1", {"COM-1"}, CommandLine::bad_port, 1, 0, "", "", false, false, false, false, 0.4f,
       {" ERROR: NOT A COM PORT NUMBER IN ARGUMENT COM-1"}},
      // A word with dashes is no format, port or rate: a typo, refused whole
      // (HLEP would otherwise be taken as the formats L and P).
      {"unknown long option", {"--hlep"}, CommandLine::unknown_option, 1, 38400, "X", "", false,
       false, false, false, 0.4f,
       Lines{" ERROR: NOT AN OPTION OF KALFETCH5: --hlep"} + usage_lines("       38400")},
      {"unknown long option after a port", {"COM3", "--csv"}, CommandLine::unknown_option, 3, 38400,
       "X", "", true, false, false, true, 0.15f,
       Lines{" ERROR: NOT AN OPTION OF KALFETCH5: --csv"} + usage_lines("       38400")},
      // A number that is no offered rate says which rate the run uses.
      {"rate not offered", {"X", "COM9", "576000"}, CommandLine::proceed, 9, 38400, "X", "X", true,
       false, true, true, 0.15f,
       {" portset= T baudset= F and LGFset= T",
        " Baud rate 576000 is not offered (1200, 2400, 4800, 9600, 19200, 38400, 57600, 115200):"
        " 38400 is used instead."}},
      {"rate not offered beside an offered one", {"576000", "9600"}, CommandLine::proceed, 1, 9600,
       "X", "X", false, true, false, true, 0.15f,
       {" portset= F baudset= T and LGFset= F",
        " Baud rate 576000 is not offered (1200, 2400, 4800, 9600, 19200, 38400, 57600, 115200):"
        " 9600 is used instead."}},
      // The fourth place is the height: a whole number there is no rate.
      {"whole-number height", {"X", "COM3", "9600", "1"}, CommandLine::proceed, 3, 9600, "X", "X",
       true, true, true, true, 1.0f,
       {" Sensor Height from command line=   1.000000    ", " portset= T baudset= T and LGFset= T"}},
      // "high" holds G, so it is classified as a format before it is read as a height.
      {"height not a number", {"X", "COM3", "9600", "high"}, CommandLine::bad_height, 3, 9600, "HIGH",
       "", true, true, true, true, 0.15f,
       Lines{" ERROR: SENSOR HEIGHT IS NOT A NUMBER: high"} + usage_lines("        9600")},
  };
}

TEST(CommandLine, ClassifiesEveryArgumentAsTheTableSays) {
  for (const Case& c : cases()) {
    SCOPED_TRACE(c.name);
    FakeConsole console;
    session_settings s;
    EXPECT_EQ(read_command_line(c.args, s), c.result);
    EXPECT_EQ(console.lines, c.lines);
    EXPECT_EQ(s.port_number, c.port);
    EXPECT_EQ(s.requested_baud, c.baud);
    EXPECT_EQ(s.format_letters, padded10(c.format_letters));
    EXPECT_EQ(s.transcribe_list, padded10(c.list));
    EXPECT_EQ(s.portset, c.portset);
    EXPECT_EQ(s.baudset, c.baudset);
    EXPECT_EQ(s.LGFset, c.lgfset);
    EXPECT_EQ(s.args_given, c.args_given);
    EXPECT_EQ(s.sensor_height, c.height);
    EXPECT_FALSE(s.raw_open);
  }
}

TEST(CommandLine, DevicePathIsKeptWhole) {
  FakeConsole console;
  session_settings s;
  const std::string by_id = "/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A9X7QLP1-if00-port0";
  ASSERT_EQ(read_command_line({"x", by_id}, s), CommandLine::proceed);
  EXPECT_EQ(s.device_path, by_id);  // case and length as given
  session_settings plain;
  ASSERT_EQ(read_command_line({"COM3"}, plain), CommandLine::proceed);
  EXPECT_EQ(plain.device_path, "");
}

// Help and the version are asked for anywhere on the line, in any case; the
// word HELP without dashes stays a format argument.
TEST(CommandLine, HelpAndVersionRequests) {
  struct Request_case {
    std::vector<std::string> args;
    std::optional<Request> request;
  };
  const Request_case table[] = {
      {{"--help"}, Request::help}, {{"-h"}, Request::help},         {{"-?"}, Request::help},
      {{"/?"}, Request::help},     {{"X", "COM3", "-H"}, Request::help}, {{"--version"}, Request::version},
      {{"help"}, std::nullopt},    {{"/dev/ttyUSB0"}, std::nullopt}, {{}, std::nullopt},
  };
  for (const Request_case& c : table) {
    SCOPED_TRACE(c.args.empty() ? "" : c.args.back());
    EXPECT_EQ(help_or_version(c.args), c.request);
  }
}

TEST(CommandLine, TypeFlagsFollowTheList) {
  FakeConsole console;
  session_settings s;
  ASSERT_EQ(read_command_line({"GLSR"}, s), CommandLine::proceed);
  EXPECT_EQ(s.transcribe_list, "GLS       ");
  EXPECT_FALSE(s.type_x);
  EXPECT_TRUE(s.type_g);
  EXPECT_FALSE(s.type_d);
  EXPECT_TRUE(s.type_l);
  EXPECT_TRUE(s.type_s);
  EXPECT_FALSE(s.type_p);
}

TEST(CommandLine, FreshSettingsHoldTheInitialValues) {
  const session_settings s;
  EXPECT_EQ(s.port_number, 1);
  EXPECT_EQ(s.requested_baud, 0);
  EXPECT_EQ(s.initial_baud, 38400);
  EXPECT_EQ(s.current_baud, 0);
  EXPECT_EQ(s.data_bits, 8);
  EXPECT_EQ(s.parity, 0);
  EXPECT_EQ(s.stop_bits, 0);
  EXPECT_EQ(s.sensor_height, 0.4f);
  EXPECT_EQ(s.raw_base_name, std::string(17, ' '));
  EXPECT_FALSE(s.any_type_flag());
}

TEST(CommandLine, BannerIsFiveLines) {
  FakeConsole console;
  print_banner();
  EXPECT_EQ(console.lines, kBannerLines);
}

struct ClockCase {
  int year, month, day, hour, minute, second;
  const char* base_name;
};

TEST(RawBaseName, IsSeventeenCharactersWithLeadingZeros) {
  const ClockCase table[] = {
      {2026, 12, 8, 14, 30, 15, "XC143015-12082026"},
      {2026, 2, 3, 9, 5, 7, "XC090507-02032026"},
      {1999, 12, 31, 23, 59, 59, "XC235959-12311999"},
      {2030, 1, 1, 0, 0, 0, "XC000000-01012030"},
  };
  for (const ClockCase& c : table) {
    SCOPED_TRACE(c.base_name);
    FakeConsole console;
    console.set_clock(c.year, c.month, c.day, c.hour, c.minute, c.second);
    const std::string name = form_raw_base_name();
    EXPECT_EQ(name, c.base_name);
    EXPECT_EQ(name.size(), 17u);
    session_settings s;
    s.raw_base_name = name;
    EXPECT_EQ(raw_file_name(s), std::string(c.base_name) + ".RAW");
    EXPECT_TRUE(console.lines.empty());
  }
}

}  // namespace
}  // namespace kal

#include "session/session.h"

#include "common/format.h"
#include "console/console.h"
#include "link/instrument_protocol.h"
#include "link/serial_port.h"
#include "session/port_choice.h"
#include "session/sensor_connection.h"
#include "session/sensor_link.h"
#include "session/session_close.h"
#include "session/session_settings.h"
#include "session/upload.h"

namespace kal {
namespace {

class NamedDevice {
 public:
  explicit NamedDevice(const session_settings& s) : port_(s.port_number), named_(!s.device_path.empty()) {
    if (named_) serial_name_device(port_, s.device_path);
  }
  ~NamedDevice() {
    if (named_) serial_name_device(port_, "");
  }
  NamedDevice(const NamedDevice&) = delete;
  NamedDevice& operator=(const NamedDevice&) = delete;

 private:
  std::int32_t port_;
  bool named_;
};

// What a crew needs at hand after the usage text.
constexpr const char* kCrewLines[] = {
    " Run it in the folder the files are to go to: the RAW file XChhmmss-MMDDYYYY.RAW",
    "   (time of the start, then month, day, year) and every transcription land there.",
    " Keys: q ends the search for the sensor, QQ aborts the transfer, y clears the",
    "   sensor's memory after a complete upload, / accepts the sensor height shown.",
    " Exit status: 0 done, 1 command line, 2 port, 3 no sensor, 4 quit, 5 time-out,",
    "   6 transcription, 7 RAW file, 8 sensor header.",
};

// Where help goes on: the installed README and the port names of the system.
#ifdef _WIN32
constexpr const char* kReadMoreLine =
    " More in README.txt beside kalfetch5.exe: the adapter's COM port number is shown by the Device"
    " Manager under \"Ports (COM & LPT)\"; troubleshooting.";
#else
constexpr const char* kReadMoreLine =
    " More in the README (/usr/share/doc/kalfetch5/README.md): ports named by their device"
    " (/dev/ttyUSB0), troubleshooting.";
#endif

}  // namespace

int KALFETCH5(const std::vector<std::string>& args) {
  reset_protocol_state();  // each run starts as the program does
  session_settings s;
  SensorLink link(s);
  Uploader upload(link, s);
  int exit_status = kExitOk;
  SessionClose close(link, s, upload, exit_status);

  if (const auto request = help_or_version(args)) {
    if (*request == Request::version) {
      put_line(version_line());
    } else {
      print_usage(kDefaultRequestedBaud);
      for (const char* line : kCrewLines) put_line(line);
      put_line(kReadMoreLine);
    }
    return kExitOk;
  }
  print_banner();
  switch (read_command_line(args, s)) {
    case CommandLine::proceed:
      break;
    case CommandLine::too_many:
    case CommandLine::bad_port:
    case CommandLine::unknown_option:
      exit_status = kExitBadArguments;
      return close.close(CloseFrom::release);
    case CommandLine::usage:
    case CommandLine::bad_height:
      exit_status = kExitBadArguments;
      return close.close(CloseFrom::restore);
  }

  switch (choose_port(s)) {
    case PortChoice::keep:
    case PortChoice::chosen:
      break;
    case PortChoice::quit:
      exit_status = kExitAborted;
      return close.close(CloseFrom::release);
    case PortChoice::none_chosen:
      exit_status = kExitNoPort;
      return close.close(CloseFrom::release);
  }

  // A port given by its device path opens that device for this run only.
  const NamedDevice device(s);

  s.raw_base_name = form_raw_base_name();
  if (!upload.create_raw(raw_file_name(s))) {
    exit_status = kExitRawFileError;
    return close.close(CloseFrom::restore);
  }
  s.raw_open = true;
  put_line("");

  switch (find_sensor(link, s)) {
    case Probe::found:
      break;
    case Probe::quit:
      exit_status = kExitAborted;
      return close.close(CloseFrom::release);
    case Probe::no_port:
    case Probe::lost:
      exit_status = kExitNoPort;
      return close.close(CloseFrom::release);
    case Probe::no_sensor:
      print_timeout_report();
      exit_status = kExitNoSensor;
      return close.close(CloseFrom::release);
  }
  return close.close(close.after_upload(upload.run()));
}

}  // namespace kal

#include "session/session.h"

#include "common/format.h"
#include "link/console.h"
#include "link/instrument_protocol.h"
#include "session/sensor_connection.h"
#include "session/sensor_link.h"
#include "session/session_close.h"
#include "session/session_settings.h"
#include "session/upload.h"

namespace kal {

int KALFETCH5(const std::vector<std::string>& args) {
  reset_protocol_state();  // each run starts as the program does
  session_settings s;
  SensorLink link(s);
  Uploader upload(link, s);
  int exit_status = kExitOk;
  SessionClose close(link, s, upload, exit_status);

  print_banner();
  switch (read_command_line(args, s)) {
    case CommandLine::proceed:
      break;
    case CommandLine::too_many:
    case CommandLine::bad_port:
      exit_status = kExitBadArguments;
      return close.close(CloseFrom::release);
    case CommandLine::usage:
    case CommandLine::bad_height:
      exit_status = kExitBadArguments;
      return close.close(CloseFrom::restore);
  }

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

#include "session/port_choice.h"

#include <string>

#include "common/fixed_text.h"
#include "common/format.h"
#include "console/console.h"

namespace kal {
namespace {

void use(session_settings& s, const SerialPortChoice& port) {
  if (port.device_path.empty()) {
    s.port_number = port.port;
  } else {
    s.port_number = kDevicePathPort;
    s.device_path = port.device_path;
  }
}

void list_ports(const std::vector<SerialPortChoice>& present) {
  for (std::size_t i = 0; i < present.size(); ++i)
    put_line("   " + fmt::I(static_cast<std::int32_t>(i + 1), 2) + "  " + present[i].label);
}

// The operator's pick: a number of the list or q. Asks again after anything
// else; the end of input is a quit.
PortChoice ask_for_pick(session_settings& s, const std::vector<SerialPortChoice>& present) {
  const auto count = static_cast<std::int32_t>(present.size());
  for (;;) {
    put_line(" Type the number of the sensor's port and press Enter (q quits):");
    std::string reply;
    if (!console().read_line(reply)) return PortChoice::quit;
    const std::string_view answer = trimmed(reply);
    if (answer == "q" || answer == "Q") return PortChoice::quit;
    std::int32_t picked = 0;
    if (fmt::read_free_int(answer, picked) == fmt::FreeRead::value && picked >= 1 && picked <= count) {
      use(s, present[static_cast<std::size_t>(picked - 1)]);
      put_line(" Using " + present[static_cast<std::size_t>(picked - 1)].label + ".");
      return PortChoice::chosen;
    }
    put_line(" Not a number of the list: 1 to " + fmt::I(count, 0) + ".");
  }
}

}  // namespace

PortChoice pick_port(session_settings& s, const std::vector<SerialPortChoice>& present) {
  // With no port at all, the connect failure on COM1 reports it as before.
  if (present.empty()) return PortChoice::keep;
  const std::string default_label = serial_port_label(s.port_number);
  if (present.size() == 1) {
    use(s, present.front());
    put_line(" No port given and " + default_label + " is no serial port here: using " +
             present.front().label + ", the only one.");
    return PortChoice::chosen;
  }
  put_line(" No port given and " + default_label + " is no serial port here. Serial ports on this machine:");
  list_ports(present);
  if (!KEYS_CAN_ARRIVE()) {
    put_line(" Name the sensor's port on the command line, such as: kalfetch5 X " + present.front().label);
    return PortChoice::none_chosen;
  }
  return ask_for_pick(s, present);
}

PortChoice choose_port(session_settings& s) {
  if (s.portset || serial_port_has_hardware(s.port_number)) return PortChoice::keep;
  return pick_port(s, serial_ports_with_hardware());
}

}  // namespace kal

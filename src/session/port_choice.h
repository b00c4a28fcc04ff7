// The port of a run whose command line names none. COM1 is used as always
// when it is a serial port with hardware behind it. Otherwise (a laptop
// without COM1, or with a placeholder ttyS0) the serial ports present are
// looked at: one is used, with a line naming it; of several the operator
// picks one on a terminal, and a run without a terminal lists them and ends.
// The ports are never tried in turn: another device may hang on one.
#pragma once

#include <vector>

#include "link/serial_port.h"
#include "session/session_settings.h"

namespace kal {

enum class PortChoice {
  keep,        // the port of the settings (named, or COM1, or none to offer instead)
  chosen,      // the settings now hold the port found or picked
  quit,        // the operator typed q at the pick
  none_chosen  // several ports and nobody to pick one (list printed)
};

// Decides with the ports `present` (the serial ports with hardware) when
// neither a port was named nor the default has hardware, printing what the
// operator needs; updates `settings` on `chosen`.
PortChoice pick_port(session_settings& settings, const std::vector<SerialPortChoice>& present);

// The whole rule: the named port or a COM1 with hardware is kept; otherwise
// pick_port with the serial ports of this machine.
PortChoice choose_port(session_settings& settings);

}  // namespace kal

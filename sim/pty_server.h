// The simulated sensor's serial line: a pseudo-terminal whose slave is
// published as <dir>/COM<n>, served by one poll loop until SIGTERM/SIGINT or
// the hang-up fault.
#pragma once

#include <string>

#include "sensor.h"
#include "sim_options.h"
#include "trace.h"

namespace kal::sim {

// Runs the whole simulator; returns the process exit status (0 after a
// signal or the hang-up fault, 1 when the line cannot be set up).
int run_simulator(const SimOptions& options, Sensor& sensor, Trace& trace);

}  // namespace kal::sim

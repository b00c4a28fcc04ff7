// kalvor-sim: a simulated Kalvor sensor on a pseudo-terminal, for trying the
// program without a sensor, for the end-to-end tests and for the demo.
#include <cstdio>
#include <string>

#include "builtin_survey.h"
#include "pty_server.h"
#include "sensor.h"
#include "sensor_memory.h"
#include "sim_options.h"
#include "trace.h"

int main(int argc, char** argv) {
  using namespace kal::sim;
  SimOptions options;
  std::string error;
  if (!parse_options(argc, argv, options, error)) {
    std::fprintf(stderr, "kalvor-sim: %s (see --help)\n", error.c_str());
    return 2;
  }
  if (options.help) {
    std::fputs(usage_text().c_str(), stdout);
    return 0;
  }
  SensorMemory memory;
  if (options.memory_file.empty()) {
    memory.load_lines(builtin_survey(options.builtin_lines));
  } else if (!memory.load_file(options.memory_file, error)) {
    std::fprintf(stderr, "kalvor-sim: %s\n", error.c_str());
    return 2;
  }
  Trace trace;
  if (!options.trace_file.empty() && !trace.open(options.trace_file, error)) {
    std::fprintf(stderr, "kalvor-sim: %s\n", error.c_str());
    return 2;
  }
  Sensor sensor(options, memory);
  return run_simulator(options, sensor, trace);
}

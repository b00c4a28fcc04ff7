// Finding the sensor: the port is connected and the sensor is queried at
// each baud rate in turn until it answers.
#pragma once

#include "session/sensor_link.h"
#include "session/session_settings.h"

namespace kal {

enum class Probe { found, quit, no_port, no_sensor, lost };

// Searches the rates; on `found` the port is connected and
// `settings.initial_baud` is the rate the sensor answered at.
Probe find_sensor(SensorLink& link, session_settings& settings);

}  // namespace kal

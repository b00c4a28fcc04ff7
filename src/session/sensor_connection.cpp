#include "session/sensor_connection.h"

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "common/format.h"
#include "console/console.h"
#include "link/instrument_protocol.h"

namespace kal {
namespace {

constexpr std::array<std::int32_t, 8> kProbeOrder = {38400, 9600, 57600, 115200,
                                                     19200, 4800,  2400,  1200};
// A sensor whose port refuses every purge is reconnected at most this often
// per rate before the next rate is tried.
constexpr int kMaxColdRestarts = 10;
constexpr int kPowerUpPolls = 1000;
constexpr std::int32_t kPowerUpSleepMs = 10;
constexpr std::uint32_t kReadIntervalMs = 2;
constexpr std::uint32_t kWriteMultiplier = 0;
constexpr std::uint32_t kWriteConstantMs = 1000;

void print_power_up_advice() {
  put_line("");
  put_line("Please ensure that Sensor is powered up.");
  put_line("  Power LED should be GREEN, and");
  put_line("  Transmit LED should have flashed GREEN at least once");
  put_line("If Sensor NOT powered up, then");
  put_line("   -> Click on this window to make it active,");
  put_line("   -> Press Q or q to quit, and");
  put_line("   -> Restart KALFETCH after powering up Sensor.");
  put_line("");
}

bool power_up_wait_quit() {
  for (int i = 0; i < kPowerUpPolls; ++i) {
    SLEEP_MS(kPowerUpSleepMs);
    if (quit_key_pressed()) return true;
  }
  return false;
}

Retry set_up_line(SensorLink& link, session_settings& s, std::int32_t rate) {
  Retry r = link.purge("Error MCIO1");
  if (r != Retry::done) return r;
  r = link.retry("Error MSS", [&] {
    return SERIAL_SET_STATE(&s.port_number, &rate, &s.parity, &s.data_bits, &s.stop_bits);
  });
  if (r != Retry::done) return r;
  return link.retry("Error MST", [&] {
    return SERIAL_SET_TIMEOUTS(&s.port_number, &kReadIntervalMs, &kWriteMultiplier,
                               &kWriteConstantMs);
  });
}

// What the operator can do about a port that would not open, and the
// ports there are to choose from.
void print_port_advice(std::int32_t status) {
  put_line(" The port could not be opened: " + serial_error_text(status) + " (error " + fmt::I(status, 0) + ")");
  if (const std::string advice = serial_open_advice(status); !advice.empty()) put_line(" " + advice);
  const std::vector<std::string> ports = serial_ports_present();
  if (ports.empty()) {
    put_line(" No serial port was found on this machine.");
    return;
  }
  put_line(" Serial ports on this machine:");
  for (const std::string& port : ports) put_line("   " + port);
}

void print_connect_failure(const session_settings& s, std::int32_t status) {
  put_line("");
  put_line("Error in KALFETCH5:");
  fmt::FreeLine failed;
  if (s.device_path.empty()) {
    failed.text("Failed to logically connect to PC comm port #").i32(s.port_number);
  } else {
    failed.text("Failed to logically connect to serial device ").text(s.device_path);
  }
  put_line(failed.text(", Error#").i32(status).str());
  put_line("");
  put_line(" This message usually means that your USB-Serial adapter is not plugged into");
  put_line(" a USB port or that the COM port that your USB-Serial adapter is set up to use");
  put_line(" is not the same COM port that you have selected, either directly in your ");
  put_line(" command line or indirectly by not specifying a COM port (in which case, ");
  put_line(" COM1 is assumed.)");
  put_line("");
  put_line("");
  print_port_advice(status);
}

// Clear sequence, a pause, draining, then the query; the query's result, or
// the clear's when the operator quit or the link died inside it.
std::int32_t query_sensor(session_settings& s) {
  std::string reply(kLineLength, ' ');
  const std::int32_t cleared = KALVOR_CLEAR(s.port_number, reply);
  if (cleared != 0) return cleared;
  SLEEP_MS(1000);
  KALVOR_READ_DATA(s.port_number, reply);
  return KALVOR_QUERY(s.port_number, reply);
}

}  // namespace

Probe find_sensor(SensorLink& link, session_settings& s) {
  for (const std::int32_t rate : kProbeOrder) {
    put_line(fmt::FreeLine().text("Testing for connection at baud rate of").i32(rate).str());
    int reinit_count = 0;
    int connect_failures = 0;
    int cold_restarts = 0;
    for (;;) {
      std::int32_t status = kSerialOk;
      if (!link.connect(connect_failures, status)) {
        print_connect_failure(s, status);
        SLEEP_MS(2000);
        return Probe::no_port;
      }
      print_power_up_advice();
      if (power_up_wait_quit()) return Probe::quit;
      switch (set_up_line(link, s, rate)) {
        case Retry::done:
          break;
        case Retry::quit:
          return Probe::quit;
        case Retry::lost:
          return Probe::lost;
      }
      put_line("Waiting for reply from Sensor.");
      put_line("May take 10s from cold off state.");
      put_line(" ");

      const std::int32_t result = query_sensor(s);
      if (result == kQueryAnswered) {
        put_line(fmt::FreeLine()
                     .text("Instrument detected, communicating at initial baud rate of ")
                     .i32(rate)
                     .str());
        s.initial_baud = rate;
        return Probe::found;
      }
      if (result == kQueryOperatorQuit) return Probe::quit;
      if (result == kLinkLost) {  // the routine named port and error
        link.mark_lost();
        return Probe::lost;
      }
      link.release();
      if (result == kQueryPortRefused) {
        if (++cold_restarts <= kMaxColdRestarts) {
          put_line("Cold start, try again...");
          continue;
        }
        put_line("Trying next baud rate");
        break;
      }
      if (++reinit_count == 1) {
        put_line("Re-initializing...");
        continue;
      }
      put_line("Trying next baud rate");
      break;
    }
  }
  return Probe::no_sensor;
}

}  // namespace kal

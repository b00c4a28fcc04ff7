// The sensor's serial port as the session uses it: connected or not, lost
// or not, and the retry rule every serial operation of the session follows.
#pragma once

#include <cstdint>
#include <string_view>

#include "link/instrument_protocol.h"
#include "link/serial_port.h"
#include "session/session_settings.h"

namespace kal {

enum class Retry { done, quit, lost };

// Takes a waiting key, if any; true when it is q or Q.
bool quit_key_pressed();

class SensorLink {
 public:
  explicit SensorLink(session_settings& settings) : s_(settings) {}

  // Runs `operation` until it succeeds. A failure prints the error-retry
  // line and is tried again at once; q ends the retries, and so do a dead
  // device or too many failures in a row (the link is then lost).
  template <class Operation>
  Retry retry(std::string_view tag, Operation operation);

  Retry write_bytes(std::string_view tag, std::string_view bytes);
  Retry purge(std::string_view tag);
  // Asks the sensor to move to `baud`, once more when the first try fails.
  std::int32_t change_baud(std::int32_t baud);
  // Connects the port; false after too many refused attempts (`status`
  // holds the last refusal).
  bool connect(int& connect_failures, std::int32_t& status);
  // Releases the port (also when it was never connected); the status of
  // the release.
  std::int32_t release();

  // The "Lost the link" line; the link counts as lost from now on.
  void report_lost(std::int32_t status);
  void mark_lost() { lost_ = true; }
  bool lost() const { return lost_; }
  bool connected() const { return connected_; }

 private:
  session_settings& s_;
  bool connected_ = false;
  bool lost_ = false;
};

// A serial operation that fails this many times in a row, at once, with an
// error that does not say the device is gone, is given up all the same: a
// session run from a script must not spin forever printing retry lines.
inline constexpr int kRetryLimit = 10;

template <class Operation>
Retry SensorLink::retry(std::string_view tag, Operation operation) {
  for (int failures = 0;;) {
    const std::int32_t status = operation();
    if (status == kSerialOk) return Retry::done;
    if (serial_link_dead(status)) {
      report_lost(status);
      return Retry::lost;
    }
    print_retry_line(tag, status, s_.port_number);
    if (quit_key_pressed()) return Retry::quit;
    if (++failures >= kRetryLimit) {
      report_lost(status);
      return Retry::lost;
    }
  }
}

}  // namespace kal

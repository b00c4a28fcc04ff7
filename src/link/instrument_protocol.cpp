// The sensor's command protocol: the four link routines on top of the
// serial-port service, paced by SLEEP_MS.
//
// Retry loops that the routines run without a bound (the purge and writes of
// KALVOR_CLEAR, the query write and the line read of KALVOR_QUERY) keep going
// while the port merely refuses (for at most a minute when standard input is
// not a terminal), but:
//  - between tries a waiting key is taken, and q or Q leaves the loop with
//    kQueryOperatorQuit;
//  - a status that means the device is gone (serial_link_dead) ends the loop
//    with one line naming the port and the error, and kLinkLost.
#include "link/instrument_protocol.h"

#include <chrono>
#include <cstring>

#include "common/fixed_text.h"
#include "common/format.h"
#include "console/console.h"
#include "link/serial_port.h"

namespace kal {
namespace {

// Kept between calls, as at program start.
std::int32_t last_baud_code = 0;  // KALVOR_CHANGE_BAUD
std::int32_t poll_count = 0;      // KALVOR_QUERY

constexpr std::int32_t kReadDataPolls = 100;
constexpr std::int32_t kReadDataPollMs = 25;
constexpr std::int32_t kDrainPolls = 100;
constexpr std::int32_t kPaceMs = 100;
constexpr std::int32_t kQueryQuitBudget = 10;
constexpr std::int32_t kQueryPurgeTries = 10;
constexpr std::int32_t kQueryPollLimit = 20;
constexpr std::int32_t kGetStateTries = 100;
constexpr std::int32_t kBaudAttempts = 10;
constexpr std::int32_t kReplyLength = 12;
constexpr std::chrono::seconds kUnattendedLimit{60};

// Tags of the loops that print nothing while they retry; they only appear
// in the link-lost line.
constexpr std::string_view kQueryWriteTag = "Error QWD";
constexpr std::string_view kQueryReadTag = "Error QRL";

void pause(std::int32_t milliseconds) { SLEEP_MS(milliseconds); }

// Takes a waiting key, if any; true when it is q or Q.
bool operator_wants_out() {
  if (!KEY_WAITING()) return false;
  char key = ' ';
  GET_KEY(key);
  return key == 'q' || key == 'Q';
}

// " on port COM" and the number in free form, or " on port " and the device
// the port was given.
fmt::FreeLine& on_port(fmt::FreeLine& line, std::int32_t port) {
  const std::string device = serial_named_device(port);
  return device.empty() ? line.text(" on port COM").i32(port) : line.text(" on port ").text(device);
}

void print_link_lost(std::string_view tag, std::int32_t status, std::int32_t port) {
  fmt::FreeLine line;
  line.text(tag);
  put_line(on_port(line, port)
               .text(": link lost, error")
               .i32(status)
               .text(" (")
               .text(serial_error_text(status))
               .text(")")
               .str());
}

// Repeats `attempt` until it succeeds. After each failure: the error-retry
// line when `print_retries`, then the dead-link and operator checks. With
// nobody at a terminal to press q, a port that keeps refusing for a minute
// counts as lost.
template <typename Attempt>
std::int32_t retry_until_done(std::int32_t port, std::string_view tag, bool print_retries,
                              Attempt attempt) {
  const auto started = std::chrono::steady_clock::now();
  for (;;) {
    const std::int32_t status = attempt();
    if (status == 0) return 0;
    const bool given_up = !KEYS_CAN_ARRIVE() && std::chrono::steady_clock::now() - started > kUnattendedLimit;
    if (serial_link_dead(status) || given_up) {
      print_link_lost(tag, status, port);
      return kLinkLost;
    }
    if (print_retries) print_retry_line(tag, status, port);
    if (operator_wants_out()) return kQueryOperatorQuit;
  }
}

std::int32_t send_bytes(std::int32_t& port, std::string_view bytes) {
  std::int32_t count = static_cast<std::int32_t>(bytes.size());
  return SERIAL_WRITE(&port, bytes, &count);
}

std::string_view frame(const char* bytes, std::size_t n) { return std::string_view(bytes, n); }

// Reads and discards pending lines, one every 100 ms, until none is ready.
void drain_lines(std::int32_t& port) {
  std::string scratch(kLineLength, ' ');
  for (std::int32_t i = 0; i < kDrainPolls; ++i) {
    pause(kPaceMs);
    std::int32_t ready = 0;
    std::int32_t count = 0;
    if (SERIAL_PEEK_LINE(&port, &ready, &count) != 0 || ready == 0) return;
    SERIAL_READ(&port, scratch.data(), kLineLength, &count);
  }
}

// Position of `baud` in the baud-code table, or -1.
std::int32_t baud_code_of(std::int32_t baud) {
  for (std::int32_t code = 0; code < 8; ++code)
    if (kBaudCodeTable[code] == baud) return code;
  return -1;
}

}  // namespace

void reset_protocol_state() {
  last_baud_code = 0;
  poll_count = 0;
}

bool is_sensor_reply(std::string_view line) {
  if (line.size() < static_cast<std::size_t>(kReplyLength)) return false;
  const std::string_view head = line.substr(0, kReplyLength);
  return head == "KALVOR READY" || head == "KALVOR REPLY";
}

void print_retry_line(std::string_view tag, std::int32_t status, std::int32_t port) {
  fmt::FreeLine line;
  line.text(tag).i32(status);
  put_line(on_port(line, port).text(": retry...").str());
}

std::int32_t KALVOR_READ_DATA(std::int32_t& port, std::string& buffer) {
  std::string scratch(kLineLength, ' ');
  for (std::int32_t i = 0; i < kReadDataPolls; ++i) {
    pause(kReadDataPollMs);
    std::int32_t ready = 0;
    std::int32_t count = 0;
    if (SERIAL_PEEK_LINE(&port, &ready, &count) != 0 || ready == 0) continue;
    SERIAL_READ(&port, scratch.data(), kLineLength, &count);
    buffer = scratch;
    put_line(fmt::FreeLine().text(">(sensor I/O)").str());
  }
  return 0;
}

std::int32_t KALVOR_CLEAR(std::int32_t& port, std::string& /*buffer*/) {
  drain_lines(port);
  pause(kPaceMs);
  std::int32_t result =
      retry_until_done(port, "Error CCIO3", true, [&] { return SERIAL_PURGE(&port); });
  if (result != 0) return result;
  result = retry_until_done(port, "Error \"4\" command", true,
                            [&] { return send_bytes(port, "4"); });
  if (result != 0) return result;
  return retry_until_done(port, "Error CCWD", true,
                          [&] { return send_bytes(port, "\xEE\xEE"); });
}

std::int32_t KALVOR_QUERY(std::int32_t& port, std::string& reply) {
  std::int32_t quit_budget = kQueryQuitBudget;
  std::string scratch(kLineLength, ' ');
  bool drain_first = true;  // restart point A (drain) or B (query again)
  for (;;) {
    if (drain_first) KALVOR_READ_DATA(port, scratch);
    drain_first = false;

    pause(kPaceMs);
    bool purged = false;
    for (std::int32_t i = 0; i < kQueryPurgeTries && !purged; ++i)
      purged = SERIAL_PURGE(&port) == 0;
    if (!purged) return kQueryPortRefused;

    std::int32_t result = retry_until_done(
        port, kQueryWriteTag, false, [&] { return send_bytes(port, frame(kQueryFrame, 3)); });
    if (result != 0) return result;
    pause(kPaceMs);

    bool line_ready = false;
    while (!line_ready) {
      std::int32_t ready = 0;
      std::int32_t count = 0;
      const std::int32_t status = SERIAL_PEEK_LINE(&port, &ready, &count);
      pause(kPaceMs);
      if (status == 0 && ready != 0) {
        line_ready = true;
        break;
      }
      if (KEY_WAITING()) {
        char key = ' ';
        GET_KEY(key);
        if (key == 'q' || key == 'Q') {
          // Ten presses without a reply: the sensor was not found. This is
          // reported as such, never as an answer.
          if (--quit_budget <= 0) return kQueryOperatorQuit;
          drain_first = true;
          break;
        }
      }
      if (++poll_count > kQueryPollLimit) {
        poll_count = 0;
        return kQueryNoReply;
      }
    }
    if (!line_ready) continue;

    result = retry_until_done(port, kQueryReadTag, false, [&] {
      std::int32_t count = 0;
      return SERIAL_READ(&port, scratch.data(), kLineLength, &count);
    });
    if (result != 0) return result;
    reply = scratch;
    if (is_sensor_reply(reply)) return kQueryAnswered;
  }
}

std::int32_t KALVOR_CHANGE_BAUD(std::int32_t& port, std::int32_t new_baud,
                                std::int32_t& current_baud) {
  drain_lines(port);

  std::int32_t parity = 0;
  std::int32_t data_bits = 0;
  std::int32_t stop_bits = 0;
  for (std::int32_t failures = 0;
       SERIAL_GET_STATE(&port, &current_baud, &parity, &data_bits, &stop_bits) != 0;) {
    if (++failures >= kGetStateTries) return 1;
    pause(kPaceMs);
  }
  if (data_bits == 0) data_bits = 8;

  const std::int32_t code = baud_code_of(new_baud);
  if (code >= 0) last_baud_code = code;
  const char set_baud[4] = {'\xAA', '\x81', static_cast<char>(last_baud_code), '\x55'};

  std::string scratch(kLineLength, ' ');
  KALVOR_READ_DATA(port, scratch);

  for (std::int32_t attempt = 0; attempt < kBaudAttempts; ++attempt) {
    // The statuses of this exchange are not tested: a failure shows as a
    // missing reply, and the old rate is then restored.
    send_bytes(port, frame(set_baud, 4));
    pause(kPaceMs);
    SERIAL_PURGE(&port);
    SERIAL_SET_STATE(&port, &new_baud, &parity, &data_bits, &stop_bits);
    pause(kPaceMs);

    const std::int32_t cleared = KALVOR_CLEAR(port, scratch);
    if (cleared == 0) {
      send_bytes(port, frame(kQueryFrame, 3));
      pause(kPaceMs);
      std::string reply(kLineLength, ' ');
      KALVOR_READ_DATA(port, reply);
      if (is_sensor_reply(reply)) {
        put_line(fmt::FreeLine().text(">Sensor baud rate changed to ").i32(new_baud).str());
        return 0;
      }
    }
    SERIAL_PURGE(&port);
    SERIAL_SET_STATE(&port, &current_baud, &parity, &data_bits, &stop_bits);
    pause(kPaceMs);
    // The operator left, or the link died, inside the clear sequence: the
    // port is back at its old rate and no further attempt can help.
    if (cleared != 0) return cleared;
  }
  put_line(fmt::FreeLine()
               .text("Failure to set baud rate to ")
               .i32(new_baud)
               .text(", current baud rate=")
               .i32(current_baud)
               .str());
  return 1;
}

}  // namespace kal

// The sensor's command frames and the four link routines built on the
// serial-port service. Lines received from the sensor are 256-character
// blank-padded texts.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace kal {

inline constexpr int kLineLength = 256;

// Frames and single-byte commands sent to the sensor.
inline constexpr char kQueryFrame[] = {'\xAA', '\x80', '\x55'};
inline constexpr char kStartUploadFrame[] = {'\xAA', '\x90', '\x55'};
inline constexpr char kClearMemoryFrame[] = {'\xAA', '\x91', '\x19', '\x55'};
inline constexpr char kShutDownFrame[] = {'\xAA', '\x85', '\x55'};
inline constexpr char kNextCommand = 'N';
inline constexpr char kRepeatCommand = 'R';

// Baud-rate codes of the set-baud-rate frame: code = index in this table.
inline constexpr std::int32_t kBaudCodeTable[8] = {1200, 2400, 4800, 9600,
                                                   19200, 38400, 57600, 115200};

// Results of the link routines.
inline constexpr std::int32_t kQueryAnswered = 0;
inline constexpr std::int32_t kQueryPortRefused = 1;
inline constexpr std::int32_t kQueryNoReply = 6;
// The operator pressed q ten times without any reply: the sensor was not
// found and the operator wants to stop.
inline constexpr std::int32_t kQueryOperatorQuit = 7;
// A retry loop met a dead port (device error): the link is gone.
inline constexpr std::int32_t kLinkLost = 9;

// True when the first 12 characters are exactly "KALVOR READY" or
// "KALVOR REPLY".
bool is_sensor_reply(std::string_view line);

// The error-retry console line: tag, status, " on port COM", port, ": retry...".
void print_retry_line(std::string_view tag, std::int32_t status, std::int32_t port);

// Clears the kept values (last baud code, poll count) as at program start.
void reset_protocol_state();

// The retry loops without a bound (purge and writes of KALVOR_CLEAR, query
// write and line read of KALVOR_QUERY) end with kQueryOperatorQuit when the
// operator presses q or Q between tries, and with kLinkLost (after one line
// naming the port and the error) when the device is gone. KALVOR_CHANGE_BAUD
// passes these on from its KALVOR_CLEAR, with the port back at its old rate.
std::int32_t KALVOR_READ_DATA(std::int32_t& port, std::string& buffer);
std::int32_t KALVOR_CLEAR(std::int32_t& port, std::string& buffer);
std::int32_t KALVOR_QUERY(std::int32_t& port, std::string& reply);
std::int32_t KALVOR_CHANGE_BAUD(std::int32_t& port, std::int32_t new_baud,
                                std::int32_t& current_baud);

}  // namespace kal

// Serial-port service: one record per connected port, a reader thread per
// port that moves received bytes into a 16,384-byte ring, and line-oriented
// reads from that ring.
//
// Every operation takes the port number by pointer (a null pointer is a
// missing argument) and returns a status: 0 for success, a fixed code below,
// or the platform's error number (errno on POSIX, GetLastError on Windows).
// Optional arguments are pointers too; a null pointer leaves that setting
// unchanged (or that output unwritten). Nothing here prints.
//
// Port names: on POSIX port n is $KALFETCH_PORT_DIR/COM<n> when that variable
// is set, else /dev/ttyS<n-1>; on Windows it is "COM<n>:" (ports 10 and up:
// "\\.\COM<n>", the only form Windows opens for them).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace kal {

// Fixed status codes.
inline constexpr std::int32_t kSerialOk = 0;
inline constexpr std::int32_t kSerialReaderRunning = 1;  // settings changed while reading
inline constexpr std::int32_t kSerialNoMemory = 8;
inline constexpr std::int32_t kSerialReaderKilled = 12;  // reader did not stop within 10 s
inline constexpr std::int32_t kSerialShortWrite = 29;
inline constexpr std::int32_t kSerialBadPort = 87;

// Line-ending option bits.
inline constexpr std::uint32_t kStripCr = 1;
inline constexpr std::uint32_t kStripLf = 2;
inline constexpr std::uint32_t kCrEndsLine = 4;
inline constexpr std::uint32_t kLfEndsLine = 8;
inline constexpr std::uint32_t kDefaultOptions = 23;

inline constexpr std::int32_t kRingSize = 16384;
inline constexpr std::int32_t kChunkSize = 2048;

std::int32_t SERIAL_CONNECT(const std::int32_t* port, const std::uint32_t* options = nullptr);
std::int32_t SERIAL_RELEASE(const std::int32_t* port);
std::int32_t SERIAL_GET_STATE(const std::int32_t* port, std::int32_t* baud, std::int32_t* parity,
                              std::int32_t* data_bits, std::int32_t* stop_bits);
std::int32_t SERIAL_SET_STATE(const std::int32_t* port, const std::int32_t* baud,
                              const std::int32_t* parity, const std::int32_t* data_bits,
                              const std::int32_t* stop_bits);
std::int32_t SERIAL_SET_TIMEOUTS(const std::int32_t* port, const std::uint32_t* read_interval,
                                 const std::uint32_t* write_multiplier,
                                 const std::uint32_t* write_constant);
// Sends `count` bytes of `text` when count is given and non-zero, else the
// text without trailing blanks; stores the number sent into `count`.
std::int32_t SERIAL_WRITE(const std::int32_t* port, std::string_view text, std::int32_t* count);
// Reads up to `capacity` bytes or one line into `buffer` (blank-filled to
// capacity); `count` receives the number of bytes stored.
std::int32_t SERIAL_READ(const std::int32_t* port, char* buffer, std::int32_t capacity,
                         std::int32_t* count);
// The same, but never waits: takes only bytes already received (none when
// none came). The count of SERIAL_UNREAD can include bytes still on their
// way from the driver, so a caller that must not block reads with this.
std::int32_t SERIAL_READ_RECEIVED(const std::int32_t* port, char* buffer, std::int32_t capacity,
                                  std::int32_t* count);
std::int32_t SERIAL_PEEK_LINE(const std::int32_t* port, std::int32_t* line_ready,
                              std::int32_t* count);
std::int32_t SERIAL_PURGE(const std::int32_t* port);
// The number of received bytes not yet read (in the ring or still in the
// driver), and the microseconds since the reader last delivered any (since
// it started, when none came yet; 0 while the driver holds bytes): tells a
// caller whether the sensor is still sending. Starts the reader if none
// runs; a reader that ended with an error returns it once the ring is empty.
std::int32_t SERIAL_UNREAD(const std::int32_t* port, std::int32_t* unread, std::int64_t* quiet_us);

// The device path or name of port n (see above, or the device given to it
// with serial_name_device).
std::string serial_device_name(std::int32_t port);

// Makes port n open the device `path` (such as /dev/ttyUSB0 or a
// /dev/serial/by-id/ name) instead of its COM name; an empty path undoes it.
void serial_name_device(std::int32_t port, std::string path);
// The device given to port n, empty when it has none.
std::string serial_named_device(std::int32_t port);
// How messages name port n: its device when it was given one, else "COM<n>".
std::string serial_port_label(std::int32_t port);

// The serial ports this machine has, one line each, for an operator looking
// for the right one (Linux: /dev/serial/by-id/ names with the device each
// names, then /dev/ttyUSB* and /dev/ttyACM*; with KALFETCH_PORT_DIR the COM
// entries there; Windows: the COM ports the system lists). Empty when none.
std::vector<std::string> serial_ports_present();

// A serial port the operator could mean when none is named: how to open
// it and how to show it.
struct SerialPortChoice {
  std::int32_t port = 0;    // its number; 0 for a device known by its path only
  std::string device_path;  // the device (POSIX), empty when the number names it
  std::string label;        // "COM3", "/dev/ttyUSB0"
};

// Whether port n is a serial port with hardware behind it: its device
// exists and its driver does not report it as a placeholder (Linux: a
// ttyS port of type "unknown"; Windows: listed under SERIALCOMM). Nothing
// is opened.
bool serial_port_has_hardware(std::int32_t port);

// The serial ports with hardware, in the order shown to the operator
// (POSIX: the COM entries of KALFETCH_PORT_DIR when it is set, else
// /dev/ttyUSB*, /dev/ttyACM*, /dev/ttyS*; Windows: the SERIALCOMM ports by
// number). Nothing is opened.
std::vector<SerialPortChoice> serial_ports_with_hardware();

// A short description of a status: the service's own codes in words of
// their own, a platform error number by the system (strerror / FormatMessage).
std::string serial_error_text(std::int32_t status);

// One line of advice for a port that would not open with `status` (no
// right to it, in use by another program); empty when there is none.
std::string serial_open_advice(std::int32_t status);

// True when a status means the device itself is gone or broken (a hang-up,
// an unplugged adapter, a closed handle), so retrying cannot help.
bool serial_link_dead(std::int32_t status);

}  // namespace kal

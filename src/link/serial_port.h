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
std::int32_t SERIAL_PEEK_LINE(const std::int32_t* port, std::int32_t* line_ready,
                              std::int32_t* count);
std::int32_t SERIAL_PURGE(const std::int32_t* port);

// The device path or name of port n (see above).
std::string serial_device_name(std::int32_t port);

// A short description of a platform error number (strerror / FormatMessage).
std::string serial_error_text(std::int32_t status);

// True when a status means the device itself is gone or broken (a hang-up,
// an unplugged adapter, a closed handle), so retrying cannot help.
bool serial_link_dead(std::int32_t status);

}  // namespace kal

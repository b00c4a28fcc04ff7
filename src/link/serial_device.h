// The platform layer under the serial-port service: one open serial device
// and the reader thread. serial_port.cpp holds everything that is the same on
// every platform (port table, records, ring, line-end rules); the backends
// (serial_port_posix.cpp, serial_port_win32.cpp) implement this interface.
// Every call returns 0 or the platform's error number.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>

namespace kal::serial_detail {

// Line settings in the service's codes: parity 0 none, 1 odd, 2 even,
// 3 mark, 4 space; stop bits 0 one, 1 one and a half, 2 two.
struct LineSettings {
  std::int32_t baud = 0;
  std::int32_t parity = 0;
  std::int32_t data_bits = 0;
  std::int32_t stop_bits = 0;
};

// Time-outs in milliseconds, with the meaning of the Windows serial
// interface (a total of 0 and 0 means "no total time-out").
struct Timeouts {
  std::uint32_t read_interval = 100;
  std::uint32_t read_total_multiplier = 0;
  std::uint32_t read_total_constant = 200;
  std::uint32_t write_total_multiplier = 0;
  std::uint32_t write_total_constant = 1000;
};

class SerialDevice {
 public:
  virtual ~SerialDevice() = default;

  // Aborts pending transfers and clears both queues.
  virtual std::int32_t purge_all() = 0;
  virtual std::int32_t get_line(LineSettings& settings) = 0;
  virtual std::int32_t set_line(const LineSettings& settings) = 0;
  virtual std::int32_t get_timeouts(Timeouts& timeouts) = 0;
  virtual std::int32_t set_timeouts(const Timeouts& timeouts) = 0;
  // Sends n bytes within the write time-outs; `sent` receives what went out.
  virtual std::int32_t write(const char* data, std::int32_t n, std::int32_t& sent) = 0;
  // Bytes the driver has received that no read has taken yet.
  virtual std::int32_t input_waiting(std::int32_t& count) = 0;

  // ---- used by the reader thread only ----
  // Applies the read total time-outs for the reader and prepares its I/O.
  virtual std::int32_t reader_begin(std::uint32_t total_multiplier,
                                    std::uint32_t total_constant) = 0;
  // One read of up to `capacity` bytes; got = 0 when the read time-out
  // passed or the reader was interrupted. A non-zero result ends the reader.
  virtual std::int32_t reader_read(char* buffer, std::int32_t capacity, std::int32_t& got) = 0;
  virtual void reader_end() = 0;

  // ---- used by the owner ----
  // Makes a pending reader_read return at once and clears the receive queue.
  virtual void interrupt_reader() = 0;
  // Closes the device; later calls fail.
  virtual std::int32_t close() = 0;
};

// Opens port n exclusively for reading and writing, in raw mode.
std::int32_t open_serial_device(std::int32_t port, std::unique_ptr<SerialDevice>& device);

// The status a read reports when the reader has ended without an error of
// its own but the device is gone (the invalid-handle error).
std::int32_t device_gone_status();

// The reader thread of one port.
class ReaderThread {
 public:
  enum class Wait { ended, timed_out, failed };
  virtual ~ReaderThread() = default;
  // Waits up to `milliseconds` for the thread to end; `error` is set on
  // failure.
  virtual Wait wait(std::uint32_t milliseconds, std::int32_t& error) = 0;
  // Lets go of a thread that did not end: it is never killed; it finishes on
  // its own and frees what it shares.
  virtual void abandon() = 0;
};

// Starts `body` on a new thread at the highest priority the platform allows
// (a failure to raise the priority is ignored).
std::int32_t start_reader_thread(std::function<void()> body,
                                 std::unique_ptr<ReaderThread>& thread);

}  // namespace kal::serial_detail

// Serial devices and reader threads on Windows: the communications
// interface with overlapped I/O. Platform error numbers are GetLastError
// values. Ports 1-9 open as "COM<n>:", higher numbers through the
// "\\.\COM<n>" form that every port number needs there.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <algorithm>
#include <memory>
#include <new>
#include <string>

#include "common/platform_error.h"
#include "link/serial_device.h"
#include "link/serial_port.h"

namespace kal {

std::string serial_device_name(std::int32_t port) {
  if (std::string named = serial_named_device(port); !named.empty()) return named;
  // A device name, not console output: plain decimal digits.
  if (port >= 0 && port <= 9) return "COM" + std::to_string(port) + ":";
  return "\\\\.\\COM" + std::to_string(port);
}

std::string serial_error_text(std::int32_t status) { return platform_error_text(status); }

std::string serial_open_advice(std::int32_t status) {
  if (status == ERROR_ACCESS_DENIED) return "Another program holds the port, or the user may not open it.";
  if (status == ERROR_FILE_NOT_FOUND) return "No such port: check its number in the Device Manager (Ports (COM & LPT)).";
  return {};
}

std::vector<std::string> serial_ports_present() {
  std::vector<std::string> ports;
  for (int n = 1; n <= 256; ++n) {
    const std::string name = "COM" + std::to_string(n);
    char target[512] = {};
    if (QueryDosDeviceA(name.c_str(), target, sizeof target) != 0) ports.push_back(name + " (" + target + ")");
  }
  return ports;
}

namespace {

// The COM numbers the serial drivers have registered under
// HKLM\HARDWARE\DEVICEMAP\SERIALCOMM (what port-listing tools read): only
// ports with hardware behind them are there. Sorted, without repeats.
std::vector<std::int32_t> registered_com_numbers() {
  std::vector<std::int32_t> numbers;
  HKEY key = nullptr;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, KEY_READ, &key) != ERROR_SUCCESS)
    return numbers;
  for (DWORD index = 0;; ++index) {
    char value_name[256];
    DWORD name_size = sizeof value_name;
    char data[64] = {};
    DWORD data_size = sizeof data - 1;
    DWORD type = 0;
    const LONG status = RegEnumValueA(key, index, value_name, &name_size, nullptr, &type,
                                      reinterpret_cast<BYTE*>(data), &data_size);
    if (status == ERROR_NO_MORE_ITEMS) break;
    if (status != ERROR_SUCCESS || type != REG_SZ) continue;
    const std::string port(data);
    if (!port.starts_with("COM") || port.size() < 4 || port.size() > 6) continue;
    std::int32_t n = 0;
    bool digits = true;
    for (const char c : port.substr(3)) {
      digits = digits && c >= '0' && c <= '9';
      n = n * 10 + (c - '0');
    }
    if (digits && n > 0) numbers.push_back(n);
  }
  RegCloseKey(key);
  std::sort(numbers.begin(), numbers.end());
  numbers.erase(std::unique(numbers.begin(), numbers.end()), numbers.end());
  return numbers;
}

}  // namespace

bool serial_port_has_hardware(std::int32_t port) {
  if (!serial_named_device(port).empty()) return true;
  const std::vector<std::int32_t> numbers = registered_com_numbers();
  return std::find(numbers.begin(), numbers.end(), port) != numbers.end();
}

std::vector<SerialPortChoice> serial_ports_with_hardware() {
  std::vector<SerialPortChoice> found;
  for (const std::int32_t n : registered_com_numbers()) found.push_back({n, "", "COM" + std::to_string(n)});
  return found;
}

bool serial_link_dead(std::int32_t status) {
  switch (status) {
    case ERROR_INVALID_HANDLE:        // the handle was closed
    case ERROR_BAD_COMMAND:           // USB adapters report removal this way
    case ERROR_GEN_FAILURE:
    case ERROR_DEVICE_NOT_CONNECTED:
    case ERROR_DEVICE_REMOVED:
      return true;
    default:
      return false;
  }
}

namespace serial_detail {
namespace {

std::int32_t last_error() { return static_cast<std::int32_t>(GetLastError()); }

class Win32Device final : public SerialDevice {
 public:
  explicit Win32Device(HANDLE handle) : handle_(handle) {}
  ~Win32Device() override { close(); }

  // A completed write only means the bytes reached the driver: they are
  // let go out before anything is purged, and only received bytes are
  // discarded, so a frame written just before a purge or a release (clear
  // memory, shut down) still reaches the sensor.
  std::int32_t purge_all() override {
    drain_output();
    return PurgeComm(handle_, PURGE_RXABORT | PURGE_RXCLEAR) ? 0 : last_error();
  }

  std::int32_t get_line(LineSettings& settings) override {
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    if (!GetCommState(handle_, &dcb)) return last_error();
    settings.baud = static_cast<std::int32_t>(dcb.BaudRate);
    settings.parity = dcb.fParity ? static_cast<std::int32_t>(dcb.Parity) : 0;
    settings.data_bits = static_cast<std::int32_t>(dcb.ByteSize);
    settings.stop_bits = static_cast<std::int32_t>(dcb.StopBits);
    return 0;
  }

  std::int32_t set_line(const LineSettings& settings) override {
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    if (!GetCommState(handle_, &dcb)) return last_error();
    dcb.ByteSize = static_cast<BYTE>(settings.data_bits);
    dcb.StopBits = static_cast<BYTE>(settings.stop_bits);
    dcb.BaudRate = static_cast<DWORD>(settings.baud);
    dcb.fParity = settings.parity != 0 ? TRUE : FALSE;
    dcb.Parity = static_cast<BYTE>(settings.parity);
    return SetCommState(handle_, &dcb) ? 0 : last_error();
  }

  std::int32_t get_timeouts(Timeouts& timeouts) override {
    COMMTIMEOUTS t{};
    if (!GetCommTimeouts(handle_, &t)) return last_error();
    timeouts.read_interval = t.ReadIntervalTimeout;
    timeouts.read_total_multiplier = t.ReadTotalTimeoutMultiplier;
    timeouts.read_total_constant = t.ReadTotalTimeoutConstant;
    timeouts.write_total_multiplier = t.WriteTotalTimeoutMultiplier;
    timeouts.write_total_constant = t.WriteTotalTimeoutConstant;
    return 0;
  }

  std::int32_t set_timeouts(const Timeouts& timeouts) override {
    COMMTIMEOUTS t{};
    t.ReadIntervalTimeout = timeouts.read_interval;
    t.ReadTotalTimeoutMultiplier = timeouts.read_total_multiplier;
    t.ReadTotalTimeoutConstant = timeouts.read_total_constant;
    t.WriteTotalTimeoutMultiplier = timeouts.write_total_multiplier;
    t.WriteTotalTimeoutConstant = timeouts.write_total_constant;
    return SetCommTimeouts(handle_, &t) ? 0 : last_error();
  }

  std::int32_t write(const char* data, std::int32_t n, std::int32_t& sent) override {
    sent = 0;
    OVERLAPPED io{};
    io.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (io.hEvent == nullptr) return last_error();
    DWORD done = 0;
    std::int32_t status = 0;
    if (!WriteFile(handle_, data, static_cast<DWORD>(n), &done, &io)) {
      if (GetLastError() != ERROR_IO_PENDING)
        status = last_error();
      else if (!GetOverlappedResult(handle_, &io, &done, TRUE))
        status = last_error();
    }
    CloseHandle(io.hEvent);
    sent = static_cast<std::int32_t>(done);
    return status;
  }

  std::int32_t input_waiting(std::int32_t& count) override {
    DWORD errors = 0;
    COMSTAT status{};
    if (!ClearCommError(handle_, &errors, &status)) return static_cast<std::int32_t>(GetLastError());
    count = static_cast<std::int32_t>(status.cbInQue);
    return 0;
  }

  std::int32_t reader_begin(std::uint32_t total_multiplier, std::uint32_t total_constant) override {
    COMMTIMEOUTS t{};
    if (!GetCommTimeouts(handle_, &t)) return last_error();
    t.ReadTotalTimeoutMultiplier = total_multiplier;
    t.ReadTotalTimeoutConstant = total_constant;
    if (!SetCommTimeouts(handle_, &t)) return last_error();
    reader_event_ = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    return reader_event_ != nullptr ? 0 : last_error();
  }

  std::int32_t reader_read(char* buffer, std::int32_t capacity, std::int32_t& got) override {
    got = 0;
    OVERLAPPED io{};
    io.hEvent = reader_event_;
    ResetEvent(reader_event_);
    DWORD done = 0;
    if (!ReadFile(handle_, buffer, static_cast<DWORD>(capacity), &done, &io)) {
      if (GetLastError() != ERROR_IO_PENDING) return quiet_or_error(last_error());
      if (!GetOverlappedResult(handle_, &io, &done, TRUE)) return quiet_or_error(last_error());
    }
    got = static_cast<std::int32_t>(done);
    return 0;
  }

  // A read cut short by a stop, or ended by its total time-out (reported as
  // ERROR_TIMEOUT by some Windows versions and by Wine, as zero bytes by
  // others), is no device error: the line was only quiet.
  static std::int32_t quiet_or_error(std::int32_t error) {
    return error == ERROR_OPERATION_ABORTED || error == ERROR_TIMEOUT ? 0 : error;
  }

  void reader_end() override {
    if (reader_event_ != nullptr) CloseHandle(reader_event_);
    reader_event_ = nullptr;
  }

  // The receive abort alone does not end a pending read everywhere (Wine
  // lets it run to its time-out): it is cancelled as well.
  void interrupt_reader() override {
    CancelIoEx(handle_, nullptr);
    PurgeComm(handle_, PURGE_RXABORT | PURGE_RXCLEAR);
  }

  std::int32_t close() override {
    if (handle_ == INVALID_HANDLE_VALUE) return 0;
    drain_output();
    const std::int32_t status = CloseHandle(handle_) ? 0 : last_error();
    handle_ = INVALID_HANDLE_VALUE;
    return status;
  }

 private:
  // Waits until the driver has sent every byte written (a failure leaves
  // nothing to wait for).
  void drain_output() { FlushFileBuffers(handle_); }

  HANDLE handle_;
  HANDLE reader_event_ = nullptr;
};

// Binary transfers, no flow control, 8N1; the rate is left as found.
std::int32_t make_raw(HANDLE handle) {
  DCB dcb{};
  dcb.DCBlength = sizeof dcb;
  if (!GetCommState(handle, &dcb)) return last_error();
  dcb.fBinary = TRUE;
  dcb.fOutxCtsFlow = FALSE;
  dcb.fOutxDsrFlow = FALSE;
  dcb.fDtrControl = DTR_CONTROL_ENABLE;
  dcb.fRtsControl = RTS_CONTROL_ENABLE;
  dcb.fDsrSensitivity = FALSE;
  dcb.fOutX = FALSE;
  dcb.fInX = FALSE;
  dcb.fErrorChar = FALSE;
  dcb.fNull = FALSE;
  dcb.fAbortOnError = FALSE;
  dcb.ByteSize = 8;
  dcb.fParity = FALSE;
  dcb.Parity = NOPARITY;
  dcb.StopBits = ONESTOPBIT;
  return SetCommState(handle, &dcb) ? 0 : last_error();
}

class Win32ReaderThread final : public ReaderThread {
 public:
  explicit Win32ReaderThread(HANDLE thread) : thread_(thread) {}
  ~Win32ReaderThread() override { abandon(); }

  Wait wait(std::uint32_t milliseconds, std::int32_t& error) override {
    error = 0;
    switch (WaitForSingleObject(thread_, milliseconds)) {
      case WAIT_OBJECT_0:
        abandon();  // ended: only the handle is left to close
        return Wait::ended;
      case WAIT_TIMEOUT:
        return Wait::timed_out;
      default:
        error = last_error();
        return Wait::failed;
    }
  }

  // The thread is never terminated: a forced end could leave the heap or a
  // lock in an undefined state. It finishes on its own.
  void abandon() override {
    if (thread_ != nullptr) CloseHandle(thread_);
    thread_ = nullptr;
  }

 private:
  HANDLE thread_;
};

DWORD WINAPI reader_entry(LPVOID argument) {
  std::unique_ptr<std::function<void()>> body(static_cast<std::function<void()>*>(argument));
  (*body)();
  return 0;
}

}  // namespace

std::int32_t open_serial_device(std::int32_t port, std::unique_ptr<SerialDevice>& device) {
  const std::string name = serial_device_name(port);
  HANDLE handle = CreateFileA(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                              OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return last_error();
  const std::int32_t status = make_raw(handle);
  if (status != 0) {
    CloseHandle(handle);
    return status;
  }
  device.reset(new (std::nothrow) Win32Device(handle));
  if (!device) {
    CloseHandle(handle);
    return kSerialNoMemory;
  }
  return 0;
}

std::int32_t device_gone_status() { return ERROR_INVALID_HANDLE; }

std::int32_t start_reader_thread(std::function<void()> body,
                                 std::unique_ptr<ReaderThread>& thread) {
  auto* argument = new (std::nothrow) std::function<void()>(std::move(body));
  if (argument == nullptr) return kSerialNoMemory;
  DWORD id = 0;
  HANDLE handle = CreateThread(nullptr, 0, reader_entry, argument, CREATE_SUSPENDED, &id);
  if (handle == nullptr) {
    const std::int32_t status = last_error();
    delete argument;
    return status;
  }
  SetThreadPriority(handle, THREAD_PRIORITY_TIME_CRITICAL);  // a refusal is harmless
  thread.reset(new (std::nothrow) Win32ReaderThread(handle));
  if (!thread || ResumeThread(handle) == static_cast<DWORD>(-1)) {
    const std::int32_t status = thread ? last_error() : kSerialNoMemory;
    // The thread never ran a single instruction of ours: ending it here is
    // safe, and it takes nothing with it but its argument.
    TerminateThread(handle, 0);
    if (!thread) CloseHandle(handle);
    thread.reset();
    delete argument;
    return status;
  }
  return 0;
}

}  // namespace serial_detail
}  // namespace kal

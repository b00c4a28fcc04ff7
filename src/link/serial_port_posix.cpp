// Serial devices and reader threads on POSIX systems (termios).
//
// Port n is $KALFETCH_PORT_DIR/COM<n> when that variable is set (a folder of
// links such as COM3 -> /dev/ttyUSB0), otherwise /dev/ttyS<n-1>.
//
// The device is opened non-blocking and every wait is a poll(), so that
// time-outs hold and a stop request reaches the reader at once through a
// wake-up pipe. The reader hands bytes over as soon as the device has them:
// a complete line reaches the ring without waiting for the inter-byte gap.
// The read-interval setting is therefore kept but bounds nothing here; the
// read total time-out (200 ms) is the longest the reader sleeps in one poll.
// Platform error numbers are errno values; a hang-up (the line dropped, an
// adapter unplugged, a pseudo-terminal whose master closed) is EIO.
#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>
#ifdef __linux__
#include <linux/serial.h>
#endif

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <cstdio>
#include <filesystem>
#include <mutex>
#include <new>
#include <string>
#include <system_error>
#include <thread>

#include "common/platform_error.h"
#include "link/serial_device.h"
#include "link/serial_port.h"
#include "link/termios_speeds.h"

namespace kal {

std::string serial_device_name(std::int32_t port) {
  if (std::string named = serial_named_device(port); !named.empty()) return named;
  // A device path, not console output: plain decimal digits.
  if (const char* folder = std::getenv("KALFETCH_PORT_DIR"); folder != nullptr && *folder != 0)
    return std::string(folder) + "/COM" + std::to_string(port);
  return "/dev/ttyS" + std::to_string(port - 1);
}

// The service's own status codes share their numbers with Windows error
// codes, not with errno values: they get words of their own here, and only
// the system's errors go through strerror.
std::string serial_error_text(std::int32_t status) {
  switch (status) {
    case kSerialReaderRunning:
      return "The port's settings cannot change while its reader is running";
    case kSerialNoMemory:
      return "Not enough memory for the port's buffers or reader";
    case kSerialReaderKilled:
      return "The port's reader did not stop in time and was ended";
    case kSerialShortWrite:
      return "Not every byte could be written to the port";
    case kSerialBadPort:
      return "The port is not connected by this thread, or an argument is invalid";
    default:
      return platform_error_text(status);
  }
}

std::string serial_open_advice(std::int32_t status) {
  if (status == EACCES || status == EPERM) {
    return "No right to open it: the user must be in the dialout group "
           "(sudo usermod -a -G dialout $USER, then log in again).";
  }
  if (status == EBUSY) return "Another program holds the port (a modem manager, a terminal, another kalfetch5).";
  return {};
}

namespace {

// The entries of `folder` whose names start with `prefix`, sorted; links
// shown with the device they name.
void list_entries(const std::filesystem::path& folder, std::string_view prefix, bool show_target,
                  std::vector<std::string>& out) {
  std::error_code ec;
  std::vector<std::string> found;
  for (const auto& entry : std::filesystem::directory_iterator(folder, ec)) {
    const std::string name = entry.path().filename().string();
    if (!name.starts_with(prefix)) continue;
    std::string line = entry.path().string();
    if (show_target) {
      std::error_code target_ec;
      const auto target = std::filesystem::canonical(entry.path(), target_ec);
      line += target_ec ? " -> (missing)" : " -> " + target.string();
    }
    found.push_back(line);
  }
  std::sort(found.begin(), found.end());
  out.insert(out.end(), found.begin(), found.end());
}

}  // namespace

std::vector<std::string> serial_ports_present() {
  std::vector<std::string> ports;
  if (const char* folder = std::getenv("KALFETCH_PORT_DIR"); folder != nullptr && *folder != 0) {
    list_entries(folder, "COM", true, ports);
  }
  list_entries("/dev/serial/by-id", "", true, ports);
  list_entries("/dev", "ttyUSB", false, ports);
  list_entries("/dev", "ttyACM", false, ports);
  return ports;
}

namespace {

// A device that exists and, where the tty layer tells its type (the 8250
// ports' "type" in sysfs), is not of type 0, "unknown": the placeholder
// ttyS ports of a laptop without a serial port. Nothing is opened.
bool device_has_hardware(const std::filesystem::path& device) {
  std::error_code ec;
  const std::filesystem::path target = std::filesystem::canonical(device, ec);
  if (ec || !std::filesystem::exists(target, ec)) return false;
  std::FILE* type_file =
      std::fopen(("/sys/class/tty/" + target.filename().string() + "/type").c_str(), "r");
  if (type_file == nullptr) return true;  // no type told: the device is taken as it is
  int type = -1;
  const bool read = std::fscanf(type_file, "%d", &type) == 1;
  std::fclose(type_file);
  return !read || type != 0;
}

// The number n of a name "COM<n>", 0 when it is no such name.
std::int32_t com_number(std::string_view name) {
  if (!name.starts_with("COM") || name.size() < 4 || name.size() > 6) return 0;
  std::int32_t n = 0;
  for (const char c : name.substr(3)) {
    if (c < '0' || c > '9') return 0;
    n = n * 10 + (c - '0');
  }
  return n;
}

}  // namespace

bool serial_port_has_hardware(std::int32_t port) {
  return device_has_hardware(serial_device_name(port));
}

std::vector<SerialPortChoice> serial_ports_with_hardware() {
  std::vector<SerialPortChoice> found;
  std::error_code ec;
  if (const char* folder = std::getenv("KALFETCH_PORT_DIR"); folder != nullptr && *folder != 0) {
    for (const auto& entry : std::filesystem::directory_iterator(folder, ec)) {
      const std::string name = entry.path().filename().string();
      const std::int32_t n = com_number(name);
      if (n > 0 && device_has_hardware(entry.path())) found.push_back({n, "", name});
    }
    std::sort(found.begin(), found.end(), [](const auto& a, const auto& b) { return a.port < b.port; });
    return found;
  }
  for (const std::string_view prefix : {"ttyUSB", "ttyACM", "ttyS"}) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator("/dev", ec)) {
      const std::string name = entry.path().filename().string();
      if (name.starts_with(prefix) && name.size() > prefix.size() && device_has_hardware(entry.path()))
        names.push_back(entry.path().string());
    }
    // ttyUSB2 before ttyUSB10.
    std::sort(names.begin(), names.end(), [](const std::string& a, const std::string& b) {
      return a.size() != b.size() ? a.size() < b.size() : a < b;
    });
    for (const std::string& path : names) found.push_back({0, path, path});
  }
  return found;
}

bool serial_link_dead(std::int32_t status) {
  return status == EIO || status == ENXIO || status == ENODEV || status == EBADF;
}

namespace serial_detail {
namespace {

using Clock = std::chrono::steady_clock;

// Milliseconds left until `deadline`, for poll().
int remaining_ms(Clock::time_point deadline) {
  const auto left =
      std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
  return left <= 0 ? 0 : static_cast<int>(left);
}

class PosixDevice final : public SerialDevice {
 public:
  PosixDevice(int fd, int wake_read, int wake_write)
      : fd_(fd), wake_read_(wake_read), wake_write_(wake_write) {}
  ~PosixDevice() override { close(); }

  // Discards what was received and not yet read. Bytes this program wrote
  // are not thrown away: a command written just before a purge or a release
  // (the clear-memory and shut-down frames) must still reach the sensor, and
  // on a pseudo-terminal an output flush would also discard bytes the other
  // side has not read yet.
  std::int32_t purge_all() override { return tcflush(fd_, TCIFLUSH) == 0 ? 0 : errno; }

  std::int32_t get_line(LineSettings& settings) override {
    struct termios t{};
    if (tcgetattr(fd_, &t) != 0) return errno;
    settings.baud = baud_of(cfgetospeed(&t));
    settings.parity = parity_of(t);
    switch (t.c_cflag & CSIZE) {
      case CS5: settings.data_bits = 5; break;
      case CS6: settings.data_bits = 6; break;
      case CS7: settings.data_bits = 7; break;
      default: settings.data_bits = 8; break;
    }
    settings.stop_bits = (t.c_cflag & CSTOPB) != 0 ? 2 : 0;
    return 0;
  }

  std::int32_t set_line(const LineSettings& settings) override {
    struct termios t{};
    if (tcgetattr(fd_, &t) != 0) return errno;
    tcflag_t size = 0;
    switch (settings.data_bits) {
      case 5: size = CS5; break;
      case 6: size = CS6; break;
      case 7: size = CS7; break;
      case 8: size = CS8; break;
      default: return EINVAL;
    }
    t.c_cflag = (t.c_cflag & ~static_cast<tcflag_t>(CSIZE)) | size;
    // termios has no "one and a half": code 1 and 2 both give CSTOPB, which
    // the line drivers treat as 1.5 with five data bits and 2 otherwise.
    if (settings.stop_bits == 0)
      t.c_cflag &= ~static_cast<tcflag_t>(CSTOPB);
    else if (settings.stop_bits == 1 || settings.stop_bits == 2)
      t.c_cflag |= CSTOPB;
    else
      return EINVAL;
    speed_t speed{};
    if (!speed_of(settings.baud, speed)) return EINVAL;
    if (cfsetispeed(&t, speed) != 0 || cfsetospeed(&t, speed) != 0) return errno;
    if (!apply_parity(settings.parity, t)) return EINVAL;
    if (tcsetattr(fd_, TCSANOW, &t) != 0) return errno;
    return took_settings(t) ? 0 : EINVAL;
  }

  std::int32_t get_timeouts(Timeouts& timeouts) override {
    timeouts = timeouts_;
    return 0;
  }

  std::int32_t set_timeouts(const Timeouts& timeouts) override {
    timeouts_ = timeouts;
    return 0;
  }

  std::int32_t write(const char* data, std::int32_t n, std::int32_t& sent) override {
    sent = 0;
    const std::uint64_t total = static_cast<std::uint64_t>(timeouts_.write_total_multiplier) *
                                    static_cast<std::uint64_t>(n) +
                                timeouts_.write_total_constant;
    const bool bounded = total != 0;  // 0 and 0: no write time-out
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(total);
    while (sent < n) {
      const ssize_t done = ::write(fd_, data + sent, static_cast<std::size_t>(n - sent));
      if (done > 0) {
        sent += static_cast<std::int32_t>(done);
        continue;
      }
      if (done < 0 && errno == EINTR) continue;
      if (done < 0 && errno != EAGAIN && errno != EWOULDBLOCK) return errno;
      struct pollfd p{fd_, POLLOUT, 0};
      const int wait = bounded ? remaining_ms(deadline) : -1;
      if (bounded && wait == 0) return 0;  // time-out: the caller sees a short count
      const int ready = ::poll(&p, 1, wait);
      if (ready < 0 && errno != EINTR) return errno;
      if (ready > 0 && (p.revents & POLLNVAL) != 0) return EBADF;
      if (ready > 0 && (p.revents & (POLLHUP | POLLERR)) != 0) return EIO;
    }
    wait_until_transmitted(bounded, deadline);
    return 0;
  }

  // Like a write on the Windows side, a write completes when its bytes have
  // left the output queue (within the write time-out), so that what follows
  // (a rate change, a purge, a release) cannot cut it off.
  void wait_until_transmitted(bool bounded, Clock::time_point deadline) const {
    for (;;) {
      int queued = 0;
      if (ioctl(fd_, TIOCOUTQ, &queued) != 0 || queued <= 0) return;
      if (bounded && remaining_ms(deadline) == 0) return;
      std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
  }

  std::int32_t input_waiting(std::int32_t& count) override {
    int waiting = 0;
    if (::ioctl(fd_, FIONREAD, &waiting) != 0) return errno;
    count = waiting;
    return 0;
  }

  std::int32_t reader_begin(std::uint32_t total_multiplier, std::uint32_t total_constant) override {
    reader_multiplier_ = total_multiplier;
    reader_constant_ = total_constant;
    return 0;
  }

  std::int32_t reader_read(char* buffer, std::int32_t capacity, std::int32_t& got) override {
    got = 0;
    const std::uint64_t total =
        static_cast<std::uint64_t>(reader_multiplier_) * static_cast<std::uint64_t>(capacity) +
        reader_constant_;
    const int wait = total == 0 ? -1 : static_cast<int>(std::min<std::uint64_t>(total, 60000));
    struct pollfd p[2] = {{fd_, POLLIN, 0}, {wake_read_, POLLIN, 0}};
    const int ready = ::poll(p, 2, wait);
    if (ready < 0) return errno == EINTR ? 0 : errno;
    if (ready == 0) return 0;
    if ((p[1].revents & POLLIN) != 0) {
      drain_wake_pipe();
      return 0;
    }
    if ((p[0].revents & POLLNVAL) != 0) return EBADF;
    if ((p[0].revents & (POLLIN | POLLHUP | POLLERR)) == 0) return 0;
    const ssize_t n = ::read(fd_, buffer, static_cast<std::size_t>(capacity));
    if (n > 0) {
      got = static_cast<std::int32_t>(n);
      return 0;
    }
    if (n == 0) return EIO;  // end of file on a terminal: the line hung up
    if (errno == EINTR) return 0;
    if (errno == EAGAIN || errno == EWOULDBLOCK)
      return (p[0].revents & (POLLHUP | POLLERR)) != 0 ? EIO : 0;
    return errno;
  }

  void reader_end() override {}

  void interrupt_reader() override {
    tcflush(fd_, TCIFLUSH);
    const char wake = 1;
    [[maybe_unused]] const ssize_t ignored = ::write(wake_write_, &wake, 1);
  }

  std::int32_t close() override {
    std::int32_t status = 0;
    if (fd_ >= 0 && ::close(fd_) != 0) status = errno;
    fd_ = -1;
    if (wake_read_ >= 0) ::close(wake_read_);
    if (wake_write_ >= 0) ::close(wake_write_);
    wake_read_ = wake_write_ = -1;
    return status;
  }

 private:
  // tcsetattr succeeds when any part of the change was made; a driver that
  // cannot do a setting (a pseudo-terminal is always 8 bits, no parity)
  // must not look as if it did.
  bool took_settings(const struct termios& wanted) const {
    struct termios now{};
    if (tcgetattr(fd_, &now) != 0) return false;
    tcflag_t checked = CSIZE | CSTOPB | PARENB | PARODD;
#ifdef CMSPAR
    checked |= CMSPAR;
#endif
    return (now.c_cflag & checked) == (wanted.c_cflag & checked) &&
           cfgetospeed(&now) == cfgetospeed(&wanted);
  }

  static std::int32_t parity_of(const struct termios& t) {
    if ((t.c_cflag & PARENB) == 0) return 0;
    const bool odd = (t.c_cflag & PARODD) != 0;
#ifdef CMSPAR
    if ((t.c_cflag & CMSPAR) != 0) return odd ? 3 : 4;
#endif
    return odd ? 1 : 2;
  }

  static bool apply_parity(std::int32_t parity, struct termios& t) {
    tcflag_t bits = 0;
    tcflag_t all = PARENB | PARODD;
#ifdef CMSPAR
    all |= CMSPAR;
#endif
    switch (parity) {
      case 0: break;
      case 1: bits = PARENB | PARODD; break;
      case 2: bits = PARENB; break;
#ifdef CMSPAR
      case 3: bits = PARENB | PARODD | CMSPAR; break;
      case 4: bits = PARENB | CMSPAR; break;
#endif
      default: return false;
    }
    t.c_cflag = (t.c_cflag & ~all) | bits;
    if (parity != 0)
      t.c_iflag |= INPCK;
    else
      t.c_iflag &= ~static_cast<tcflag_t>(INPCK);
    return true;
  }

  void drain_wake_pipe() {
    char sink[64];
    while (::read(wake_read_, sink, sizeof sink) > 0) {
    }
  }

  int fd_;
  int wake_read_;
  int wake_write_;
  Timeouts timeouts_;
  std::uint32_t reader_multiplier_ = 0;
  std::uint32_t reader_constant_ = 200;
};

// Raw 8N1, receiver on, modem lines ignored; the speed is left as found.
std::int32_t make_raw(int fd) {
  struct termios t{};
  if (tcgetattr(fd, &t) != 0) return errno;
  cfmakeraw(&t);
  t.c_cflag &= ~static_cast<tcflag_t>(CSIZE | CSTOPB | PARENB | PARODD);
#ifdef CRTSCTS
  t.c_cflag &= ~static_cast<tcflag_t>(CRTSCTS);
#endif
  t.c_cflag |= CS8 | CLOCAL | CREAD;
  t.c_cc[VMIN] = 0;
  t.c_cc[VTIME] = 0;
  return tcsetattr(fd, TCSANOW, &t) == 0 ? 0 : errno;
}

void raise_priority() {
  struct sched_param highest{};
  highest.sched_priority = sched_get_priority_max(SCHED_FIFO);
  // Needs privileges most accounts lack; the reader works at normal priority.
  pthread_setschedparam(pthread_self(), SCHED_FIFO, &highest);
}

class PosixReaderThread final : public ReaderThread {
 public:
  struct Done {
    std::mutex mutex;
    std::condition_variable changed;
    bool ended = false;
  };

  PosixReaderThread() : done_(std::make_shared<Done>()) {}
  ~PosixReaderThread() override {
    if (thread_.joinable()) thread_.detach();
  }

  Wait wait(std::uint32_t milliseconds, std::int32_t& error) override {
    error = 0;
    std::unique_lock<std::mutex> hold(done_->mutex);
    if (!done_->changed.wait_for(hold, std::chrono::milliseconds(milliseconds),
                                 [this] { return done_->ended; }))
      return Wait::timed_out;
    hold.unlock();
    thread_.join();
    return Wait::ended;
  }

  void abandon() override {
    if (thread_.joinable()) thread_.detach();
  }

  // Runs `body` on the thread; throws std::system_error when none starts.
  void launch(std::function<void()> body) {
    thread_ = std::thread([body = std::move(body), done = done_] {
      raise_priority();
      body();
      {
        std::lock_guard<std::mutex> hold(done->mutex);
        done->ended = true;
      }
      done->changed.notify_all();
    });
  }

 private:
  std::thread thread_;
  std::shared_ptr<Done> done_;
};

// USB-serial adapters (FTDI and others) hold the tail of every line for
// their latency timer (16 ms) unless the driver is asked for its low-latency
// mode; a pseudo-terminal or a driver without the mode refuses, which is fine.
void ask_for_low_latency(int fd) {
#ifdef __linux__
  struct serial_struct info {};
  if (ioctl(fd, TIOCGSERIAL, &info) != 0 || (info.flags & ASYNC_LOW_LATENCY) != 0) return;
  info.flags |= ASYNC_LOW_LATENCY;
  [[maybe_unused]] const int refused = ioctl(fd, TIOCSSERIAL, &info);
#else
  (void)fd;
#endif
}

}  // namespace

std::int32_t open_serial_device(std::int32_t port, std::unique_ptr<SerialDevice>& device) {
  const std::string name = serial_device_name(port);
  const int fd = ::open(name.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return errno;
  std::int32_t status = 0;
  if (ioctl(fd, TIOCEXCL) != 0) status = errno;
  if (status == 0) ask_for_low_latency(fd);
  if (status == 0) status = make_raw(fd);
  int wake[2] = {-1, -1};
  if (status == 0 && pipe2(wake, O_NONBLOCK | O_CLOEXEC) != 0) status = errno;
  if (status != 0) {
    ::close(fd);
    return status;
  }
  device = std::make_unique<PosixDevice>(fd, wake[0], wake[1]);
  return 0;
}

std::int32_t device_gone_status() { return EIO; }

std::int32_t start_reader_thread(std::function<void()> body,
                                 std::unique_ptr<ReaderThread>& thread) {
  try {
    auto started = std::make_unique<PosixReaderThread>();
    started->launch(std::move(body));
    thread = std::move(started);
  } catch (const std::system_error& e) {
    return e.code().value() != 0 ? e.code().value() : EAGAIN;
  } catch (const std::bad_alloc&) {
    return kSerialNoMemory;
  }
  return 0;
}

}  // namespace serial_detail
}  // namespace kal

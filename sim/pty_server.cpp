#include "pty_server.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <deque>
#include <filesystem>
#include <optional>
#include <system_error>

#include "common/format.h"
#include "link/termios_speeds.h"

namespace kal::sim {
namespace {

using Clock = std::chrono::steady_clock;
constexpr std::chrono::milliseconds kLateNote{20};

volatile sig_atomic_t g_stop_requested = 0;

extern "C" void request_stop(int) { g_stop_requested = 1; }

std::string number(std::int64_t value) {
  const std::string field = fmt::I(value, 20);
  return field.substr(field.find_first_not_of(' '));
}

class FileDescriptor {
 public:
  FileDescriptor() = default;
  explicit FileDescriptor(int fd) : fd_(fd) {}
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;
  ~FileDescriptor() { reset(); }
  int get() const { return fd_; }
  void reset(int fd = -1) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = fd;
  }

 private:
  int fd_ = -1;
};

// The speed code of a rate the simulator starts at (38400 for one the
// system has no code for).
speed_t speed_code_of(std::int32_t baud) {
  speed_t code = B38400;
  return speed_of(baud, code) ? code : B38400;
}

// Deletes the published link when the server ends.
class PublishedLink {
 public:
  PublishedLink() = default;
  PublishedLink(const PublishedLink&) = delete;
  PublishedLink& operator=(const PublishedLink&) = delete;
  ~PublishedLink() { remove(); }

  bool publish(const std::filesystem::path& link, const std::string& target, std::string& error) {
    std::error_code ec;
    if (std::filesystem::is_symlink(std::filesystem::symlink_status(link, ec))) {
      std::filesystem::remove(link, ec);  // left behind by an earlier run
    }
    std::filesystem::create_symlink(target, link, ec);
    if (ec) {
      error = "cannot create link " + link.string() + ": " + ec.message();
      return false;
    }
    link_ = link;
    return true;
  }

  void remove() {
    if (link_.empty()) return;
    std::error_code ec;
    std::filesystem::remove(link_, ec);
    link_.clear();
  }

 private:
  std::filesystem::path link_;
};

class PtyServer {
 public:
  PtyServer(const SimOptions& options, Sensor& sensor, Trace& trace)
      : options_(options), sensor_(sensor), trace_(trace) {}

  bool open(std::string& error);
  int serve(const sigset_t& wait_mask);

 private:
  std::int32_t host_speed() const;
  void read_host();
  void take(std::vector<SensorEvent>& events, std::int32_t speed);
  void write_pending();
  // When the next byte for the host may go (now or later); none when
  // nothing is pending.
  std::optional<Clock::time_point> output_due(Clock::time_point now);
  std::chrono::nanoseconds byte_time() const;
  void hang_up();

  const SimOptions& options_;
  Sensor& sensor_;
  Trace& trace_;
  FileDescriptor master_;
  FileDescriptor slave_;  // held open so the line never hangs up between host sessions
  PublishedLink link_;

  std::string pending_;  // bytes for the host not yet written
  std::size_t written_ = 0;
  // Idle times on the line: at offset `first` of pending_, wait `second`.
  std::deque<std::pair<std::size_t, std::chrono::milliseconds>> pauses_;
  std::optional<Clock::time_point> pause_until_;  // the pause under way
  std::int64_t sent_total_ = 0;  // bytes written to the host in all
  Clock::time_point next_byte_ = Clock::now();
  std::optional<Clock::time_point> hangup_deadline_;
  bool host_answered_ = false;  // bytes came after the hang-up line
  bool hung_up_ = false;
};

bool PtyServer::open(std::string& error) {
  std::error_code ec;
  std::filesystem::create_directories(options_.dir, ec);
  if (ec) {
    error = "cannot create folder " + options_.dir + ": " + ec.message();
    return false;
  }
  int master = -1;
  int slave = -1;
  char name[256] = {};
  if (::openpty(&master, &slave, name, nullptr, nullptr) != 0) {
    error = std::string("openpty failed: ") + std::strerror(errno);
    return false;
  }
  master_.reset(master);
  slave_.reset(slave);
  ::fcntl(master, F_SETFD, FD_CLOEXEC);
  ::fcntl(slave, F_SETFD, FD_CLOEXEC);
  ::fcntl(master, F_SETFL, ::fcntl(master, F_GETFL) | O_NONBLOCK);

  // Raw from the start: with echo on, the sensor would hear its own lines.
  termios mode{};
  if (::tcgetattr(slave, &mode) == 0) {
    ::cfmakeraw(&mode);
    ::cfsetispeed(&mode, speed_code_of(options_.baud));
    ::cfsetospeed(&mode, speed_code_of(options_.baud));
    ::tcsetattr(slave, TCSANOW, &mode);
  }
  const auto link = std::filesystem::path(options_.dir) / ("COM" + number(options_.port));
  return link_.publish(link, name, error);
}

std::int32_t PtyServer::host_speed() const {
  termios mode{};
  if (::tcgetattr(master_.get(), &mode) != 0) return 0;
  return baud_of(::cfgetospeed(&mode));
}

std::chrono::nanoseconds PtyServer::byte_time() const {
  // 10 bits a byte: start bit, 8 data bits, stop bit.
  return std::chrono::nanoseconds(10'000'000'000LL / sensor_.baud());
}

void PtyServer::take(std::vector<SensorEvent>& events, std::int32_t speed) {
  for (auto& event : events) {
    switch (event.kind) {
      case SensorEvent::Kind::heard:
        trace_.bytes("H>", speed, event.bytes);
        break;
      case SensorEvent::Kind::sent:
        trace_.bytes("S>", speed, event.bytes);
        // An idle line starts pacing afresh from now.
        if (pending_.empty()) next_byte_ = std::max(next_byte_, Clock::now());
        if (event.pause_ms > 0) pauses_.emplace_back(pending_.size(), std::chrono::milliseconds(event.pause_ms));
        pending_ += event.bytes;
        break;
      case SensorEvent::Kind::note:
        trace_.note(speed, event.bytes);
        break;
    }
  }
  events.clear();
}

void PtyServer::read_host() {
  char buffer[4096];
  const ssize_t n = ::read(master_.get(), buffer, sizeof buffer);
  if (n <= 0) return;
  const std::int32_t speed = host_speed();
  if (sensor_.hangup_due()) {
    trace_.bytes("H!", speed, std::string_view(buffer, static_cast<std::size_t>(n)));
    host_answered_ = true;
    return;
  }
  std::vector<SensorEvent> events;
  std::string discarded;
  for (ssize_t i = 0; i < n; ++i) {
    const auto byte = static_cast<unsigned char>(buffer[i]);
    if (sensor_.listening() && speed == sensor_.baud()) {
      if (!discarded.empty()) {
        trace_.bytes("H!", speed, discarded);
        discarded.clear();
      }
      sensor_.hear(byte, events);
    } else {
      sensor_.flush_heard(events);
      take(events, speed);
      sensor_.lose_sync();
      discarded.push_back(static_cast<char>(byte));
    }
    take(events, speed);
  }
  sensor_.flush_heard(events);
  take(events, speed);
  trace_.bytes("H!", speed, discarded);
}

std::optional<Clock::time_point> PtyServer::output_due(Clock::time_point now) {
  if (written_ >= pending_.size()) return std::nullopt;
  Clock::time_point due = options_.pace ? std::max(now, next_byte_) : now;
  if (!pauses_.empty() && pauses_.front().first == written_) {
    // The pause starts once the bytes before it have left.
    if (!pause_until_) pause_until_ = due + pauses_.front().second;
    due = std::max(due, *pause_until_);
  }
  return due;
}

void PtyServer::write_pending() {
  const auto now = Clock::now();
  const auto due = output_due(now);
  if (!due || *due > now) return;
  if (pause_until_) {
    pauses_.pop_front();
    pause_until_.reset();
    next_byte_ = std::max(next_byte_, now);
  }
  std::size_t allowed = pending_.size() - written_;
  if (!pauses_.empty()) allowed = std::min(allowed, pauses_.front().first - written_);
  if (options_.pace) {
    const auto bytes_due = options_.byte_writes ? 1 : 1 + (now - next_byte_) / byte_time();
    allowed = std::min<std::size_t>(allowed, static_cast<std::size_t>(bytes_due));
    // A sensor keeps its byte rate; a simulator the machine held up does not,
    // and the host may take the pause for the end of a line.
    const auto late = std::chrono::duration_cast<std::chrono::milliseconds>(now - next_byte_);
    if (late >= kLateNote) trace_.note(host_speed(), "sending held up " + number(late.count()) + " ms");
  }
  const ssize_t n = ::write(master_.get(), pending_.data() + written_, allowed);
  if (n <= 0) return;  // EAGAIN: the host's buffer is full; poll says when to go on
  written_ += static_cast<std::size_t>(n);
  sent_total_ += n;
  sensor_.bytes_written(sent_total_);
  if (options_.pace) next_byte_ += n * byte_time();
  if (written_ >= pending_.size()) {
    pending_.clear();
    written_ = 0;
  }
}

void PtyServer::hang_up() {
  trace_.note(host_speed(), "hang-up");
  master_.reset();
  slave_.reset();
  link_.remove();
  hung_up_ = true;
}

int PtyServer::serve(const sigset_t& wait_mask) {
  trace_.note(host_speed(), "sensor listening at " + number(sensor_.baud()));
  while (g_stop_requested == 0 && !hung_up_) {
    const auto now = Clock::now();
    const bool have_output = written_ < pending_.size();
    std::optional<std::chrono::nanoseconds> wait;
    pollfd poll_entry{master_.get(), POLLIN, 0};
    if (const auto due = output_due(now)) {
      if (*due > now) {
        wait = *due - now;
      } else {
        poll_entry.events |= POLLOUT;
      }
    }
    if (sensor_.hangup_due() && !have_output) {
      // The host answering the line proves it has read it; a host that
      // never answers gets the hang-up after a while all the same.
      if (!hangup_deadline_) hangup_deadline_ = now + std::chrono::seconds(10);
      if (host_answered_ || now >= *hangup_deadline_) {
        hang_up();
        break;
      }
      wait = *hangup_deadline_ - now;
    }
    timespec timeout{};
    if (wait) {
      timeout.tv_sec = static_cast<time_t>(wait->count() / 1'000'000'000);
      timeout.tv_nsec = static_cast<long>(wait->count() % 1'000'000'000);
    }
    const int ready = ::ppoll(&poll_entry, 1, wait ? &timeout : nullptr, &wait_mask);
    if (ready < 0) {
      if (errno == EINTR) continue;
      std::fprintf(stderr, "kalvor-sim: poll failed: %s\n", std::strerror(errno));
      return 1;
    }
    if (poll_entry.revents & POLLIN) {
      read_host();
    } else if (poll_entry.revents & (POLLHUP | POLLERR)) {
      // Not expected while the slave is held open; never spin on it.
      timespec pause{0, 50'000'000};
      ::ppoll(nullptr, 0, &pause, &wait_mask);
    }
    write_pending();
  }
  if (g_stop_requested != 0) trace_.note(0, "stopped by signal");
  return 0;
}

// SIGTERM and SIGINT stay blocked except inside the poll, so a signal can
// only end a wait, never slip in between the check and the wait. Installed
// before the line is announced: a caller may stop the sim at once.
void install_stop_signals(sigset_t& wait_mask) {
  sigset_t stop_signals;
  sigemptyset(&stop_signals);
  sigaddset(&stop_signals, SIGTERM);
  sigaddset(&stop_signals, SIGINT);
  sigprocmask(SIG_BLOCK, &stop_signals, &wait_mask);
  sigdelset(&wait_mask, SIGTERM);
  sigdelset(&wait_mask, SIGINT);
  struct sigaction action {};
  action.sa_handler = request_stop;
  sigemptyset(&action.sa_mask);
  sigaction(SIGTERM, &action, nullptr);
  sigaction(SIGINT, &action, nullptr);
  signal(SIGPIPE, SIG_IGN);
}

}  // namespace

int run_simulator(const SimOptions& options, Sensor& sensor, Trace& trace) {
  sigset_t wait_mask;
  install_stop_signals(wait_mask);
  PtyServer server(options, sensor, trace);
  std::string error;
  if (!server.open(error)) {
    std::fprintf(stderr, "kalvor-sim: %s\n", error.c_str());
    return 1;
  }
  const std::string ready =
      "PORT_DIR=" + options.dir + "\nPORT=COM" + number(options.port) + "\n";
  std::fputs(ready.c_str(), stdout);
  std::fflush(stdout);
  return server.serve(wait_mask);
}

}  // namespace kal::sim

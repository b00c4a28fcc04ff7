// The real kalvor-sim driven the way a host program meets it: the process on
// its pseudo-terminal, the host's end of the line, the host's frames and the
// sensor's wire trace. POSIX only.
//
//   TempDir folder;
//   SimProcess sim;                                    // stopped when it goes; a test
//   ASSERT_TRUE(sim.start(folder.path(), 3, {"--memory", file}));  // that dies takes it along
//       // adds --dir and --port; waits for "PORT_DIR=" and "PORT=" on its standard output
//   SensorLine line;
//   ASSERT_TRUE(line.open(sim.port_path(), 38400));   // raw, 8N1, at that speed
//   line.send(kQueryFrame);
//   EXPECT_EQ(line.read_line(2000), "KALVOR READY\r\n");
//   line.set_speed(9600);                              // what the host's SET_STATE does
//   std::string quiet = line.read_for(300);            // everything within 300 ms
//   EXPECT_TRUE(line.wait_hangup(3000));               // POLLHUP on the slave
//   int status = sim.stop();                           // exit status (-1 if killed)
//   wait_for_trace(trace_file, "H> 38400 AA 81 03 55");  // with --trace: handled
//
// The sim must be given time to read bytes before the line's speed changes:
// it judges each byte by the speed the port has when the byte is read.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <filesystem>
#include <sstream>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "link/termios_speeds.h"
#include "support/run_program.h"
#include "support/temp_dir.h"
#include "support/text_files.h"

namespace kal::test {

// The host's frames, byte for byte.
inline const std::string kQueryFrame = "\xAA\x80\x55";
inline const std::string kStartUploadFrame = "\xAA\x90\x55";
inline const std::string kShutDownFrame = "\xAA\x85\x55";
inline const std::string kClearMemoryFrame = "\xAA\x91\x19\x55";
inline std::string set_baud_frame(int code) {
  return std::string("\xAA\x81", 2) + static_cast<char>(code) + "\x55";
}

inline std::string sim_executable() { return std::string(KAL_BIN_DIR) + "/kalvor-sim"; }

// The simulated sensor as a child process. A test process that dies takes
// it along (it would hold the test's output open).
class SimProcess {
 public:
  // Starts kalvor-sim with --dir `dir` and `args`; true once it has printed
  // "PORT_DIR=..." and "PORT=..." (within 10 s).
  bool start(const std::filesystem::path& dir, std::vector<std::string> args) {
    args.insert(args.begin(), {sim_executable(), "--dir", dir.string()});
    ChildOptions options;
    options.die_with_parent = true;
    if (!child_.start(args, options)) return false;
    child_.close_stdin();  // the sensor reads only its port
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (std::chrono::steady_clock::now() < deadline) {
      if (parse_ready()) return true;
      pollfd entry{child_.stdout_fd(), POLLIN, 0};
      if (::poll(&entry, 1, 100) > 0) {
        char buffer[256];
        const ssize_t n = ::read(child_.stdout_fd(), buffer, sizeof buffer);
        if (n <= 0) return false;  // exited before it was ready
        output_.append(buffer, static_cast<std::size_t>(n));
      }
    }
    return false;
  }
  // The same publishing COM<port>.
  bool start(const std::filesystem::path& dir, int port, std::vector<std::string> args) {
    args.insert(args.begin(), {"--port", std::to_string(port)});
    return start(dir, std::move(args));
  }

  // What the sim printed on standard output before it was ready.
  const std::string& ready_output() const { return output_; }
  const std::string& port_dir() const { return port_dir_; }
  const std::string& port_name() const { return port_name_; }
  std::string port_path() const { return port_dir_ + "/" + port_name_; }

  // True while the simulator runs.
  bool running() { return child_.running(); }
  // Waits up to `limit` for the simulator to end by itself.
  bool ends_within(std::chrono::milliseconds limit) { return child_.ends_within(limit); }
  // The same as its exit status: -2 while it still runs, -1 after a signal.
  int wait_exit(int timeout_ms) {
    return ends_within(std::chrono::milliseconds(timeout_ms)) ? child_.exit_status() : -2;
  }

  // SIGTERM, then the exit status (SIGKILL after 5 s without an exit).
  int stop() {
    child_.send(SIGTERM);
    if (!ends_within(std::chrono::seconds(5))) child_.stop(SIGKILL);
    child_.stop();
    return child_.exit_status();
  }

 private:
  bool parse_ready() {
    const auto dir_at = output_.find("PORT_DIR=");
    const auto port_at = output_.find("\nPORT=");
    if (dir_at == std::string::npos || port_at == std::string::npos) return false;
    const auto dir_end = output_.find('\n', dir_at);
    const auto port_end = output_.find('\n', port_at + 1);
    if (port_end == std::string::npos) return false;
    port_dir_ = output_.substr(dir_at + 9, dir_end - dir_at - 9);
    port_name_ = output_.substr(port_at + 6, port_end - port_at - 6);
    return true;
  }

  ChildProcess child_;
  std::string output_;
  std::string port_dir_;
  std::string port_name_;
};

// The host's end of the line: the published slave, raw 8N1.
class SensorLine {
 public:
  SensorLine() = default;
  ~SensorLine() { close(); }
  SensorLine(const SensorLine&) = delete;
  SensorLine& operator=(const SensorLine&) = delete;

  bool open(const std::string& path, int baud) {
    close();
    fd_ = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd_ < 0) return false;
    termios mode{};
    if (::tcgetattr(fd_, &mode) != 0) return false;
    ::cfmakeraw(&mode);
    mode.c_cflag |= CLOCAL | CREAD;
    if (::tcsetattr(fd_, TCSANOW, &mode) != 0) return false;
    return set_speed(baud);
  }
  void close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
    pending_.clear();
  }

  // False for a rate the system has no speed code for.
  bool set_speed(int baud) {
    speed_t code = B0;
    termios mode{};
    if (!speed_of(baud, code) || ::tcgetattr(fd_, &mode) != 0) return false;
    ::cfsetispeed(&mode, code);
    ::cfsetospeed(&mode, code);
    return ::tcsetattr(fd_, TCSANOW, &mode) == 0;
  }

  bool send(std::string_view bytes) {
    while (!bytes.empty()) {
      const ssize_t n = ::write(fd_, bytes.data(), bytes.size());
      if (n < 0) {
        if (errno != EAGAIN) return false;
        pollfd entry{fd_, POLLOUT, 0};
        ::poll(&entry, 1, 100);
        continue;
      }
      bytes.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
  }

  // Bytes up to and including the first CR LF; whatever came when none
  // arrived within `timeout_ms` (empty when nothing came).
  std::string read_line(int timeout_ms) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    for (;;) {
      const auto end = pending_.find("\r\n");
      if (end != std::string::npos) {
        std::string line = pending_.substr(0, end + 2);
        pending_.erase(0, end + 2);
        return line;
      }
      const int left = ms_until(deadline);
      if (left <= 0 || !fill(left)) {
        std::string rest;
        rest.swap(pending_);
        return rest;
      }
    }
  }

  // Everything that arrives within `ms` (plus anything not yet taken).
  std::string read_for(int ms) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    for (int left = ms_until(deadline); left > 0; left = ms_until(deadline)) {
      if (!fill(left) && hung_up_) break;
    }
    std::string all;
    all.swap(pending_);
    return all;
  }

  // True when the line hangs up within `timeout_ms`: poll reports POLLHUP
  // (bytes still readable are kept for read_line / read_for).
  bool wait_hangup(int timeout_ms) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    while (!hung_up_) {
      const int left = ms_until(deadline);
      if (left <= 0) return false;
      fill(left);
    }
    return true;
  }
  bool hung_up() const { return hung_up_; }
  // errno of the read that met the hang-up (0 when the read returned 0).
  int hangup_errno() const { return hangup_errno_; }

  int fd() const { return fd_; }

 private:
  static int ms_until(std::chrono::steady_clock::time_point deadline) {
    return static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                deadline - std::chrono::steady_clock::now())
                                .count());
  }

  // Waits up to `timeout_ms` for bytes; false when none came.
  bool fill(int timeout_ms) {
    pollfd entry{fd_, POLLIN, 0};
    if (::poll(&entry, 1, timeout_ms) <= 0) return false;
    char buffer[4096];
    const ssize_t n = ::read(fd_, buffer, sizeof buffer);
    if (n > 0) {
      pending_.append(buffer, static_cast<std::size_t>(n));
      return true;
    }
    if (n == 0 || errno == EIO || (entry.revents & POLLHUP)) {
      if (!hung_up_) hangup_errno_ = n == 0 ? 0 : errno;
      hung_up_ = true;
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return false;
  }

  int fd_ = -1;
  std::string pending_;
  bool hung_up_ = false;
  int hangup_errno_ = 0;
};

// The RAW file a session wrote in `dir` (XC<hhmmss>-<ddmmyyyy>.RAW); empty
// when there is none.
inline std::string session_raw_name(const std::filesystem::path& dir) {
  for (const std::string& n : list_files(dir)) {
    if (n.size() == 21 && n.rfind("XC", 0) == 0 && n.substr(17) == ".RAW") return n;
  }
  return {};
}

// ---- the wire trace (--trace): "<ms> <dir> <speed> <hex bytes> | <text>" ----

// The lines of a trace file.
inline std::vector<std::string> trace_lines(const std::filesystem::path& path) {
  return read_lines(path);
}

// How many lines of the trace hold `text`.
inline int trace_count(const std::filesystem::path& path, std::string_view text) {
  int found = 0;
  for (const std::string& line : trace_lines(path)) found += line.find(text) != std::string::npos;
  return found;
}

// Waits up to `timeout_ms` until the trace holds `count` lines containing
// `text`: the sim has then handled those bytes, so the host may change its
// speed without the sim judging them by the new one.
inline bool wait_for_trace(const std::filesystem::path& path, std::string_view text, int count = 1,
                           int timeout_ms = 5000) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  while (trace_count(path, text) < count) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return true;
}

// One event of the trace.
struct WireEvent {
  long ms = 0;
  std::string dir;    // "H>", "H!", "S>" or "--"
  int speed = 0;      // the host's port speed at the time
  std::string bytes;  // decoded from the hex digits (empty for notes)
  std::string note;   // text of a "--" note
};

inline std::vector<WireEvent> read_trace(const std::filesystem::path& path) {
  std::vector<WireEvent> events;
  for (const std::string& line : trace_lines(path)) {
    std::istringstream fields(line);
    WireEvent e;
    fields >> e.ms >> e.dir >> e.speed;
    if (e.dir == "--") {
      std::getline(fields, e.note);
      if (!e.note.empty() && e.note[0] == ' ') e.note.erase(0, 1);
    } else {
      std::string hex;
      while (fields >> hex && hex != "|") {
        e.bytes.push_back(static_cast<char>(std::stoi(hex, nullptr, 16)));
      }
    }
    events.push_back(e);
  }
  return events;
}

// The frames the sensor heard from the host, in order, as "SPEED:HEX HEX".
inline std::vector<std::string> heard_frames(const std::vector<WireEvent>& events) {
  std::vector<std::string> frames;
  for (const WireEvent& e : events) {
    if (e.dir != "H>") continue;
    std::string text = std::to_string(e.speed) + ":";
    for (std::size_t i = 0; i < e.bytes.size(); ++i) {
      static const char kHex[] = "0123456789ABCDEF";
      const unsigned char b = static_cast<unsigned char>(e.bytes[i]);
      if (i > 0) text += ' ';
      text += kHex[b >> 4];
      text += kHex[b & 15];
    }
    frames.push_back(text);
  }
  return frames;
}

// What the sensor heard, one frame or command a line in order, without the
// times: "38400 AA 80 55 | ...".
inline std::vector<std::string> heard_lines(const std::filesystem::path& path) {
  std::vector<std::string> out;
  for (const std::string& l : trace_lines(path)) {
    const auto at = l.find(" H> ");
    if (at != std::string::npos) out.push_back(l.substr(at + 4));
  }
  return out;
}

}  // namespace kal::test

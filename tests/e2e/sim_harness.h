// Drives the real kalvor-sim executable over its pseudo-terminal, the way a
// host program does. Header only; reusable by any end-to-end test.
//
//   SimFolder folder;                                  // temp folder, removed at the end
//   SimProcess sim;                                    // SIGTERM + wait when it goes
//   ASSERT_TRUE(sim.start(folder.path(), {"--port", "3", "--memory", file}));
//       // adds --dir; waits for "PORT_DIR=" and "PORT=" on its standard output
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
#include <spawn.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <iterator>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "link/termios_speeds.h"
#include "support/text_files.h"

extern char** environ;

namespace kal::simtest {

// The host's frames, byte for byte.
inline const std::string kQueryFrame = "\xAA\x80\x55";
inline const std::string kStartUploadFrame = "\xAA\x90\x55";
inline const std::string kShutDownFrame = "\xAA\x85\x55";
inline const std::string kClearMemoryFrame = "\xAA\x91\x19\x55";
inline std::string set_baud_frame(int code) {
  return std::string("\xAA\x81", 2) + static_cast<char>(code) + "\x55";
}

inline std::string sim_executable() { return std::string(KAL_BIN_DIR) + "/kalvor-sim"; }

class SimFolder {
 public:
  SimFolder() {
    std::string pattern =
        (std::filesystem::temp_directory_path() / "kalvor-sim-test-XXXXXX").string();
    if (::mkdtemp(pattern.data()) != nullptr) path_ = pattern;
  }
  ~SimFolder() {
    std::error_code ec;
    if (!path_.empty()) std::filesystem::remove_all(path_, ec);
  }
  SimFolder(const SimFolder&) = delete;
  SimFolder& operator=(const SimFolder&) = delete;

  const std::string& path() const { return path_; }
  std::string file(std::string_view name) const { return path_ + "/" + std::string(name); }

  // Writes `content` byte for byte and returns the file's path.
  std::string write_file(std::string_view name, std::string_view content) const {
    test::write_file(file(name), content);
    return file(name);
  }
  std::string read_file(std::string_view name) const { return test::read_file(file(name)); }

 private:
  std::string path_;
};

class SimProcess {
 public:
  SimProcess() = default;
  ~SimProcess() { stop(); }
  SimProcess(const SimProcess&) = delete;
  SimProcess& operator=(const SimProcess&) = delete;

  // Starts kalvor-sim with --dir `dir` and `args`; true once it has printed
  // "PORT_DIR=..." and "PORT=..." (within 10 s).
  bool start(const std::string& dir, std::vector<std::string> args) {
    args.insert(args.begin(), {sim_executable(), "--dir", dir});
    int out_pipe[2];
    if (::pipe(out_pipe) != 0) return false;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out_pipe[1], STDOUT_FILENO);
    posix_spawn_file_actions_addclose(&actions, out_pipe[0]);
    posix_spawn_file_actions_addclose(&actions, out_pipe[1]);
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    const int spawned =
        ::posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(out_pipe[1]);
    if (spawned != 0) {
      ::close(out_pipe[0]);
      pid_ = -1;
      return false;
    }
    out_fd_ = out_pipe[0];
    dir_ = dir;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (std::chrono::steady_clock::now() < deadline) {
      if (parse_ready()) return true;
      pollfd entry{out_fd_, POLLIN, 0};
      if (::poll(&entry, 1, 100) > 0) {
        char buffer[256];
        const ssize_t n = ::read(out_fd_, buffer, sizeof buffer);
        if (n <= 0) return false;  // exited before it was ready
        output_.append(buffer, static_cast<std::size_t>(n));
      }
    }
    return false;
  }

  // What the sim printed on standard output before it was ready.
  const std::string& ready_output() const { return output_; }
  const std::string& port_dir() const { return port_dir_; }
  const std::string& port_name() const { return port_name_; }
  std::string port_path() const { return port_dir_ + "/" + port_name_; }

  // Waits up to `timeout_ms` for the sim to end by itself; its exit status,
  // or -2 while it still runs, -1 after a signal.
  int wait_exit(int timeout_ms) {
    if (pid_ < 0) return status_;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    for (;;) {
      int raw = 0;
      if (::waitpid(pid_, &raw, WNOHANG) == pid_) {
        pid_ = -1;
        status_ = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
        close_output();
        return status_;
      }
      if (std::chrono::steady_clock::now() >= deadline) return -2;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
  }

  // SIGTERM, then the exit status (SIGKILL after 5 s without an exit).
  int stop() {
    if (pid_ < 0) return status_;
    ::kill(pid_, SIGTERM);
    if (wait_exit(5000) == -2) {
      ::kill(pid_, SIGKILL);
      wait_exit(5000);
      status_ = -1;
    }
    return status_;
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
  void close_output() {
    if (out_fd_ >= 0) ::close(out_fd_);
    out_fd_ = -1;
  }

  pid_t pid_ = -1;
  int out_fd_ = -1;
  int status_ = -1;
  std::string dir_;
  std::string output_;
  std::string port_dir_;
  std::string port_name_;
};

inline speed_t termios_speed(int baud) {
  speed_t code = B0;
  return speed_of(baud, code) ? code : B0;
}

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

  bool set_speed(int baud) {
    termios mode{};
    if (::tcgetattr(fd_, &mode) != 0) return false;
    ::cfsetispeed(&mode, termios_speed(baud));
    ::cfsetospeed(&mode, termios_speed(baud));
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
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
          deadline - std::chrono::steady_clock::now());
      if (left.count() <= 0 || !fill(static_cast<int>(left.count()))) {
        std::string rest;
        rest.swap(pending_);
        return rest;
      }
    }
  }

  // Everything that arrives within `ms` (plus anything not yet taken).
  std::string read_for(int ms) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    for (;;) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
          deadline - std::chrono::steady_clock::now());
      if (left.count() <= 0) break;
      if (!fill(static_cast<int>(left.count())) && hung_up_) break;
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
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
          deadline - std::chrono::steady_clock::now());
      if (left.count() <= 0) return false;
      fill(static_cast<int>(left.count()));
    }
    return true;
  }
  bool hung_up() const { return hung_up_; }
  // errno of the read that met the hang-up (0 when the read returned 0).
  int hangup_errno() const { return hangup_errno_; }

  int fd() const { return fd_; }

 private:
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

// The lines of a trace file.
inline std::vector<std::string> trace_lines(const std::string& path) {
  std::ifstream in(path);
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

// Waits up to `timeout_ms` until the trace holds `count` lines containing
// `text`: the sim has then handled those bytes, so the host may change its
// speed without the sim judging them by the new one.
inline bool wait_for_trace(const std::string& path, std::string_view text, int count = 1,
                           int timeout_ms = 5000) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  for (;;) {
    int found = 0;
    for (const auto& line : trace_lines(path)) {
      if (line.find(text) != std::string::npos) ++found;
    }
    if (found >= count) return true;
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
}

}  // namespace kal::simtest

// Runs the real kalfetch5 executable the way an operator does, against the
// real kalvor-sim: each run in a temp folder of its own, standard input
// either a pipe (scripted answers, then end of input) or a pseudo-terminal
// that is the program's controlling terminal (so that a key pressed during a
// wait is "waiting", as on the operator's console). Every run is guarded by
// a wall-clock limit: a program still running then is killed and the run
// reports it.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <mutex>
#include <sstream>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "support/sim_harness.h"

namespace kal::faulttest {

namespace fs = std::filesystem;
using Lines = std::vector<std::string>;

inline std::string kalfetch5_path() { return std::string(KAL_BIN_DIR) + "/kalfetch5"; }

using test::list_files;
using test::numbered;
using test::read_file;
using test::session_raw_name;
using test::split_lines;
using test::write_file;

// True when the lines of `memory` appear in `raw` in their order (other
// lines, such as damaged copies or repeats, may stand between them).
// `missing` receives the first memory line not found.
inline bool holds_in_order(const Lines& raw, const Lines& memory, std::string& missing) {
  std::size_t at = 0;
  for (const std::string& want : memory) {
    while (at < raw.size() && raw[at] != want) ++at;
    if (at == raw.size()) {
      missing = want;
      return false;
    }
    ++at;
  }
  return true;
}

using Folder = test::TempDir;

struct Finished {
  bool exited = false;     // ended by exit(), not by a signal
  int status = -1;         // its exit status
  int signal = 0;          // the signal that ended it, if any
  bool timed_out = false;  // still running at the limit: killed by the guard
  double seconds = 0;      // wall time from start to end
  std::string out;         // standard output and standard error
  Lines lines;
};

enum class Input { pipe, terminal };

// One kalfetch5 process.
class Kalfetch {
 public:
  Kalfetch() = default;
  ~Kalfetch() { kill_now(); }
  Kalfetch(const Kalfetch&) = delete;
  Kalfetch& operator=(const Kalfetch&) = delete;

  // Starts kalfetch5 in `cwd` with `args` and KALFETCH_PORT_DIR=`port_dir`.
  // With a pipe, `script` is written to standard input, which is then
  // closed (end of input); with a terminal, keys are sent with press().
  bool start(const fs::path& cwd, const std::vector<std::string>& args, const fs::path& port_dir,
             Input input, const std::string& script = "") {
    return start_program(kalfetch5_path(), cwd, args, port_dir, input, script);
  }

  // The same with another program in front (a tracer that runs kalfetch5).
  bool start_program(const std::string& exe, const fs::path& cwd,
                     const std::vector<std::string>& args, const fs::path& port_dir,
                     Input input = Input::pipe, const std::string& script = "") {
    int out[2];
    if (::pipe(out) != 0) return false;
    int in[2] = {-1, -1};
    int slave = -1;
    if (input == Input::pipe) {
      if (::pipe(in) != 0) return false;
    } else if (::openpty(&master_, &slave, nullptr, nullptr, nullptr) != 0) {
      return false;
    }
    std::vector<std::string> argv_text = {exe};
    argv_text.insert(argv_text.end(), args.begin(), args.end());
    started_ = std::chrono::steady_clock::now();
    pid_ = ::fork();
    if (pid_ < 0) return false;
    if (pid_ == 0) {
      if (input == Input::pipe) {
        ::dup2(in[0], STDIN_FILENO);
        ::close(in[0]);
        ::close(in[1]);
      } else {
        // A session of its own with the terminal as controlling terminal.
        ::setsid();
        ::ioctl(slave, TIOCSCTTY, 0);
        ::dup2(slave, STDIN_FILENO);
        ::close(slave);
        ::close(master_);
      }
      ::dup2(out[1], STDOUT_FILENO);
      ::dup2(out[1], STDERR_FILENO);
      ::close(out[0]);
      ::close(out[1]);
      if (::chdir(cwd.c_str()) != 0) ::_exit(126);
      ::setenv("KALFETCH_PORT_DIR", port_dir.c_str(), 1);
      std::vector<char*> argv;
      for (std::string& a : argv_text) argv.push_back(a.data());
      argv.push_back(nullptr);
      ::execv(argv[0], argv.data());
      ::_exit(127);
    }
    ::close(out[1]);
    out_fd_ = out[0];
    if (input == Input::pipe) {
      ::close(in[0]);
      const char* p = script.data();
      std::size_t left = script.size();
      while (left > 0) {
        const ssize_t n = ::write(in[1], p, left);
        if (n <= 0) break;
        p += n;
        left -= static_cast<std::size_t>(n);
      }
      ::close(in[1]);
    } else {
      ::close(slave);
    }
    collector_ = std::thread([this] { collect(); });
    return true;
  }

  // Everything the program wrote so far.
  std::string output() {
    std::lock_guard<std::mutex> hold(mutex_);
    return out_;
  }

  // Waits up to `timeout_ms` until the output holds `text` at or after
  // offset `from`; the offset just past it, or npos.
  std::size_t wait_for(std::string_view text, int timeout_ms, std::size_t from = 0) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    for (;;) {
      {
        std::lock_guard<std::mutex> hold(mutex_);
        const std::size_t at = out_.find(text, from);
        if (at != std::string::npos) return at + text.size();
        if (collected_) return std::string::npos;
      }
      if (std::chrono::steady_clock::now() >= deadline) return std::string::npos;
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
  }

  // Types `keys` on the program's terminal.
  bool press(std::string_view keys) {
    return master_ >= 0 && ::write(master_, keys.data(), keys.size()) ==
                               static_cast<ssize_t>(keys.size());
  }

  // Waits for the end of the program, at most `limit_ms`; a program still
  // running then is killed and reported as timed out.
  Finished finish(int limit_ms) {
    Finished f;
    const auto deadline = started_ + std::chrono::milliseconds(limit_ms);
    int raw = 0;
    while (pid_ > 0) {
      const pid_t done = ::waitpid(pid_, &raw, WNOHANG);
      if (done == pid_) {
        pid_ = -1;
        break;
      }
      if (std::chrono::steady_clock::now() >= deadline) {
        f.timed_out = true;
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, &raw, 0);
        pid_ = -1;
        break;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    f.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started_).count();
    if (collector_.joinable()) collector_.join();
    if (master_ >= 0) ::close(master_);
    master_ = -1;
    if (!f.timed_out) {
      f.exited = WIFEXITED(raw);
      f.status = f.exited ? WEXITSTATUS(raw) : -1;
      f.signal = WIFSIGNALED(raw) ? WTERMSIG(raw) : 0;
    }
    f.out = output();
    f.lines = split_lines(f.out);
    return f;
  }

 private:
  // Gathers the program's output until it closes it; also drains the
  // terminal's echo so that the program never blocks on it.
  void collect() {
    char buffer[4096];
    bool echo_open = master_ >= 0;
    for (;;) {
      pollfd fds[2] = {{out_fd_, POLLIN, 0}, {master_, POLLIN, 0}};
      const nfds_t count = echo_open ? 2 : 1;
      if (::poll(fds, count, 100) < 0) continue;
      if (count == 2 && (fds[1].revents & (POLLIN | POLLHUP | POLLERR))) {
        // The echo is not needed; a closed terminal is simply not read again.
        echo_open = ::read(master_, buffer, sizeof buffer) > 0;
      }
      if (fds[0].revents & (POLLIN | POLLHUP)) {
        const ssize_t n = ::read(out_fd_, buffer, sizeof buffer);
        if (n <= 0) break;
        std::lock_guard<std::mutex> hold(mutex_);
        out_.append(buffer, static_cast<std::size_t>(n));
      }
    }
    ::close(out_fd_);
    out_fd_ = -1;
    std::lock_guard<std::mutex> hold(mutex_);
    collected_ = true;
  }

  void kill_now() {
    if (pid_ > 0) {
      ::kill(pid_, SIGKILL);
      int raw = 0;
      ::waitpid(pid_, &raw, 0);
      pid_ = -1;
    }
    if (collector_.joinable()) collector_.join();
    if (master_ >= 0) ::close(master_);
    master_ = -1;
  }

  pid_t pid_ = -1;
  int out_fd_ = -1;
  int master_ = -1;
  std::thread collector_;
  std::mutex mutex_;
  std::string out_;
  bool collected_ = false;
  std::chrono::steady_clock::time_point started_;
};

}  // namespace kal::faulttest

// Programs run as child processes: standard input and output on pipes, an
// optional working folder and environment, and a time limit after which the
// child is killed, so that a program that hangs fails its test instead of
// holding up the whole run.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace kal::test {

struct ChildOptions {
  std::filesystem::path dir;  // working folder of the child; empty: the test's
  std::vector<std::pair<std::string, std::string>> env;  // set in the child only
  bool die_with_parent = false;  // SIGTERM to the child when the test process dies
};

// One child process; it is stopped (SIGTERM) and reaped when the object ends.
class ChildProcess {
 public:
  ChildProcess() = default;
  ~ChildProcess() { stop(); }
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  // Starts argv[0] with `argv`; false when the pipes or the fork failed.
  bool start(std::vector<std::string> argv, const ChildOptions& options = {}) {
    int in[2], out[2];
    // Close-on-exec: no other test's pipe end leaks into the child.
    if (::pipe2(in, O_CLOEXEC) != 0) return false;
    if (::pipe2(out, O_CLOEXEC) != 0) {
      close_pair(in);
      return false;
    }
    pid_ = ::fork();
    if (pid_ < 0) {
      close_pair(in);
      close_pair(out);
      return false;
    }
    if (pid_ == 0) exec_child(argv, options, in[0], out[1]);
    ::close(in[0]);
    ::close(out[1]);
    stdin_fd_ = in[1];
    stdout_fd_ = out[0];
    return true;
  }

  int stdin_fd() const { return stdin_fd_; }
  int stdout_fd() const { return stdout_fd_; }
  void close_stdin() { close_fd(stdin_fd_); }

  // True while the child runs; once it has ended, exit_status() tells how.
  bool running() {
    if (pid_ <= 0) return false;
    int status = 0;
    if (::waitpid(pid_, &status, WNOHANG) != pid_) return true;
    reaped(status);
    return false;
  }

  // Waits up to `limit` for the child to end by itself.
  bool ends_within(std::chrono::milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (running()) {
      if (std::chrono::steady_clock::now() >= deadline) return false;
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
  }

  // Waits for the end of the child.
  void wait() {
    if (pid_ <= 0) return;
    int status = 0;
    if (::waitpid(pid_, &status, 0) == pid_) reaped(status);
  }

  // Sends `signal` to the child (when it still runs) without waiting.
  void send(int signal) {
    if (pid_ > 0) ::kill(pid_, signal);
  }

  // Ends the child with `signal` (when it still runs), reaps it and closes the pipes.
  void stop(int signal = SIGTERM) {
    if (pid_ > 0) {
      ::kill(pid_, signal);
      wait();
    }
    close_fd(stdin_fd_);
    close_fd(stdout_fd_);
  }

  // The exit code of a child that ended by exit(), else -1.
  int exit_status() const { return exit_status_; }

 private:
  [[noreturn]] static void exec_child(std::vector<std::string>& argv, const ChildOptions& options,
                                      int stdin_end, int stdout_end) {
    if (options.die_with_parent) ::prctl(PR_SET_PDEATHSIG, SIGTERM);
    ::signal(SIGPIPE, SIG_DFL);
    ::dup2(stdin_end, STDIN_FILENO);
    ::dup2(stdout_end, STDOUT_FILENO);
    if (!options.dir.empty() && ::chdir(options.dir.c_str()) != 0) ::_exit(126);
    for (const auto& [name, value] : options.env) ::setenv(name.c_str(), value.c_str(), 1);
    std::vector<char*> args;
    for (std::string& a : argv) args.push_back(a.data());
    args.push_back(nullptr);
    ::execv(args[0], args.data());
    ::_exit(127);
  }

  void reaped(int status) {
    exit_status_ = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    pid_ = -1;
  }
  static void close_fd(int& fd) {
    if (fd >= 0) ::close(fd);
    fd = -1;
  }
  static void close_pair(int (&fds)[2]) {
    ::close(fds[0]);
    ::close(fds[1]);
  }

  pid_t pid_ = -1;
  int stdin_fd_ = -1;
  int stdout_fd_ = -1;
  int exit_status_ = -1;
};

struct ProgramOutcome {
  int exit_status = -1;  // -1 when the program did not end by exit()
  std::string out;       // all it wrote to standard output
  bool timed_out = false;
};

// Runs `argv` to its end with `input` on standard input. A program still
// running after `limit` is killed; its outcome says so.
inline ProgramOutcome run_program(std::vector<std::string> argv, const std::string& input,
                                  const ChildOptions& options = {},
                                  std::chrono::milliseconds limit = std::chrono::minutes(2)) {
  ProgramOutcome outcome;
  ChildProcess child;
  if (!child.start(std::move(argv), options)) return outcome;
  // A program that ends without reading its input must not end the test
  // with SIGPIPE: the write then fails with EPIPE instead.
  ::signal(SIGPIPE, SIG_IGN);
  const auto deadline = std::chrono::steady_clock::now() + limit;
  const auto time_left = [&deadline] {
    return std::chrono::duration_cast<std::chrono::milliseconds>(deadline -
                                                                 std::chrono::steady_clock::now());
  };
  const auto give_up = [&outcome, &child] {
    outcome.timed_out = true;
    child.stop(SIGKILL);
    return outcome;
  };
  std::size_t sent = 0;
  if (input.empty()) {
    child.close_stdin();
  } else {
    ::fcntl(child.stdin_fd(), F_SETFL, O_NONBLOCK);  // a full pipe must not block the reading
  }
  for (;;) {
    const auto left = time_left();
    if (left.count() <= 0) return give_up();
    struct pollfd fds[2] = {{child.stdout_fd(), POLLIN, 0}, {child.stdin_fd(), POLLOUT, 0}};
    const nfds_t count = child.stdin_fd() >= 0 ? 2 : 1;
    if (::poll(fds, count, static_cast<int>(left.count())) <= 0) continue;
    if (count == 2 && fds[1].revents != 0) {
      const ssize_t n = ::write(child.stdin_fd(), input.data() + sent, input.size() - sent);
      if (n > 0) sent += static_cast<std::size_t>(n);
      const bool refused = n < 0 && errno != EAGAIN && errno != EINTR;  // EPIPE: it stopped reading
      if (refused || sent == input.size()) child.close_stdin();  // end of input
    }
    if (fds[0].revents != 0) {
      char buffer[4096];
      const ssize_t n = ::read(child.stdout_fd(), buffer, sizeof buffer);
      if (n <= 0) break;  // the program closed its output
      outcome.out.append(buffer, static_cast<std::size_t>(n));
    }
  }
  // Its output is closed; it still has until the deadline to end.
  if (!child.ends_within(time_left())) return give_up();
  outcome.exit_status = child.exit_status();
  return outcome;
}

}  // namespace kal::test

// The platform console on POSIX, exercised in child processes whose
// standard input is a pipe or a pseudo-terminal.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <pty.h>
#include <signal.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <poll.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>

#include "console/console.h"
#include "console/console_output.h"

namespace kal {
namespace {

// Writes all of `text` to `fd`.
void write_all(int fd, std::string_view text) {
  while (!text.empty()) {
    const ssize_t n = ::write(fd, text.data(), text.size());
    if (n <= 0) return;
    text.remove_prefix(static_cast<std::size_t>(n));
  }
}

std::string read_all(int fd) {
  std::string out;
  char buf[256];
  for (;;) {
    const ssize_t n = ::read(fd, buf, sizeof buf);
    if (n <= 0) break;
    out.append(buf, static_cast<std::size_t>(n));
  }
  return out;
}

// Describes a key for the report: printable as itself, others as <code>.
std::string describe(char key) {
  const unsigned char u = static_cast<unsigned char>(key);
  if (u >= 32 && u < 127) return std::string(1, key);
  return "<" + std::to_string(u) + ">";
}

// Runs `body` in a child whose standard input reads `input` from a pipe; the
// child's report comes back through another pipe.
std::string run_with_piped_input(const std::string& input,
                                 const std::function<std::string()>& body) {
  int in[2], out[2];
  if (pipe(in) != 0 || pipe(out) != 0) return "pipe failed";
  const pid_t pid = fork();
  if (pid == 0) {
    dup2(in[0], STDIN_FILENO);
    close(in[0]);
    close(in[1]);
    close(out[0]);
    set_console(nullptr);
    const std::string report = body();
    write_all(out[1], report);
    _exit(0);
  }
  close(in[0]);
  close(out[1]);
  write_all(in[1], input);
  close(in[1]);  // end of input
  const std::string report = read_all(out[0]);
  close(out[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  return report;
}

TEST(ConsolePipe, KeysAndLinesTakeTheNextBytesAndEndCleanly) {
  const std::string report = run_with_piped_input("n\n/\n", [] {
    std::string r;
    // Scripted answers are never "waiting": polling loops leave them alone.
    r += KEY_WAITING() ? "W" : "-";
    char key = 0;
    GET_KEY(key);
    r += describe(key) + "|";
    std::string line;
    r += console().read_line(line) ? "[" + line + "]" : "EOF";
    r += console().read_line(line) ? "[" + line + "]" : "EOF";
    r += console().read_line(line) ? "[" + line + "]" : "EOF";
    GET_KEY(key);  // at the end of input: a blank, at once
    r += "|" + describe(key);
    r += KEY_WAITING() ? "W" : "-";
    return r;
  });
  EXPECT_EQ(report, "-n|[][/]EOF| -");
}

TEST(ConsolePipe, CarriageReturnOfATypedLineIsDropped) {
  const std::string report = run_with_piped_input("0.5\r\nlast", [] {
    std::string r, line;
    while (console().read_line(line)) r += "[" + line + "]";
    return r;
  });
  EXPECT_EQ(report, "[0.5][last]");
}

// A child with a pseudo-terminal as its controlling terminal and standard input.
struct TerminalChild {
  pid_t pid = -1;
  int master = -1;
  int report = -1;  // the child's report pipe

  // With `normal_exit` the child ends through exit(), running the exit
  // handlers as a program that returns from main does.
  bool start(const std::function<std::string(int report_fd)>& body, bool normal_exit = false) {
    int out[2];
    if (pipe(out) != 0) return false;
    pid = forkpty(&master, nullptr, nullptr, nullptr);
    if (pid < 0) return false;
    if (pid == 0) {
      close(out[0]);
      set_console(nullptr);
      const std::string r = body(out[1]);
      write_all(out[1], r);
      if (normal_exit) std::exit(0);
      _exit(0);
    }
    close(out[1]);
    report = out[0];
    return true;
  }
  // Waits for the child's one-byte signal that it is ready.
  bool wait_ready() {
    char c = 0;
    return ::read(report, &c, 1) == 1;
  }
  int finish() {
    int status = 0;
    waitpid(pid, &status, 0);
    return status;
  }
  tcflag_t local_flags() const {
    struct termios t{};
    tcgetattr(master, &t);
    return t.c_lflag;
  }
  ~TerminalChild() {
    if (report >= 0) close(report);
    if (master >= 0) close(master);
  }
};

TEST(ConsoleTerminal, KeysAreUnbufferedUnechoedAndCursorKeysNeverQuit) {
  TerminalChild child;
  ASSERT_TRUE(child.start([](int report_fd) {
    std::string r;
    r += KEY_WAITING() ? "W" : "-";  // nothing typed yet
    write_all(report_fd, "R");       // the terminal is now in key mode
    char key = 0;
    for (int i = 0; i < 7; ++i) {
      GET_KEY(key);
      r += describe(key);
    }
    return r;
  }));
  ASSERT_TRUE(child.wait_ready());
  const tcflag_t flags = child.local_flags();
  EXPECT_EQ(flags & ECHO, 0u);
  EXPECT_EQ(flags & ICANON, 0u);
  // q without Enter; up arrow (ESC [ A) gives 224 and 72; F2 (ESC O Q) gives
  // 0 and 0, never a Q; then "Y" and "x".
  write_all(child.master, "q");
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  write_all(child.master, "\x1b[A");
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  write_all(child.master, "\x1bOQ");
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  write_all(child.master, "Yx");
  std::string report = read_all(child.report);
  child.finish();
  EXPECT_EQ(report, "-q<224>H<0><0>Yx");
}

TEST(ConsoleTerminal, KeyWaitingSeesATypedKeyUntilItIsTaken) {
  TerminalChild child;
  ASSERT_TRUE(child.start([](int report_fd) {
    std::string r;
    r += KEY_WAITING() ? "W" : "-";
    write_all(report_fd, "R");
    while (!KEY_WAITING()) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    r += KEY_WAITING() ? "W" : "-";  // still waiting: nothing was consumed
    char key = 0;
    GET_KEY(key);
    r += describe(key);
    r += KEY_WAITING() ? "W" : "-";
    return r;
  }));
  ASSERT_TRUE(child.wait_ready());
  write_all(child.master, "Q");
  const std::string report = read_all(child.report);
  child.finish();
  EXPECT_EQ(report, "-WQ-");
}

TEST(ConsoleTerminal, TerminalIsRestoredAtExit) {
  TerminalChild child;
  ASSERT_TRUE(child.start([](int report_fd) {
    KEY_WAITING();
    write_all(report_fd, "R");
    char key = 0;
    GET_KEY(key);
    return std::string();
  }, /*normal_exit=*/true));
  ASSERT_TRUE(child.wait_ready());
  EXPECT_EQ(child.local_flags() & (ECHO | ICANON), 0u);
  write_all(child.master, "n");
  read_all(child.report);
  child.finish();
  EXPECT_EQ(child.local_flags() & (ECHO | ICANON), tcflag_t{ECHO | ICANON});
}

TEST(ConsoleTerminal, TerminalIsRestoredOnSigterm) {
  for (const int sig : {SIGTERM, SIGINT}) {
    SCOPED_TRACE(sig);
    TerminalChild child;
    ASSERT_TRUE(child.start([](int report_fd) {
      KEY_WAITING();
      write_all(report_fd, "R");
      for (;;) pause();
      return std::string();
    }));
    ASSERT_TRUE(child.wait_ready());
    EXPECT_EQ(child.local_flags() & (ECHO | ICANON), 0u);
    kill(child.pid, sig);
    const int status = child.finish();
    EXPECT_TRUE(WIFSIGNALED(status));
    EXPECT_EQ(WTERMSIG(status), sig);
    EXPECT_EQ(child.local_flags() & (ECHO | ICANON), tcflag_t{ECHO | ICANON});
  }
}

TEST(ConsoleTerminal, TypedLinesAreEchoedAgain) {
  TerminalChild child;
  ASSERT_TRUE(child.start([](int report_fd) {
    KEY_WAITING();  // key mode
    std::string line;
    write_all(report_fd, "R");
    const bool got = console().read_line(line);
    return got ? "[" + line + "]" : std::string("EOF");
  }));
  ASSERT_TRUE(child.wait_ready());
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_EQ(child.local_flags() & (ECHO | ICANON), tcflag_t{ECHO | ICANON});
  write_all(child.master, "0.3\n");
  const std::string report = read_all(child.report);
  child.finish();
  EXPECT_EQ(report, "[0.3]");
}

// A child whose standard input and output are pipes the test holds, with
// a report pipe of its own for marks written at once.
struct PipedChild {
  pid_t pid = -1;
  int in = -1;      // the child's standard input
  int out = -1;     // the child's standard output
  int report = -1;  // the child's unbuffered marks

  // The body runs in the child, which then ends through exit() as a program
  // that returns from main does.
  bool start(const std::function<void(int report_fd)>& body) {
    int in_pipe[2], out_pipe[2], report_pipe[2];
    if (pipe(in_pipe) != 0 || pipe(out_pipe) != 0 || pipe(report_pipe) != 0) return false;
    pid = fork();
    if (pid < 0) return false;
    if (pid == 0) {
      dup2(in_pipe[0], STDIN_FILENO);
      dup2(out_pipe[1], STDOUT_FILENO);
      for (const int fd : {in_pipe[0], in_pipe[1], out_pipe[0], out_pipe[1], report_pipe[0]}) close(fd);
      set_console(nullptr);
      body(report_pipe[1]);
      std::exit(0);
    }
    close(in_pipe[0]);
    close(out_pipe[1]);
    close(report_pipe[1]);
    in = in_pipe[1];
    out = out_pipe[0];
    report = report_pipe[0];
    return true;
  }
  // Reads the child's output until it holds `text` or `limit` has passed.
  std::string read_until(std::string_view text, std::chrono::milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (seen.find(text) == std::string::npos) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
          deadline - std::chrono::steady_clock::now());
      if (left.count() <= 0) break;
      struct pollfd p{out, POLLIN, 0};
      if (::poll(&p, 1, static_cast<int>(left.count())) <= 0) continue;
      char buf[4096];
      const ssize_t n = ::read(out, buf, sizeof buf);
      if (n <= 0) break;
      seen.append(buf, static_cast<std::size_t>(n));
    }
    return seen;
  }
  // Waits for the child's one-byte mark.
  bool wait_mark() {
    char c = 0;
    return ::read(report, &c, 1) == 1;
  }
  int finish() {
    int status = 0;
    waitpid(pid, &status, 0);
    pid = -1;
    return status;
  }
  ~PipedChild() {
    if (pid > 0) {
      kill(pid, SIGKILL);
      finish();
    }
    for (const int fd : {in, out, report}) {
      if (fd >= 0) close(fd);
    }
  }
  std::string seen;
};

// A burst of lines, enough for the console to hold the next ones back, and
// its text as it reaches the output.
constexpr int kBurst = 2 * kBurstLines;
void put_burst() {
  for (int i = 1; i <= kBurst; ++i) put_line("T$ packet error: " + std::to_string(i));
}
std::string burst_text() {
  std::string text;
  for (int i = 1; i <= kBurst; ++i) text += "T$ packet error: " + std::to_string(i) + "\n";
  return text;
}

// The threads of the calling process.
int thread_count() {
  int count = 0;
  for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator("/proc/self/task")) ++count;
  return count;
}

// Lines far apart go out at once, as they come, and start no thread (a
// second thread would make the C library lock every stdio and heap call);
// a burst starts the gathering and its thread.
TEST(ConsoleBuffering, AFewLinesGoOutAtOnceAndOnlyABurstStartsAThread) {
  PipedChild child;
  ASSERT_TRUE(child.start([](int report_fd) {
    const int threads = thread_count();  // a sanitizer may have one of its own
    set_console_delay_limit(std::chrono::hours(1));
    for (int i = 1; i <= 10; ++i) put_line(" Records saved: " + std::to_string(i));
    write_all(report_fd, thread_count() == threads ? "none," : "more,");
    char go = 0;
    if (::read(STDIN_FILENO, &go, 1) != 1) return;  // past the console: nothing written here
    put_burst();
    write_all(report_fd, thread_count() > threads ? "more" : "none");
    close(report_fd);
    for (;;) pause();
  }));
  std::string lines;
  for (int i = 1; i <= 10; ++i) lines += " Records saved: " + std::to_string(i) + "\n";
  EXPECT_EQ(child.read_until(lines, std::chrono::seconds(10)), lines);
  write_all(child.in, "g");
  EXPECT_EQ(read_all(child.report), "none,more");
}

// Lines held back by the console reach standard output at every wait: with
// an hour's delay limit only the wait itself can have written them.
TEST(ConsoleBuffering, EveryWaitWritesTheLinesBeforeIt) {
  struct WaitCase {
    const char* name;
    std::function<void()> wait;
  };
  const WaitCase table[] = {
      {"typed line", [] {
         std::string reply;
         console().read_line(reply);
       }},
      {"key", [] {
         char key = 0;
         GET_KEY(key);
       }},
      {"pause", [] { SLEEP_MS(60000); }},
      {"key test of a polling loop", [] {
         KEY_WAITING();
         for (;;) pause();
       }},
      {"flush before a wait on the sensor or a line to standard error", [] {
         flush_console();
         for (;;) pause();
       }},
  };
  for (const WaitCase& c : table) {
    SCOPED_TRACE(c.name);
    PipedChild child;
    ASSERT_TRUE(child.start([&c](int) {
      set_console_delay_limit(std::chrono::hours(1));
      put_burst();
      put_line("Enter Sensor height:");
      put_line("");
      c.wait();
    }));
    EXPECT_EQ(child.read_until("Enter Sensor height:\n\n", std::chrono::seconds(10)),
              burst_text() + "Enter Sensor height:\n\n");
  }
}

TEST(ConsoleBuffering, APromptReachesThePipeBeforeTheReplyIsRead) {
  PipedChild child;
  ASSERT_TRUE(child.start([](int) {
    set_console_delay_limit(std::chrono::hours(1));
    put_burst();
    put_line("Enter Sensor height manually or type / followed by <ENTER> to accept this value ");
    std::string reply;
    const bool got = console().read_line(reply);
    put_line(got ? "reply [" + reply + "]" : "EOF");
  }));
  const std::string prompt =
      burst_text() + "Enter Sensor height manually or type / followed by <ENTER> to accept this value \n";
  // The reply is typed only once the prompt is there to read.
  ASSERT_EQ(child.read_until(prompt, std::chrono::seconds(10)), prompt);
  write_all(child.in, "0.35\n");
  EXPECT_EQ(child.read_until("]\n", std::chrono::seconds(10)), prompt + "reply [0.35]\n");
  const int status = child.finish();
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

TEST(ConsoleBuffering, ALineReachesThePipeWithinATenthOfASecondWhileTheProgramComputes) {
  PipedChild child;
  ASSERT_TRUE(child.start([](int report_fd) {
    put_burst();
    put_line("Transcribing...");
    write_all(report_fd, "P");  // the line is written; now nothing else happens
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    while (std::chrono::steady_clock::now() < until) {
    }
  }));
  ASSERT_TRUE(child.wait_mark());
  const auto put = std::chrono::steady_clock::now();
  EXPECT_EQ(child.read_until("Transcribing...\n", std::chrono::seconds(10)), burst_text() + "Transcribing...\n");
  EXPECT_LE(std::chrono::steady_clock::now() - put, std::chrono::milliseconds(100));
}

// Many lines, more than one write's worth, arrive whole and in order at the
// end of the program, whether it ends by exit() or by a signal.
TEST(ConsoleBuffering, EveryLineIsWrittenAtExitAndOnCtrlC) {
  std::string expected;
  for (int i = 1; i <= 2000; ++i) expected += " Records saved: " + std::to_string(i) + "\n";
  for (const int sig : {0, SIGINT, SIGTERM, SIGHUP}) {
    SCOPED_TRACE(sig);
    PipedChild child;
    ASSERT_TRUE(child.start([sig](int report_fd) {
      set_console_delay_limit(std::chrono::hours(1));
      for (int i = 1; i <= 2000; ++i) put_line(" Records saved: " + std::to_string(i));
      if (sig == 0) return;
      write_all(report_fd, "R");
      for (;;) pause();
    }));
    if (sig != 0) {
      ASSERT_TRUE(child.wait_mark());
      kill(child.pid, sig);
    }
    EXPECT_EQ(child.read_until("saved: 2000\n", std::chrono::seconds(10)), expected);
    const int status = child.finish();
    if (sig == 0) {
      EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    } else {
      EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == sig);
    }
  }
}

TEST(ConsoleClock, TimeOfDayIsTheLocalClock) {
  std::int16_t year = 0, month = 0, day = 0, hour = -1, minute = -1, second = -1, hundredths = -1;
  set_console(nullptr);
  DATE_TODAY(year, month, day);
  TIME_OF_DAY(hour, minute, second, hundredths);
  const std::time_t now = std::time(nullptr);
  struct tm local{};
  localtime_r(&now, &local);
  EXPECT_EQ(year, local.tm_year + 1900);
  EXPECT_EQ(month, local.tm_mon + 1);
  EXPECT_EQ(day, local.tm_mday);
  EXPECT_EQ(hour, local.tm_hour);
  EXPECT_GE(minute, 0);
  EXPECT_LT(minute, 60);
  EXPECT_GE(second, 0);
  EXPECT_LT(second, 61);
  EXPECT_GE(hundredths, 0);
  EXPECT_LT(hundredths, 100);
}

TEST(ConsoleClock, SleepWaitsAtLeastTheGivenTime) {
  set_console(nullptr);
  const auto start = std::chrono::steady_clock::now();
  SLEEP_MS(30);
  const auto elapsed = std::chrono::steady_clock::now() - start;
  EXPECT_GE(elapsed, std::chrono::milliseconds(30));
}

}  // namespace
}  // namespace kal

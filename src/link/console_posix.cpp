// Console services on POSIX terminals and pipes.
//
// On a terminal, keys are read unbuffered and without echo while the program
// waits for them, and the terminal settings are restored on every exit path
// (normal exit, Ctrl-C, SIGTERM). When standard input is not a terminal, no
// key is ever "waiting" (polling loops must not swallow scripted answers),
// GET_KEY and line reads take the next bytes in order, and at the end of
// input GET_KEY gives a blank.
#include <poll.h>
#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <thread>

#include "link/console.h"

namespace kal {
namespace {

struct termios saved_termios;
bool termios_saved = false;
bool raw_mode = false;

void restore_terminal() {
  if (termios_saved && raw_mode) {
    tcsetattr(STDIN_FILENO, TCSANOW, &saved_termios);
    raw_mode = false;
  }
}

extern "C" void on_fatal_signal(int sig) {
  restore_terminal();
  signal(sig, SIG_DFL);
  raise(sig);
}

void enter_raw_mode() {
  if (raw_mode || !isatty(STDIN_FILENO)) return;
  if (!termios_saved) {
    if (tcgetattr(STDIN_FILENO, &saved_termios) != 0) return;
    termios_saved = true;
    std::atexit(restore_terminal);
    signal(SIGINT, on_fatal_signal);
    signal(SIGTERM, on_fatal_signal);
    signal(SIGHUP, on_fatal_signal);
    signal(SIGQUIT, on_fatal_signal);
  }
  struct termios raw = saved_termios;
  raw.c_lflag &= static_cast<tcflag_t>(~(ICANON | ECHO));
  raw.c_cc[VMIN] = 1;
  raw.c_cc[VTIME] = 0;
  if (tcsetattr(STDIN_FILENO, TCSANOW, &raw) == 0) raw_mode = true;
}

// Reads one byte from standard input; false at end of input or on error.
bool read_byte(char& c) {
  for (;;) {
    const ssize_t n = ::read(STDIN_FILENO, &c, 1);
    if (n == 1) return true;
    if (n < 0 && errno == EINTR) continue;
    return false;
  }
}

class PosixConsole final : public ConsoleServices {
 public:
  bool key_waiting() override {
    if (!isatty(STDIN_FILENO)) return false;
    enter_raw_mode();
    struct pollfd p{STDIN_FILENO, POLLIN, 0};
    return ::poll(&p, 1, 0) > 0 && (p.revents & POLLIN);
  }

  char get_key() override {
    enter_raw_mode();
    std::fflush(stdout);
    char c = ' ';
    if (!read_byte(c)) return ' ';
    return c;
  }

  void sleep_ms(std::int32_t milliseconds) override {
    if (milliseconds > 0) std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
  }

  void time_of_day(std::int16_t& hour, std::int16_t& minute, std::int16_t& second,
                   std::int16_t& hundredths) override {
    struct timespec ts{};
    clock_gettime(CLOCK_REALTIME, &ts);
    struct tm local{};
    localtime_r(&ts.tv_sec, &local);
    hour = static_cast<std::int16_t>(local.tm_hour);
    minute = static_cast<std::int16_t>(local.tm_min);
    second = static_cast<std::int16_t>(local.tm_sec);
    hundredths = static_cast<std::int16_t>(ts.tv_nsec / 10000000);
  }

  void date_today(std::int16_t& year, std::int16_t& month, std::int16_t& day) override {
    const std::time_t now = std::time(nullptr);
    struct tm local{};
    localtime_r(&now, &local);
    year = static_cast<std::int16_t>(local.tm_year + 1900);
    month = static_cast<std::int16_t>(local.tm_mon + 1);
    day = static_cast<std::int16_t>(local.tm_mday);
  }

  bool read_line(std::string& line) override {
    restore_terminal();  // typed replies are echoed and editable
    std::fflush(stdout);
    line.clear();
    char c = 0;
    bool any = false;
    while (read_byte(c)) {
      any = true;
      if (c == '\n') break;
      line.push_back(c);
    }
    if (!line.empty() && line.back() == '\r') line.pop_back();
    return any;
  }

  void write_line(std::string_view line) override {
    std::fwrite(line.data(), 1, line.size(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
  }
};

}  // namespace

ConsoleServices& platform_console() {
  static PosixConsole console;
  return console;
}

}  // namespace kal

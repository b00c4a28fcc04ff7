// Console services on POSIX terminals and pipes.
//
// On a terminal, keys are read unbuffered and without echo while the program
// waits for them, and the terminal settings are restored on every exit path
// (normal exit, Ctrl-C, SIGTERM, SIGHUP, SIGQUIT; Ctrl-Z restores them until
// the program is continued). Cursor and function keys arrive as escape
// sequences; they are delivered as a prefix byte (224, or 0 for keys without
// a known code) and a key code, as the operator's other consoles do, so that
// no such key reads as a letter (F2 sends ESC O Q, which must not quit).
//
// When standard input is not a terminal, no key is ever "waiting" (polling
// loops must not swallow scripted answers), GET_KEY and line reads take the
// next bytes in order, and at the end of input GET_KEY gives a blank and a
// line read reports the end, so nothing waits or spins.
//
// A burst of console lines is held back and written together
// (console_output.h). Ctrl-C and the other ending signals must not lose the
// lines held, but a signal handler may not take the output's lock: from the
// first burst on, the handler only passes the signal's number through a
// pipe to a watcher thread, which writes what is held, restores the
// terminal and then lets the signal end the program as it normally does.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <climits>
#include <ctime>
#include <thread>

#include "console/console.h"
#include "console/console_output.h"

namespace kal {
namespace {

constexpr char kEscape = 27;
constexpr char kExtendedPrefix = static_cast<char>(224);
constexpr char kFunctionPrefix = 0;
// How long the rest of an escape sequence may take to arrive.
constexpr int kSequenceGapMs = 30;

// How long an ending signal waits for an output that is busy (a terminal
// held by flow control) before the program ends without it.
constexpr std::chrono::milliseconds kEndingPatience{500};

// Set on the main thread, read by signal handlers and the signal watcher:
// lock-free atomics are safe in both.
static_assert(std::atomic<int>::is_always_lock_free);
struct termios saved_termios;
std::atomic<int> termios_saved{0};
std::atomic<int> raw_mode{0};
int signal_pipe[2] = {-1, -1};  // ending signals' numbers, handler to watcher
std::atomic<pid_t> watcher_process{0};  // a forked child has the pipe but no watcher

// The file an ending signal deletes (delete_if_interrupted); the handlers
// read it only while `delete_armed` is set, and unlink() is safe in them.
char delete_path[PATH_MAX] = {};
std::atomic<int> delete_armed{0};

void delete_pending_file() {
  if (delete_armed.exchange(0) != 0) ::unlink(delete_path);
}

void restore_terminal() {
  if (termios_saved && raw_mode) {
    tcsetattr(STDIN_FILENO, TCSANOW, &saved_termios);
    raw_mode = 0;
  }
}

void set_handler(int sig, void (*handler)(int)) {
  struct sigaction action{};
  action.sa_handler = handler;
  sigemptyset(&action.sa_mask);
  sigaction(sig, &action, nullptr);
}

// Restores the terminal, then lets the signal do what it normally does.
extern "C" void end_by_signal(int sig) {
  delete_pending_file();
  restore_terminal();
  set_handler(sig, SIG_DFL);
  raise(sig);
}

extern "C" void on_ending_signal(int sig) {
  const int saved_errno = errno;
  const unsigned char number = static_cast<unsigned char>(sig);
  if (::getpid() != watcher_process || ::write(signal_pipe[1], &number, 1) != 1) {
    end_by_signal(sig);  // no watcher to tell
  }
  errno = saved_errno;
}

// Writes all of `bytes` to standard output; the console output buffers.
void write_to_stdout(std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t n = ::write(STDOUT_FILENO, bytes.data(), bytes.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;  // a closed or failing output: nothing else to tell it to
    bytes.remove_prefix(static_cast<std::size_t>(n));
  }
}

void watch_ending_signals_from_now();

ConsoleOutput& output() { return process_console_output(write_to_stdout, watch_ending_signals_from_now); }

void watch_ending_signals() {
  unsigned char number = 0;
  for (;;) {
    const ssize_t n = ::read(signal_pipe[0], &number, 1);
    if (n == 1) break;
    if (n < 0 && errno == EINTR) continue;
    return;
  }
  if (ConsoleOutput* out = started_console_output()) {
    out->flush_within(kEndingPatience);
  }
  end_by_signal(number);
}

bool open_signal_pipe() {
  if (::pipe(signal_pipe) != 0) return false;
  for (const int fd : signal_pipe) ::fcntl(fd, F_SETFD, FD_CLOEXEC);
  return true;
}

struct termios raw_termios() {
  struct termios raw = saved_termios;
  raw.c_lflag &= static_cast<tcflag_t>(~(ICANON | ECHO));
  raw.c_cc[VMIN] = 1;
  raw.c_cc[VTIME] = 0;
  return raw;
}

// Ctrl-Z: give the shell its terminal back; on continue, take it again.
extern "C" void on_stop_signal(int sig) {
  const int saved_errno = errno;
  const bool was_raw = raw_mode != 0;
  restore_terminal();
  set_handler(sig, SIG_DFL);
  raise(sig);  // stops here until SIGCONT
  set_handler(sig, on_stop_signal);
  if (was_raw) {
    const struct termios raw = raw_termios();
    if (tcsetattr(STDIN_FILENO, TCSANOW, &raw) == 0) raw_mode = 1;
  }
  errno = saved_errno;
}

constexpr int kEndingSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};
bool signals_watched = false;  // main thread only

// Once the console output holds lines back (it calls this when it starts
// to): Ctrl-C, SIGTERM, SIGHUP and SIGQUIT write them and restore the
// terminal before the signal ends the program; Ctrl-Z restores the terminal
// until the program is continued.
void watch_ending_signals_from_now() {
  if (signals_watched || !open_signal_pipe()) return;
  signals_watched = true;
  watcher_process = ::getpid();
  std::thread(watch_ending_signals).detach();
  for (const int sig : kEndingSignals) set_handler(sig, on_ending_signal);
  set_handler(SIGTSTP, on_stop_signal);
}

void enter_raw_mode() {
  if (raw_mode || !isatty(STDIN_FILENO)) return;
  if (!termios_saved) {
    if (tcgetattr(STDIN_FILENO, &saved_termios) != 0) return;
    termios_saved = 1;
    std::atexit(restore_terminal);
    // Without lines held back the terminal alone needs restoring.
    if (!signals_watched) {
      for (const int sig : kEndingSignals) set_handler(sig, end_by_signal);
    }
    set_handler(SIGTSTP, on_stop_signal);
  }
  const struct termios raw = raw_termios();
  if (tcsetattr(STDIN_FILENO, TCSANOW, &raw) == 0) raw_mode = 1;
}

// True when standard input has a byte to read within `timeout_ms`.
bool input_ready(int timeout_ms) {
  struct pollfd p{STDIN_FILENO, POLLIN, 0};
  for (;;) {
    const int n = ::poll(&p, 1, timeout_ms);
    if (n < 0 && errno == EINTR) continue;
    return n > 0 && (p.revents & (POLLIN | POLLHUP)) != 0;
  }
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

// The key code of an arrow, Home or End sequence's final byte (the codes of
// the extended keys of a PC keyboard), 0 when the key has none.
char extended_code(char final_byte) {
  switch (final_byte) {
    case 'A': return 72;  // up
    case 'B': return 80;  // down
    case 'C': return 77;  // right
    case 'D': return 75;  // left
    case 'H': return 71;  // home
    case 'F': return 79;  // end
    default: return 0;
  }
}

class PosixConsole final : public ConsoleServices {
 public:
  bool keys_can_arrive() override { return isatty(STDIN_FILENO) != 0; }

  bool key_waiting() override {
    flush_held_lines();  // every wait that lets q end it comes here
    if (!isatty(STDIN_FILENO)) return false;
    if (pending_) return true;
    enter_raw_mode();
    return input_ready(0);
  }

  char get_key() override {
    flush_held_lines();
    if (pending_) {
      pending_ = false;
      return pending_code_;
    }
    if (!isatty(STDIN_FILENO)) {
      char c = ' ';
      return read_byte(c) ? c : ' ';
    }
    enter_raw_mode();
    char c = ' ';
    if (!read_byte(c)) return ' ';
    if (c == kEscape && input_ready(kSequenceGapMs)) return read_escape_sequence();
    return c;
  }

  void sleep_ms(std::int32_t milliseconds) override {
    flush_held_lines();
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
    flush_held_lines();
    pending_ = false;
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

  void write_line(std::string_view line) override { output().write_line(line); }

  void flush_output() override { flush_held_lines(); }

 private:
  // After ESC: consumes "[ params final" or "O final" and returns the prefix
  // byte; the key code follows on the next call.
  char read_escape_sequence() {
    char c = 0;
    if (!read_byte(c)) return kEscape;
    char final_byte = c;
    if (c == '[') {
      // Parameters and intermediates run until a byte in @..~.
      while (input_ready(kSequenceGapMs) && read_byte(c)) {
        final_byte = c;
        if (c >= '@' && c <= '~') break;
      }
    } else if (c == 'O') {
      if (input_ready(kSequenceGapMs) && read_byte(c)) final_byte = c;
    }
    const char code = extended_code(final_byte);
    pending_ = true;
    pending_code_ = code;
    return code != 0 ? kExtendedPrefix : kFunctionPrefix;
  }

  bool pending_ = false;
  char pending_code_ = 0;
};

}  // namespace

void delete_if_interrupted(std::string_view path) {
  delete_armed = 0;
  if (path.empty() || path.size() >= sizeof delete_path) return;
  path.copy(delete_path, path.size());
  delete_path[path.size()] = 0;
  // Ending signals must pass through end_by_signal even before any line is
  // held back (which installs the watcher's handlers instead).
  if (!signals_watched) {
    for (const int sig : kEndingSignals) set_handler(sig, end_by_signal);
  }
  delete_armed = 1;
}

bool own_window_closes_with_program() { return false; }

void set_console_delay_limit(std::chrono::milliseconds limit) { output().set_delay_limit(limit); }

ConsoleServices& platform_console() {
  static PosixConsole console;
  return console;
}

}  // namespace kal

// Console services on Windows: the console run-time's key test and unechoed
// key read, Sleep and GetLocalTime. When standard input is redirected (a
// script or a pipe), no key is ever "waiting", GET_KEY and line reads take
// the next bytes in order, and at the end of input GET_KEY gives a blank.
//
// A burst of console lines is held back and written together
// (console_output.h). From the first burst on, Ctrl-C, Ctrl-Break and
// closing the window run a control handler (on a thread of its own): it
// writes what is held, then lets the default handler end the program.
#include <conio.h>
#include <io.h>
#include <windows.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "console/console.h"
#include "console/console_output.h"

namespace kal {
namespace {

// How long a control event waits for an output that is busy before the
// program ends without it.
constexpr std::chrono::milliseconds kEndingPatience{500};

bool input_is_console() { return _isatty(_fileno(stdin)) != 0; }

// Writes all of `bytes` through the run-time's standard output (which turns
// each line end into CR LF on a text-mode stream).
void write_to_stdout(std::string_view bytes) {
  std::fwrite(bytes.data(), 1, bytes.size(), stdout);
  std::fflush(stdout);
}

BOOL WINAPI on_control_event(DWORD event);

void watch_control_events_from_now() { SetConsoleCtrlHandler(on_control_event, TRUE); }

ConsoleOutput& output() { return process_console_output(write_to_stdout, watch_control_events_from_now); }

// The file a control event deletes (delete_if_interrupted), read only while
// `delete_armed` is set.
char delete_path[MAX_PATH] = {};
std::atomic<int> delete_armed{0};

BOOL WINAPI on_control_event(DWORD /*event*/) {
  if (delete_armed.exchange(0) != 0) DeleteFileA(delete_path);
  if (ConsoleOutput* out = started_console_output()) {
    out->flush_within(kEndingPatience);
  }
  return FALSE;  // the next handler, in the end the default one, ends the program
}

class Win32Console final : public ConsoleServices {
 public:
  bool keys_can_arrive() override { return input_is_console(); }

  bool key_waiting() override {
    flush_held_lines();  // every wait that lets q end it comes here
    return input_is_console() && _kbhit() != 0;
  }

  char get_key() override {
    flush_held_lines();
    if (!input_is_console()) {
      const int c = std::fgetc(stdin);
      return c == EOF ? ' ' : static_cast<char>(c);
    }
    // Extended keys give 0 or 224 first and their code on the next call.
    return static_cast<char>(_getch());
  }

  void sleep_ms(std::int32_t milliseconds) override {
    flush_held_lines();
    if (milliseconds > 0) Sleep(static_cast<DWORD>(milliseconds));
  }

  void time_of_day(std::int16_t& hour, std::int16_t& minute, std::int16_t& second,
                   std::int16_t& hundredths) override {
    SYSTEMTIME now;
    GetLocalTime(&now);
    hour = static_cast<std::int16_t>(now.wHour);
    minute = static_cast<std::int16_t>(now.wMinute);
    second = static_cast<std::int16_t>(now.wSecond);
    hundredths = static_cast<std::int16_t>(now.wMilliseconds / 10);
  }

  void date_today(std::int16_t& year, std::int16_t& month, std::int16_t& day) override {
    SYSTEMTIME now;
    GetLocalTime(&now);
    year = static_cast<std::int16_t>(now.wYear);
    month = static_cast<std::int16_t>(now.wMonth);
    day = static_cast<std::int16_t>(now.wDay);
  }

  bool read_line(std::string& line) override {
    flush_held_lines();
    line.clear();
    bool any = false;
    for (int c = std::fgetc(stdin); c != EOF; c = std::fgetc(stdin)) {
      any = true;
      if (c == '\n') break;
      line.push_back(static_cast<char>(c));
    }
    if (!line.empty() && line.back() == '\r') line.pop_back();
    return any;
  }

  void write_line(std::string_view line) override { output().write_line(line); }

  void flush_output() override { flush_held_lines(); }
};

}  // namespace

void delete_if_interrupted(std::string_view path) {
  delete_armed = 0;
  if (path.empty() || path.size() >= sizeof delete_path) return;
  path.copy(delete_path, path.size());
  delete_path[path.size()] = 0;
  watch_control_events_from_now();  // the handler runs even before any line is held back
  delete_armed = 1;
}

bool own_window_closes_with_program() {
  DWORD ids[2] = {};
  const DWORD attached = GetConsoleProcessList(ids, 2);  // the count, even beyond the buffer
  return window_closes_with_program(attached, input_is_console());
}

void set_console_delay_limit(std::chrono::milliseconds limit) { output().set_delay_limit(limit); }

ConsoleServices& platform_console() {
  static Win32Console console;
  return console;
}

}  // namespace kal

// Console services on Windows: the console run-time's key test and unechoed
// key read, Sleep and GetLocalTime. When standard input is redirected (a
// script or a pipe), no key is ever "waiting", GET_KEY and line reads take
// the next bytes in order, and at the end of input GET_KEY gives a blank.
#include <conio.h>
#include <io.h>
#include <windows.h>

#include <cstdio>
#include <string>

#include "console/console.h"

namespace kal {
namespace {

bool input_is_console() { return _isatty(_fileno(stdin)) != 0; }

class Win32Console final : public ConsoleServices {
 public:
  bool keys_can_arrive() override { return input_is_console(); }

  bool key_waiting() override { return input_is_console() && _kbhit() != 0; }

  char get_key() override {
    std::fflush(stdout);
    if (!input_is_console()) {
      const int c = std::fgetc(stdin);
      return c == EOF ? ' ' : static_cast<char>(c);
    }
    // Extended keys give 0 or 224 first and their code on the next call.
    return static_cast<char>(_getch());
  }

  void sleep_ms(std::int32_t milliseconds) override {
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
    std::fflush(stdout);
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

  void write_line(std::string_view line) override {
    std::fwrite(line.data(), 1, line.size(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
  }
};

}  // namespace

ConsoleServices& platform_console() {
  static Win32Console console;
  return console;
}

}  // namespace kal

#include "console/console.h"

namespace kal {

ConsoleServices& platform_console();  // console_posix.cpp / console_win32.cpp

namespace {
ConsoleServices* installed = nullptr;
}

ConsoleServices& console() { return installed ? *installed : platform_console(); }

void set_console(ConsoleServices* services) { installed = services; }

bool KEY_WAITING() { return console().key_waiting(); }

bool KEYS_CAN_ARRIVE() { return console().keys_can_arrive(); }

void GET_KEY(char& key) { key = console().get_key(); }

void SLEEP_MS(const std::int32_t& milliseconds) { console().sleep_ms(milliseconds); }

void TIME_OF_DAY(std::int16_t& hour, std::int16_t& minute, std::int16_t& second,
                 std::int16_t& hundredths) {
  console().time_of_day(hour, minute, second, hundredths);
}

void DATE_TODAY(std::int16_t& year, std::int16_t& month, std::int16_t& day) {
  console().date_today(year, month, day);
}

void put_line(std::string_view line) { console().write_line(line); }

void flush_console() { console().flush_output(); }

bool window_closes_with_program(std::uint32_t processes_on_console, bool input_is_console) {
  // 0 is a failed count: nothing known, the run ends as usual.
  return processes_on_console == 1 && input_is_console;
}

}  // namespace kal

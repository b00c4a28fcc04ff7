// Console keyboard and clock services, and the console's line output.
//
// The program talks to the operator only through these services, so that the
// session and the transcription can be driven by scripts and by tests with an
// injected keyboard, clock and output. The default services are the
// platform's (console_posix.cpp / console_win32.cpp).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace kal {

class ConsoleServices {
 public:
  virtual ~ConsoleServices() = default;
  // True when a key press is waiting; consumes nothing, never waits.
  // When standard input is not a terminal this is always false.
  virtual bool key_waiting() = 0;
  // Waits for one key press and returns its character without echo; for
  // keys without a character, a prefix byte (0 or 224) then the key code.
  // At the end of input: a blank.
  virtual char get_key() = 0;
  virtual void sleep_ms(std::int32_t milliseconds) = 0;
  virtual void time_of_day(std::int16_t& hour, std::int16_t& minute,
                           std::int16_t& second, std::int16_t& hundredths) = 0;
  virtual void date_today(std::int16_t& year, std::int16_t& month,
                          std::int16_t& day) = 0;
  // One line typed by the operator (echoed, without its line end; a trailing
  // CR is removed). False at the end of input.
  virtual bool read_line(std::string& line) = 0;
  // One console line; the service adds the line end. The line may be held
  // back briefly to share one write with the next ones (see flush_output).
  virtual void write_line(std::string_view line) = 0;
  // Sends the lines held back to the output now. The waits above (keys,
  // typed lines, pauses) do so themselves.
  virtual void flush_output() {}
  // True when the operator can press keys (standard input is a terminal),
  // so that q can end a wait; scripts and pipes get bounded waits instead.
  virtual bool keys_can_arrive() { return true; }
};

// The services in use: the platform's unless a test or tool installed others.
ConsoleServices& console();
// Installs `services` (not owned); nullptr restores the platform's.
void set_console(ConsoleServices* services);

// The routine names the rest of the program uses.
bool KEY_WAITING();
bool KEYS_CAN_ARRIVE();
void GET_KEY(char& key);
void SLEEP_MS(const std::int32_t& milliseconds);
void TIME_OF_DAY(std::int16_t& hour, std::int16_t& minute, std::int16_t& second,
                 std::int16_t& hundredths);
void DATE_TODAY(std::int16_t& year, std::int16_t& month, std::int16_t& day);

// Writes one console line.
void put_line(std::string_view line);
// Sends the console lines written so far to the output now: before a wait
// on the sensor, and before anything goes to standard error.
void flush_console();

// Whether the program's window closes with it: the program is the only
// process attached to its console (started from Explorer by a double-click,
// not from a command window or a script) and reads that console's keys. Then
// the last lines would vanish unread, so the run ends by waiting for Enter.
bool window_closes_with_program(std::uint32_t processes_on_console, bool input_is_console);
// The rule for this process (GetConsoleProcessList); never on POSIX, where
// a terminal outlives the program.
bool own_window_closes_with_program();

// While a path is set, Ctrl-C, a termination signal (or on Windows a control
// event) that ends the program deletes that file first: a RAW file nothing
// was written into yet is not left behind. An empty path clears it. Paths
// longer than the platform's limit are not kept.
void delete_if_interrupted(std::string_view path);

}  // namespace kal

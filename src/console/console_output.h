// The console's buffered line output.
//
// A transcription can print hundreds of thousands of lines; one system call
// per line would cost more than the transcription itself. Lines far apart
// (the dialogue, progress lines) go out one by one at once, as they always
// did. A burst of lines (more than kBurstLines, each within `delay_limit` of
// the one before) switches the output to gathering: from then on lines are
// written together, but never held for long: a flusher thread writes what
// has waited `delay_limit`, a full buffer is written at once, and flush()
// writes everything now (the console services call it before every wait
// for a key, a reply, the sensor or a pause). Only the bytes' timing
// changes, never the bytes or their order.
//
// The flusher thread is started only by a burst: a program's first extra
// thread makes the C library lock every stdio and heap call, a cost the
// files that print little must not pay.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>

namespace kal {

class ConsoleOutput {
 public:
  // Writes all of `bytes` to the real output, or gives up on an error.
  using Sink = void (*)(std::string_view bytes);
  // Called once, when gathering starts (the platform then makes sure that
  // an ending signal writes the lines held).
  using GatheringHook = void (*)();

  ConsoleOutput(Sink sink, std::chrono::milliseconds delay_limit, GatheringHook on_gathering = nullptr);
  ~ConsoleOutput();
  ConsoleOutput(const ConsoleOutput&) = delete;
  ConsoleOutput& operator=(const ConsoleOutput&) = delete;

  // From now on a line waits at most `limit` before the flusher writes it.
  void set_delay_limit(std::chrono::milliseconds limit);
  // Writes `line` and a line end ('\n').
  void write_line(std::string_view line);
  void flush();
  // For the end of the process on another thread (Ctrl-C): flushes unless
  // the output stays busy (a blocked terminal) for longer than `patience`.
  void flush_within(std::chrono::milliseconds patience);
  // At exit: flushes, stops the flusher; later writes go out at once.
  void close();

 private:
  void run_flusher();
  void write_out();  // with mutex_ held

  void start_gathering();  // with mutex_ held

  const Sink sink_;
  const GatheringHook on_gathering_;
  std::chrono::milliseconds delay_limit_;
  std::mutex mutex_;
  std::condition_variable wake_;
  std::string pending_;
  std::chrono::steady_clock::time_point oldest_{};  // when pending_ stopped being empty
  std::chrono::steady_clock::time_point last_line_{};
  int burst_lines_ = 0;  // lines since the last gap longer than delay_limit_
  bool gathering_ = false;
  bool stopping_ = false;
  bool closed_ = false;
  std::thread flusher_;  // started when gathering starts
};

// Lines in a row, each soon after the one before, that make a burst.
inline constexpr int kBurstLines = 64;

// What the platform consoles use: the longest a written line may wait is
// well inside the tenth of a second an operator notices.
inline constexpr std::chrono::milliseconds kConsoleDelayLimit{50};

// The process's one console output, made at its first line from the
// platform's sink and gathering hook (the same ones every call), closed at
// exit and never destroyed: an ending signal may need it until the end.
ConsoleOutput& process_console_output(ConsoleOutput::Sink sink, ConsoleOutput::GatheringHook on_gathering);
// The process's console output once a line was written; until then there
// is nothing to flush (null).
ConsoleOutput* started_console_output();
// Writes the lines held by the process's console output, if any.
void flush_held_lines();

// Sets the platform console's limit (console_posix.cpp, console_win32.cpp).
// A test sets a long one to see that every wait writes the lines itself.
void set_console_delay_limit(std::chrono::milliseconds limit);

}  // namespace kal

#include "console/console_output.h"

#include <cstdlib>

namespace kal {
namespace {

// Beyond this the buffer is written at once: large enough that a burst of
// lines costs few writes, small enough to stay in the processor's cache.
constexpr std::size_t kFullBuffer = 32 * 1024;

}  // namespace

ConsoleOutput::ConsoleOutput(Sink sink, std::chrono::milliseconds delay_limit, GatheringHook on_gathering)
    : sink_(sink), on_gathering_(on_gathering), delay_limit_(delay_limit) {}

ConsoleOutput::~ConsoleOutput() { close(); }

void ConsoleOutput::set_delay_limit(std::chrono::milliseconds limit) {
  std::unique_lock lock(mutex_);
  delay_limit_ = limit;
  wake_.notify_one();
}

void ConsoleOutput::write_line(std::string_view line) {
  std::unique_lock lock(mutex_);
  const bool was_empty = pending_.empty();
  pending_.append(line);
  pending_.push_back('\n');
  if (!gathering_) {
    const auto now = std::chrono::steady_clock::now();
    burst_lines_ = now - last_line_ <= delay_limit_ ? burst_lines_ + 1 : 0;
    last_line_ = now;
    if (burst_lines_ < kBurstLines || closed_) {
      write_out();
      return;
    }
    start_gathering();
  }
  if (closed_) {
    write_out();
    return;
  }
  if (pending_.size() >= kFullBuffer) {
    write_out();
  } else if (was_empty) {
    oldest_ = std::chrono::steady_clock::now();
    wake_.notify_one();
  }
}

void ConsoleOutput::start_gathering() {
  gathering_ = true;
  pending_.reserve(kFullBuffer);
  if (on_gathering_ != nullptr) on_gathering_();
  flusher_ = std::thread([this] { run_flusher(); });
}

void ConsoleOutput::flush() {
  std::unique_lock lock(mutex_);
  write_out();
}

void ConsoleOutput::flush_within(std::chrono::milliseconds patience) {
  // Polled rather than a timed lock, which the thread sanitizer cannot follow.
  const auto give_up = std::chrono::steady_clock::now() + patience;
  while (!mutex_.try_lock()) {
    if (std::chrono::steady_clock::now() >= give_up) return;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  std::lock_guard lock(mutex_, std::adopt_lock);
  write_out();
}

void ConsoleOutput::close() {
  std::thread flusher;
  {
    std::unique_lock lock(mutex_);
    write_out();
    closed_ = true;
    stopping_ = true;
    flusher.swap(flusher_);
  }
  wake_.notify_one();
  if (flusher.joinable()) flusher.join();
}

void ConsoleOutput::run_flusher() {
  std::unique_lock lock(mutex_);
  while (!stopping_) {
    if (pending_.empty()) {
      wake_.wait(lock);
      continue;
    }
    const auto due = oldest_ + delay_limit_;
    if (std::chrono::steady_clock::now() >= due) {
      write_out();
    } else {
      wake_.wait_until(lock, due);
    }
  }
}

void ConsoleOutput::write_out() {
  if (pending_.empty()) return;
  sink_(pending_);
  pending_.clear();
}

namespace {
std::atomic<ConsoleOutput*> started_output{nullptr};
}  // namespace

ConsoleOutput& process_console_output(ConsoleOutput::Sink sink, ConsoleOutput::GatheringHook on_gathering) {
  static ConsoleOutput* const out = [&] {
    auto* created = new ConsoleOutput(sink, kConsoleDelayLimit, on_gathering);
    std::atexit([] { started_output.load(std::memory_order_acquire)->close(); });
    started_output.store(created, std::memory_order_release);
    return created;
  }();
  return *out;
}

ConsoleOutput* started_console_output() { return started_output.load(std::memory_order_acquire); }

void flush_held_lines() {
  if (ConsoleOutput* out = started_console_output()) out->flush();
}

}  // namespace kal

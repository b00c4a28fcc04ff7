// Serial-port service, platform-neutral part: the port table, the port
// records, the owner-thread rule, the reader loop and the receive ring with
// its line-end rules. The device and thread calls live behind
// serial_device.h.
#include "link/serial_port.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>
#include <thread>
#include <utility>
#include <vector>

#include "common/fixed_text.h"
#include "console/console.h"
#include "link/serial_device.h"

namespace kal {
namespace {

using serial_detail::LineSettings;
using serial_detail::ReaderThread;
using serial_detail::SerialDevice;
using serial_detail::Timeouts;

constexpr std::uint32_t kReaderStopWaitMs = 10000;
constexpr std::uint32_t kDataWaitSliceMs = 10000;
// How long a reader facing a full ring sleeps before it looks again when no
// consumer wakes it; also bounds its reaction to a stop request.
constexpr std::uint32_t kFullRingWaitMs = 200;
constexpr char kCr = '\r';
constexpr char kLf = '\n';

// An auto-reset event: set() wakes one waiting wait_for(), which clears it.
class Event {
 public:
  void set() {
    {
      std::lock_guard<std::mutex> hold(mutex_);
      signalled_ = true;
    }
    changed_.notify_all();
  }
  void reset() {
    std::lock_guard<std::mutex> hold(mutex_);
    signalled_ = false;
  }
  // True when the event was set (and is now clear), false on time-out.
  bool wait_for(std::uint32_t milliseconds) {
    std::unique_lock<std::mutex> hold(mutex_);
    const bool was_set = changed_.wait_for(hold, std::chrono::milliseconds(milliseconds),
                                           [this] { return signalled_; });
    signalled_ = false;
    return was_set;
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  bool signalled_ = false;
};

// What the reader thread and the owner share. The reader alone moves `put`,
// the owner alone moves `take`; both are published with release stores and
// read with acquire loads, so the ring needs no lock. The object is owned
// jointly, so a reader that was abandoned (never killed) can finish safely.
struct ReaderShared {
  std::shared_ptr<SerialDevice> device;
  std::vector<char> ring;
  std::atomic<std::int32_t> put{0};
  std::atomic<std::int32_t> take{0};
  std::atomic<bool> stop_request{false};
  std::atomic<std::int32_t> reader_status{0};
  std::atomic<bool> finished{false};
  Event data_event;   // set by the reader after each delivery and at its end
  Event space_event;  // set by the owner after taking bytes, and on stop
  std::uint32_t read_total_multiplier = 0;
  std::uint32_t read_total_constant = 200;
  // Steady-clock time of the reader's last delivery (or of its start).
  std::atomic<std::int64_t> last_delivery_ns{0};
};

std::int64_t steady_now_ns() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

std::int32_t next_position(std::int32_t position) { return (position + 1) % kRingSize; }

bool ring_empty(const ReaderShared& s) {
  return s.put.load(std::memory_order_acquire) == s.take.load(std::memory_order_relaxed);
}

// Bytes the reader may store in one piece at `put` without touching unread
// bytes (one slot always stays free so that full and empty differ).
std::int32_t contiguous_room(const ReaderShared& s) {
  const std::int32_t put = s.put.load(std::memory_order_relaxed);
  const std::int32_t take = s.take.load(std::memory_order_acquire);
  if (put >= take) return take == 0 ? kRingSize - put - 1 : kRingSize - put;
  return take - put - 1;
}

// The reader loop. It never overwrites unread bytes: while the ring is full
// it stops taking bytes from the device, so the system's input buffer and
// flow control hold the rest and nothing is lost.
void run_reader(ReaderShared& s) {
  s.reader_status.store(0, std::memory_order_relaxed);
  std::int32_t status = s.device->reader_begin(s.read_total_multiplier, s.read_total_constant);
  if (status == 0) {
    while (!s.stop_request.load(std::memory_order_acquire)) {
      const std::int32_t room = std::min(contiguous_room(s), kChunkSize);
      if (room == 0) {
        s.space_event.wait_for(kFullRingWaitMs);
        continue;
      }
      const std::int32_t put = s.put.load(std::memory_order_relaxed);
      std::int32_t got = 0;
      status = s.device->reader_read(s.ring.data() + put, room, got);
      if (status != 0) break;
      if (got == 0 || s.stop_request.load(std::memory_order_acquire)) continue;
      s.last_delivery_ns.store(steady_now_ns(), std::memory_order_relaxed);
      s.put.store((put + got) % kRingSize, std::memory_order_release);
      s.data_event.set();
    }
    s.device->reader_end();
  }
  s.reader_status.store(status, std::memory_order_release);
  s.finished.store(true, std::memory_order_release);
  // Always signalled, so an owner waiting for data learns that the reader
  // is gone instead of waiting for ever.
  s.data_event.set();
}

struct PortRecord {
  std::int32_t port = 0;
  std::uint32_t options = kDefaultOptions;
  std::shared_ptr<SerialDevice> device;
  std::unique_ptr<ReaderThread> reader;   // empty when no reader runs
  std::shared_ptr<ReaderShared> shared;   // ring and flags, made on first start
  std::thread::id owner_thread;
  Timeouts timeouts;
  char previous_byte = 0;
};

// Ports 0-255 have a slot each; higher numbers go to a list without a fixed
// capacity.
struct PortTable {
  std::mutex lock;
  std::array<std::unique_ptr<PortRecord>, 256> slots;
  std::vector<std::pair<std::int32_t, std::unique_ptr<PortRecord>>> others;
};

PortTable& port_table() {
  static PortTable table;
  return table;
}

// The table entry of `port`; with `create`, an empty entry is made when
// none exists. Called with the lock held; null when absent.
std::unique_ptr<PortRecord>* table_entry(PortTable& table, std::int32_t port, bool create) {
  if (port < static_cast<std::int32_t>(table.slots.size())) return &table.slots[port];
  for (auto& entry : table.others)
    if (entry.first == port) return &entry.second;
  if (!create) return nullptr;
  table.others.emplace_back(port, nullptr);
  return &table.others.back().second;
}

void drop_entry(PortTable& table, std::int32_t port) {
  if (port < static_cast<std::int32_t>(table.slots.size())) {
    table.slots[port].reset();
    return;
  }
  for (auto it = table.others.begin(); it != table.others.end(); ++it) {
    if (it->first == port) {
      table.others.erase(it);
      return;
    }
  }
}

// The record of `port` when it exists and belongs to the calling thread.
// Only the owner can drop its record, so the pointer stays valid for the
// owner after the lock is let go.
std::int32_t owned_record(const std::int32_t* port, PortRecord*& record) {
  record = nullptr;
  if (port == nullptr || *port < 0) return kSerialBadPort;
  PortTable& table = port_table();
  std::lock_guard<std::mutex> hold(table.lock);
  std::unique_ptr<PortRecord>* entry = table_entry(table, *port, false);
  if (entry == nullptr || !*entry) return kSerialBadPort;
  if ((*entry)->owner_thread != std::this_thread::get_id()) return kSerialBadPort;
  record = entry->get();
  return kSerialOk;
}

std::int32_t start_reader(PortRecord& r) {
  if (r.reader) return kSerialOk;
  if (!r.shared) {
    auto shared = std::shared_ptr<ReaderShared>(new (std::nothrow) ReaderShared);
    if (!shared) return kSerialNoMemory;
    try {
      shared->ring.resize(kRingSize);
    } catch (const std::bad_alloc&) {
      return kSerialNoMemory;
    }
    shared->device = r.device;
    shared->read_total_multiplier = r.timeouts.read_total_multiplier;
    shared->read_total_constant = r.timeouts.read_total_constant;
    r.shared = std::move(shared);
  }
  ReaderShared& s = *r.shared;
  s.put.store(0, std::memory_order_relaxed);
  s.take.store(0, std::memory_order_relaxed);
  s.stop_request.store(false, std::memory_order_relaxed);
  s.finished.store(false, std::memory_order_relaxed);
  s.reader_status.store(0, std::memory_order_relaxed);
  s.last_delivery_ns.store(steady_now_ns(), std::memory_order_relaxed);
  s.data_event.reset();
  std::shared_ptr<ReaderShared> keep = r.shared;
  const std::int32_t status =
      serial_detail::start_reader_thread([keep] { run_reader(*keep); }, r.reader);
  if (status != 0) {
    r.reader.reset();
    r.shared.reset();
  }
  return status;
}

// Stops the reader (if one runs) and drops the unread bytes.
std::int32_t stop_reader(PortRecord& r) {
  if (!r.reader) return kSerialOk;
  ReaderShared& s = *r.shared;
  s.stop_request.store(true, std::memory_order_release);
  s.space_event.set();
  r.device->interrupt_reader();
  std::int32_t error = 0;
  switch (r.reader->wait(kReaderStopWaitMs, error)) {
    case ReaderThread::Wait::ended:
      r.reader.reset();
      s.stop_request.store(false, std::memory_order_relaxed);
      s.take.store(s.put.load(std::memory_order_acquire), std::memory_order_release);
      return kSerialOk;
    case ReaderThread::Wait::timed_out:
      error = kSerialReaderKilled;
      break;
    case ReaderThread::Wait::failed:
      break;
  }
  // The thread is let go, not killed; it keeps its own share of the ring,
  // and the next start makes a fresh one.
  r.reader->abandon();
  r.reader.reset();
  r.shared.reset();
  return error;
}

// The status a read or peek reports for a reader that has ended.
std::int32_t ended_reader_status(const ReaderShared& s) {
  const std::int32_t status = s.reader_status.load(std::memory_order_acquire);
  return status != 0 ? status : serial_detail::device_gone_status();
}

bool is_stripped(std::uint32_t options, char byte) {
  return ((options & kStripCr) != 0 && byte == kCr) || ((options & kStripLf) != 0 && byte == kLf);
}

bool ends_line(std::uint32_t options, char byte, char previous) {
  const bool cr_ends = (options & kCrEndsLine) != 0;
  const bool lf_ends = (options & kLfEndsLine) != 0;
  if (cr_ends && lf_ends) return byte == kLf && previous == kCr;
  if (cr_ends) return byte == kCr;
  if (lf_ends) return byte == kLf;
  return false;
}

// Waits until the ring holds a byte; fails when the reader has ended.
std::int32_t wait_for_data(ReaderShared& s) {
  // The operator sees every line written before the program waits on the sensor.
  if (ring_empty(s)) flush_console();
  while (ring_empty(s)) {
    if (s.finished.load(std::memory_order_acquire)) {
      if (!ring_empty(s)) break;
      return ended_reader_status(s);
    }
    s.data_event.wait_for(kDataWaitSliceMs);
  }
  return kSerialOk;
}

std::int32_t status_of_running_reader(const PortRecord& r) {
  return r.shared->reader_status.load(std::memory_order_acquire);
}

// True when the unread bytes hold a complete line; `counted` receives the
// bytes a read would store up to and including its end. A full ring without
// a line end counts as a line too: the reader waits for room that only a
// read makes, so the consumer must take (and can reject) it.
bool buffered_line(const PortRecord& r, std::int32_t& counted) {
  const ReaderShared& s = *r.shared;
  const std::int32_t put = s.put.load(std::memory_order_acquire);
  const std::int32_t take = s.take.load(std::memory_order_relaxed);
  counted = 0;
  char previous = 0;
  for (std::int32_t at = take; at != put; at = next_position(at)) {
    const char byte = s.ring[at];
    if (!is_stripped(r.options, byte)) ++counted;
    if (ends_line(r.options, byte, previous)) return true;
    previous = byte;
  }
  return (put - take + kRingSize) % kRingSize == kRingSize - 1;
}

// Ports given a device path of their own.
struct NamedDevices {
  std::mutex lock;
  std::vector<std::pair<std::int32_t, std::string>> paths;
};

NamedDevices& named_devices() {
  static NamedDevices devices;
  return devices;
}

}  // namespace

void serial_name_device(std::int32_t port, std::string path) {
  NamedDevices& devices = named_devices();
  std::lock_guard<std::mutex> hold(devices.lock);
  std::erase_if(devices.paths, [port](const auto& entry) { return entry.first == port; });
  if (!path.empty()) devices.paths.emplace_back(port, std::move(path));
}

std::string serial_named_device(std::int32_t port) {
  NamedDevices& devices = named_devices();
  std::lock_guard<std::mutex> hold(devices.lock);
  for (const auto& entry : devices.paths) {
    if (entry.first == port) return entry.second;
  }
  return {};
}

std::string serial_port_label(std::int32_t port) {
  std::string path = serial_named_device(port);
  return path.empty() ? "COM" + std::to_string(port) : path;
}

std::int32_t SERIAL_CONNECT(const std::int32_t* port, const std::uint32_t* options) {
  if (port == nullptr || *port < 0) return kSerialBadPort;
  PortTable& table = port_table();
  // The lock is held through the open, so two threads cannot both connect
  // the same port.
  std::lock_guard<std::mutex> hold(table.lock);
  std::unique_ptr<PortRecord>* existing = table_entry(table, *port, false);
  if (existing != nullptr && *existing) return kSerialBadPort;

  std::unique_ptr<SerialDevice> device;
  std::int32_t status = serial_detail::open_serial_device(*port, device);
  if (status != 0) return status;
  status = device->purge_all();
  if (status != 0) {
    device->close();
    return status;
  }
  std::unique_ptr<PortRecord> record(new (std::nothrow) PortRecord);
  if (!record) {
    device->close();
    return kSerialNoMemory;
  }
  record->port = *port;
  record->owner_thread = std::this_thread::get_id();
  record->options = (options != nullptr && *options != 0) ? *options : kDefaultOptions;
  status = device->set_timeouts(record->timeouts);
  if (status != 0) {
    device->close();
    return status;
  }
  record->device = std::move(device);
  std::unique_ptr<PortRecord>* entry = table_entry(table, *port, true);
  *entry = std::move(record);
  return kSerialOk;
}

std::int32_t SERIAL_RELEASE(const std::int32_t* port) {
  PortRecord* r = nullptr;
  std::int32_t status = owned_record(port, r);
  if (status != 0) return status;
  status = stop_reader(*r);
  if (status != 0) return status;
  r->device->purge_all();  // a failure here changes nothing: the port goes anyway
  r->shared.reset();
  // An abandoned reader may still hold the device; it is then closed when
  // that reader finishes.
  const std::int32_t close_status = r->device.use_count() == 1 ? r->device->close() : 0;
  PortTable& table = port_table();
  std::lock_guard<std::mutex> hold(table.lock);
  drop_entry(table, *port);
  return close_status;
}

std::int32_t SERIAL_GET_STATE(const std::int32_t* port, std::int32_t* baud, std::int32_t* parity,
                              std::int32_t* data_bits, std::int32_t* stop_bits) {
  PortRecord* r = nullptr;
  std::int32_t status = owned_record(port, r);
  if (status != 0) return status;
  LineSettings settings;
  status = r->device->get_line(settings);
  if (status != 0) return status;
  if (baud != nullptr) *baud = settings.baud;
  if (parity != nullptr) *parity = settings.parity;
  if (data_bits != nullptr) *data_bits = settings.data_bits;
  if (stop_bits != nullptr) *stop_bits = settings.stop_bits;
  return kSerialOk;
}

std::int32_t SERIAL_SET_STATE(const std::int32_t* port, const std::int32_t* baud,
                              const std::int32_t* parity, const std::int32_t* data_bits,
                              const std::int32_t* stop_bits) {
  PortRecord* r = nullptr;
  std::int32_t status = owned_record(port, r);
  if (status != 0) return status;
  if (r->reader) return kSerialReaderRunning;
  LineSettings settings;
  status = r->device->get_line(settings);
  if (status != 0) return status;
  if (data_bits != nullptr) settings.data_bits = *data_bits;
  if (stop_bits != nullptr) settings.stop_bits = *stop_bits;
  if (baud != nullptr) {
    settings.baud = *baud;
    if (*baud < 300) settings.stop_bits = 2;
  }
  if (parity != nullptr) settings.parity = *parity;
  return r->device->set_line(settings);
}

std::int32_t SERIAL_SET_TIMEOUTS(const std::int32_t* port, const std::uint32_t* read_interval,
                                 const std::uint32_t* write_multiplier,
                                 const std::uint32_t* write_constant) {
  PortRecord* r = nullptr;
  std::int32_t status = owned_record(port, r);
  if (status != 0) return status;
  if (r->reader) return kSerialReaderRunning;
  Timeouts timeouts = r->timeouts;
  if (read_interval != nullptr) timeouts.read_interval = *read_interval;
  if (write_multiplier != nullptr) timeouts.write_total_multiplier = *write_multiplier;
  if (write_constant != nullptr) timeouts.write_total_constant = *write_constant;
  status = r->device->set_timeouts(timeouts);
  if (status == 0) r->timeouts = timeouts;
  return status;
}

std::int32_t SERIAL_WRITE(const std::int32_t* port, std::string_view text, std::int32_t* count) {
  PortRecord* r = nullptr;
  std::int32_t status = owned_record(port, r);
  if (status != 0) return status;
  status = start_reader(*r);
  if (status != 0) return status;
  std::int32_t wanted = 0;
  if (count != nullptr && *count != 0) {
    if (*count < 0) return kSerialBadPort;  // a negative byte count is an invalid argument
    wanted = *count;
  } else {
    wanted = static_cast<std::int32_t>(trimmed_length(text));
  }
  // Never read past the caller's text: a count beyond it sends the text and
  // reports a short write.
  const std::int32_t available = static_cast<std::int32_t>(
      std::min<std::size_t>(text.size(), static_cast<std::size_t>(wanted)));
  std::int32_t sent = 0;
  if (available > 0) status = r->device->write(text.data(), available, sent);
  if (count != nullptr) *count = sent;
  if (status != 0) return status;
  return sent < wanted ? kSerialShortWrite : kSerialOk;
}

namespace {

// SERIAL_READ and SERIAL_READ_RECEIVED: up to `capacity` bytes or one line;
// `wait` for bytes that have not come yet, or take only those received.
std::int32_t read_bytes(const std::int32_t* port, char* buffer, std::int32_t capacity, std::int32_t* count,
                        bool wait) {
  PortRecord* r = nullptr;
  std::int32_t status = owned_record(port, r);
  if (status != 0) return status;
  if (buffer == nullptr && capacity > 0) return kSerialBadPort;
  status = start_reader(*r);
  if (status != 0) return status;
  status = status_of_running_reader(*r);
  std::int32_t buffered = 0;
  if (status != 0 && !buffered_line(*r, buffered)) return status;
  status = kSerialOk;

  ReaderShared& s = *r->shared;
  std::int32_t stored = 0;
  while (stored < capacity) {
    if (!wait && ring_empty(s)) break;
    status = wait_for_data(s);
    if (status != 0) break;
    std::int32_t take = s.take.load(std::memory_order_relaxed);
    const char byte = s.ring[take];
    s.take.store(next_position(take), std::memory_order_release);
    if (!is_stripped(r->options, byte)) buffer[stored++] = byte;
    const bool line_end = ends_line(r->options, byte, r->previous_byte);
    // Every byte taken counts as the previous one, the terminator too: after
    // CR LF ends a line, a further LF must not end an empty one.
    r->previous_byte = byte;
    if (line_end) break;
  }
  s.space_event.set();
  if (capacity > stored) std::memset(buffer + stored, ' ', static_cast<std::size_t>(capacity - stored));
  if (count != nullptr) *count = stored;
  return status;
}

}  // namespace

std::int32_t SERIAL_READ(const std::int32_t* port, char* buffer, std::int32_t capacity,
                         std::int32_t* count) {
  return read_bytes(port, buffer, capacity, count, true);
}

std::int32_t SERIAL_READ_RECEIVED(const std::int32_t* port, char* buffer, std::int32_t capacity,
                                  std::int32_t* count) {
  return read_bytes(port, buffer, capacity, count, false);
}

std::int32_t SERIAL_PEEK_LINE(const std::int32_t* port, std::int32_t* line_ready,
                              std::int32_t* count) {
  PortRecord* r = nullptr;
  std::int32_t status = owned_record(port, r);
  if (status != 0) return status;
  status = start_reader(*r);
  if (status != 0) return status;
  std::int32_t counted = 0;
  const std::int32_t ready = buffered_line(*r, counted) ? 1 : 0;
  // A reader that ended with an error still lets the complete lines it
  // delivered be taken first: they reached this machine and must not be lost.
  status = status_of_running_reader(*r);
  if (status != 0 && !ready) return status;
  if (line_ready != nullptr) *line_ready = ready;
  if (count != nullptr) *count = ready ? counted : 0;
  return kSerialOk;
}

std::int32_t SERIAL_UNREAD(const std::int32_t* port, std::int32_t* unread, std::int64_t* quiet_us) {
  PortRecord* r = nullptr;
  std::int32_t status = owned_record(port, r);
  if (status != 0) return status;
  status = start_reader(*r);
  if (status != 0) return status;
  const ReaderShared& s = *r->shared;
  // The driver's queue first, then the positions, then the time: the reader
  // stores the time before it publishes the bytes, so the time read is
  // never older than the bytes counted, and the line never looks quieter
  // than it is; bytes the reader has not yet taken from the driver (it may
  // be waiting for the processor) count as unread too.
  std::int32_t in_driver = 0;
  if (r->device->input_waiting(in_driver) != 0) in_driver = 0;
  const std::int32_t put = s.put.load(std::memory_order_acquire);
  const std::int32_t take = s.take.load(std::memory_order_relaxed);
  const std::int64_t last = s.last_delivery_ns.load(std::memory_order_relaxed);
  const std::int32_t in_ring = (put - take + kRingSize) % kRingSize;
  if (unread != nullptr) *unread = in_ring + in_driver;
  if (quiet_us != nullptr) {
    *quiet_us = in_driver > 0 ? 0 : std::max<std::int64_t>(0, (steady_now_ns() - last) / 1000);
  }
  const std::int32_t reader = status_of_running_reader(*r);
  // Bytes that arrived before a reader error are still to be taken.
  return in_ring > 0 ? kSerialOk : reader;
}

std::int32_t SERIAL_PURGE(const std::int32_t* port) {
  PortRecord* r = nullptr;
  std::int32_t status = owned_record(port, r);
  if (status != 0) return status;
  status = stop_reader(*r);
  if (status != 0) return status;
  return r->device->purge_all();
}

}  // namespace kal

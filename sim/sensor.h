// The sensor's side of the wire protocol, free of any I/O: bytes heard at the
// sensor's own rate go in, and what happens comes out as an ordered list of
// events (bytes heard, bytes sent, notes on the sensor's state).
#pragma once

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "sensor_memory.h"
#include "sim_options.h"

namespace kal::sim {

struct SensorEvent {
  enum class Kind {
    heard,  // one frame, one command byte, or a run of other bytes from the host
    sent,   // bytes for the host, in order
    note    // a change of the sensor's state, for the trace
  };
  Kind kind;
  std::string bytes;  // for a note: its text
  std::int32_t pause_ms = 0;  // sent: the line stays idle this long before these bytes
};

class Sensor {
 public:
  Sensor(const SimOptions& options, SensorMemory& memory);

  std::int32_t baud() const { return baud_; }
  // False once shut down, fallen silent or about to hang up: then the
  // sensor ignores everything.
  bool listening() const { return !shut_down_ && !silent_ && !hangup_due_; }
  // True once the hang-up line has been sent: the line is to be closed as
  // soon as the host has read it.
  bool hangup_due() const { return hangup_due_; }

  // One byte heard at the sensor's rate.
  void hear(unsigned char byte, std::vector<SensorEvent>& events);
  // Ends a run of unrecognised bytes (call at the end of each chunk read),
  // so that it shows up in the trace.
  void flush_heard(std::vector<SensorEvent>& events);
  // Bytes arrived that the sensor could not hear (wrong speed): a frame in
  // progress is lost.
  void lose_sync();
  // How many of the bytes sent so far have left for the host: an answer can
  // only be for a sending the host has begun to receive.
  void bytes_written(std::int64_t total) { written_ = total; }

 private:
  void frame_byte(unsigned char byte, std::vector<SensorEvent>& events);
  void run_frame(std::vector<SensorEvent>& events);
  void reject_frame(std::vector<SensorEvent>& events);
  void answer_query(std::vector<SensorEvent>& events);
  void set_rate(unsigned char code, std::vector<SensorEvent>& events);
  void start_upload(std::vector<SensorEvent>& events);
  void next_line(std::vector<SensorEvent>& events);
  void send_line(bool first_time, std::vector<SensorEvent>& events);
  void end_upload(const char* why, std::vector<SensorEvent>& events);
  std::string random_bytes(std::int32_t count, bool with_line_end);
  const Noise* noise_for(Noise::Kind kind, std::int32_t line) const;
  void send(std::string bytes, std::vector<SensorEvent>& events, std::int32_t pause_ms = 0);
  void record_answer(unsigned char answer, std::vector<SensorEvent>& events);

  const SimOptions& options_;
  SensorMemory& memory_;
  std::mt19937 random_;

  std::int32_t baud_;
  std::int32_t queries_ = 0;
  bool shut_down_ = false;
  bool silent_ = false;
  bool hangup_due_ = false;

  std::string frame_;  // bytes of the frame being received, from 0xAA
  std::string other_;  // a run of bytes that are neither frames nor commands

  bool uploading_ = false;
  std::vector<std::string> upload_;
  std::size_t index_ = 0;         // line being sent, from 0
  std::vector<bool> sent_before_;  // per line: faults act on the first sending only

  // The sendings of upload lines, as offsets in the stream of bytes sent.
  struct Sending {
    std::int32_t line = 0;  // from 1
    std::int64_t start = 0, end = 0;
    bool answered = false;
  };
  std::vector<Sending> sendings_;
  std::int32_t reply_pause_ms_ = 0;  // idle time before the next bytes sent
  std::int64_t queued_ = 0;   // bytes handed out for sending
  std::int64_t written_ = 0;  // of those, the bytes that have left
};

}  // namespace kal::sim

#include "sensor.h"

#include <algorithm>
#include <iterator>

#include "common/format.h"

namespace kal::sim {
namespace {

constexpr unsigned char kFrameStart = 0xAA;
constexpr unsigned char kFrameEnd = 0x55;
constexpr unsigned char kQuery = 0x80;
constexpr unsigned char kSetRate = 0x81;
constexpr unsigned char kShutDown = 0x85;
constexpr unsigned char kStartUpload = 0x90;
constexpr unsigned char kClearMemory = 0x91;
constexpr unsigned char kClearMemoryKey = 0x19;
constexpr unsigned char kClearSequence = '4';
constexpr std::size_t kSendingsKept = 64;

// Length of the frame that starts AA `command`, 0 for an unknown command.
std::size_t frame_length(unsigned char command) {
  switch (command) {
    case kQuery:
    case kShutDown:
    case kStartUpload:
      return 3;
    case kSetRate:
    case kClearMemory:
      return 4;
    default:
      return 0;
  }
}

std::string number(std::int64_t value) {
  const std::string field = fmt::I(value, 20);
  return field.substr(field.find_first_not_of(' '));
}

SensorEvent note(std::string text) { return {SensorEvent::Kind::note, std::move(text)}; }

}  // namespace

Sensor::Sensor(const SimOptions& options, SensorMemory& memory)
    : options_(options), memory_(memory), random_(options.seed), baud_(options.baud) {}

void Sensor::hear(unsigned char byte, std::vector<SensorEvent>& events) {
  if (!frame_.empty()) {
    frame_byte(byte, events);
    return;
  }
  const bool answer = uploading_ && (byte == 'N' || byte == 'R');
  if (byte == kFrameStart || byte == kClearSequence || answer) flush_heard(events);
  if (byte == kFrameStart) {
    frame_.assign(1, static_cast<char>(byte));
  } else if (byte == kClearSequence) {
    events.push_back({SensorEvent::Kind::heard, std::string(1, static_cast<char>(byte))});
    if (uploading_) end_upload("upload cancelled by the clear sequence", events);
  } else if (answer) {
    events.push_back({SensorEvent::Kind::heard, std::string(1, static_cast<char>(byte))});
    record_answer(byte, events);
    if (byte == 'N') {
      next_line(events);
    } else {
      send_line(false, events);
    }
  } else {
    other_.push_back(static_cast<char>(byte));
  }
}

// Which sending an answer is for: the last one the host has begun to
// receive. A second answer to it means the host answered one transmission
// twice (and the sensor runs ahead or behind).
void Sensor::record_answer(unsigned char answer, std::vector<SensorEvent>& events) {
  Sending* sending = nullptr;
  for (auto it = sendings_.rbegin(); it != sendings_.rend(); ++it) {
    if (it->start < written_) {
      sending = &*it;
      break;
    }
  }
  if (sending == nullptr) return;
  const std::string line = number(sending->line);
  if (sending->answered) events.push_back(note("second answer to one sending of line " + line));
  if (sending->end > written_) events.push_back(note("answer before the end of line " + line));
  sending->answered = true;
  const std::string current = number(static_cast<std::int64_t>(index_ + 1));
  events.push_back(note("line " + current + (answer == 'N' ? " accepted" : " asked again")));
}

void Sensor::send(std::string bytes, std::vector<SensorEvent>& events, std::int32_t pause_ms) {
  pause_ms += reply_pause_ms_;  // the sensor's delay before a sending's first bytes
  reply_pause_ms_ = 0;
  queued_ += static_cast<std::int64_t>(bytes.size());
  events.push_back({SensorEvent::Kind::sent, std::move(bytes), pause_ms});
}

void Sensor::flush_heard(std::vector<SensorEvent>& events) {
  if (other_.empty()) return;
  events.push_back({SensorEvent::Kind::heard, other_});
  other_.clear();
}

void Sensor::lose_sync() {
  frame_.clear();
  other_.clear();
}

void Sensor::frame_byte(unsigned char byte, std::vector<SensorEvent>& events) {
  frame_.push_back(static_cast<char>(byte));
  const std::size_t length = frame_length(static_cast<unsigned char>(frame_[1]));
  if (length == 0) {
    reject_frame(events);
    return;
  }
  if (frame_.size() < length) return;
  const bool ends_right = static_cast<unsigned char>(frame_.back()) == kFrameEnd;
  const bool key_right = static_cast<unsigned char>(frame_[1]) != kClearMemory ||
                         static_cast<unsigned char>(frame_[2]) == kClearMemoryKey;
  if (ends_right && key_right) {
    run_frame(events);
  } else {
    reject_frame(events);
  }
}

// A broken frame is heard as plain bytes; a 0xAA inside it may start the
// next frame.
void Sensor::reject_frame(std::vector<SensorEvent>& events) {
  std::string bytes = std::move(frame_);
  frame_.clear();
  const bool restart = bytes.size() > 1 && static_cast<unsigned char>(bytes.back()) == kFrameStart;
  if (restart) bytes.pop_back();
  events.push_back({SensorEvent::Kind::heard, bytes});
  events.push_back(note("not a command frame"));
  if (restart) frame_.assign(1, static_cast<char>(kFrameStart));
}

void Sensor::run_frame(std::vector<SensorEvent>& events) {
  const std::string frame = std::move(frame_);
  frame_.clear();
  events.push_back({SensorEvent::Kind::heard, frame});
  const auto command = static_cast<unsigned char>(frame[1]);
  // The host sends the next frame only once it has done with the upload
  // (it never answers the "Z$" line).
  if (uploading_ && command != kStartUpload) end_upload("upload over", events);
  switch (command) {
    case kQuery:
      answer_query(events);
      break;
    case kSetRate:
      set_rate(static_cast<unsigned char>(frame[2]), events);
      break;
    case kStartUpload:
      start_upload(events);
      break;
    case kClearMemory: {
      std::string error;
      if (memory_.clear(error)) {
        events.push_back(note("memory cleared"));
      } else {
        events.push_back(note(error));
      }
      break;
    }
    case kShutDown:
      shut_down_ = true;
      events.push_back(note("shut down"));
      break;
    default:
      break;
  }
}

void Sensor::answer_query(std::vector<SensorEvent>& events) {
  ++queries_;
  if (queries_ <= options_.cold_start) {
    events.push_back(note("cold start: query " + number(queries_) + " of " +
                          number(options_.cold_start) + " ignored"));
    return;
  }
  send(options_.reply + "\r\n", events);
}

void Sensor::set_rate(unsigned char code, std::vector<SensorEvent>& events) {
  if (code >= std::size(kBaudByCode)) {
    events.push_back(note("no rate has code " + number(code)));
    return;
  }
  const std::int32_t old_baud = baud_;
  baud_ = kBaudByCode[code];
  events.push_back(note("rate " + number(old_baud) + " -> " + number(baud_)));
}

void Sensor::start_upload(std::vector<SensorEvent>& events) {
  upload_ = memory_.upload_lines();
  // Kept from earlier uploads: each fault strikes once in the sensor's life.
  if (sent_before_.size() < upload_.size()) sent_before_.resize(upload_.size(), false);
  index_ = 0;
  uploading_ = true;
  events.push_back(note("upload of " + number(static_cast<std::int64_t>(upload_.size())) +
                        " lines"));
  send_line(true, events);
}

void Sensor::next_line(std::vector<SensorEvent>& events) {
  if (upload_[index_].rfind("Z$", 0) == 0 || index_ + 1 >= upload_.size()) {
    end_upload("upload over", events);
    return;
  }
  ++index_;
  send_line(true, events);
}

void Sensor::end_upload(const char* why, std::vector<SensorEvent>& events) {
  uploading_ = false;
  events.push_back(note(why));
}

const Noise* Sensor::noise_for(Noise::Kind kind, std::int32_t line) const {
  for (const auto& noise : options_.noise) {
    if (noise.kind == kind && noise.line == line) return &noise;
  }
  return nullptr;
}

// Printable garbage without "$", CR or LF, so that it can never pass for a
// packet or end a line by itself.
std::string Sensor::random_bytes(std::int32_t count, bool with_line_end) {
  std::uniform_int_distribution<int> pick(' ', '~');
  std::string bytes;
  bytes.reserve(static_cast<std::size_t>(count) + 2);
  while (static_cast<std::int32_t>(bytes.size()) < count) {
    const int c = pick(random_);
    if (c != '$') bytes.push_back(static_cast<char>(c));
  }
  if (with_line_end) bytes += "\r\n";
  return bytes;
}

// The column (from 1) a fault names in `line` as sent with its CR LF; 0
// stands for the middle of the line.
std::size_t fault_index(const Noise& noise, const std::string& sent) {
  const std::size_t column = noise.size > 0 ? static_cast<std::size_t>(noise.size) : (sent.size() - 2) / 2 + 1;
  return std::min(column, sent.size()) - 1;
}

// Sends the current line; faults and noise act on its first sending only,
// so a repeat asked for with "R" is always the clean line (unless they are
// to strike every sending: a cable that damages the line each time).
void Sensor::send_line(bool first_time, std::vector<SensorEvent>& events) {
  const bool first_sending = first_time && !sent_before_[index_];
  sent_before_[index_] = true;
  first_time = first_sending || options_.noise_every_sending;
  reply_pause_ms_ = options_.reply_delay_ms;
  const auto number_sent = static_cast<std::int32_t>(index_ + 1);
  std::string line = upload_[index_];
  std::string ending = "\r\n";
  if (first_time) {
    if (const Noise* junk = noise_for(Noise::Kind::junk, number_sent)) {
      send(random_bytes(junk->size, true), events);
    }
    if (const Noise* burst = noise_for(Noise::Kind::burst, number_sent)) {
      send(random_bytes(burst->size, false), events);
    }
    if (options_.corrupt_line == number_sent) {
      const auto dollar = line.find('$');
      if (dollar != std::string::npos) {
        line[dollar] = '#';
      } else if (line.size() >= 2) {
        line[1] = '#';
      } else {
        line += '#';
      }
    }
    if (const Noise* longer = noise_for(Noise::Kind::long_line, number_sent)) {
      if (static_cast<std::int32_t>(line.size()) < longer->size) {
        line.resize(static_cast<std::size_t>(longer->size), ' ');
      }
    }
    if (noise_for(Noise::Kind::nul, number_sent) != nullptr) {
      line.insert(std::min<std::size_t>(3, line.size()), std::string(2, '\0'));
    }
    if (noise_for(Noise::Kind::cr_only, number_sent) != nullptr) ending = "\r";
    if (noise_for(Noise::Kind::join, number_sent) != nullptr && index_ + 1 < upload_.size()) {
      line += upload_[index_ + 1];
    }
  }
  std::string sent = line + ending;
  std::string held_back;
  std::int32_t hold_ms = 0;
  if (first_time) {
    if (const Noise* cut = noise_for(Noise::Kind::cut, number_sent)) sent[fault_index(*cut, sent)] = '\r';
    if (const Noise* flip = noise_for(Noise::Kind::flip, number_sent)) {
      sent[fault_index(*flip, sent)] ^= static_cast<char>(0x80);
    }
    if (const Noise* drop = noise_for(Noise::Kind::drop, number_sent)) {
      sent.erase(fault_index(*drop, sent), 1);
    }
    if (const Noise* tail = noise_for(Noise::Kind::tail, number_sent)) {
      const std::size_t keep = sent.size() > 10 ? sent.size() - 10 : 0;
      held_back = sent.substr(keep);
      sent.resize(keep);
      hold_ms = tail->size;
    }
  }
  if (sendings_.size() >= kSendingsKept) sendings_.erase(sendings_.begin());
  sendings_.push_back(
      {number_sent, queued_, queued_ + static_cast<std::int64_t>(sent.size() + held_back.size())});
  send(std::move(sent), events);
  if (!held_back.empty()) send(std::move(held_back), events, hold_ms);
  if (first_time) {
    // Noise after the line's end is not part of the sending.
    if (const Noise* after = noise_for(Noise::Kind::after, number_sent)) {
      send(random_bytes(after->size, false), events);
    }
  }
  if (!first_sending) return;
  if (options_.silent_after == number_sent) {
    silent_ = true;
    events.push_back(note("silent after line " + number(number_sent)));
  }
  if (options_.hangup_after == number_sent) {
    hangup_due_ = true;
    events.push_back(note("hang-up after line " + number(number_sent)));
  }
}

}  // namespace kal::sim

#include "session/upload.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <thread>

#include "common/durable_file.h"
#include "common/file_error.h"
#include "common/fixed_text.h"
#include "common/format.h"
#include "common/platform_error.h"
#include "common/rejected_mark.h"
#include "console/console.h"
#include "link/instrument_protocol.h"
#include "link/serial_port.h"

namespace kal {
namespace {

constexpr int kStartKeyChecks = 10000;
constexpr std::int32_t kPollsPerBaud = 10;
constexpr std::size_t kInstrumentIdLength = 40;
constexpr std::size_t kHeaderNameLength = 19;
constexpr std::size_t kStemLength = 8;
constexpr std::size_t kMaxHeaderLineLength = 50;
constexpr std::int32_t kRawLineCapacity = kLineLength;
constexpr std::int32_t kLowBaud = 9600;
constexpr int kProgressEvery = 10;
constexpr std::int32_t kProgressAlwaysUpTo = 20;
constexpr const char* kCommentListFile = "fort.9";
constexpr std::int32_t kReadChunk = 4096;
// Before "R" the line must have been quiet this long: some character times
// at the link's rate, and never less than a USB adapter needs to hand over
// the bytes it holds.
constexpr std::int64_t kQuietGapCharacters = 5;
constexpr std::int64_t kMinQuietGapUs = 100'000;
// With nobody at a terminal to press q, a sensor silent this long, or an
// upload that could accept no line this long (a cable that damages every
// line), ends as a time-out.
constexpr std::int64_t kUnattendedLimitUs = 60'000'000;
const std::string kEmptyCommentSlot(kCommentLength, '_');

enum class LineKind { identification, comment, file_header, end_of_data, data, rejected };

// The sensor stores printable ASCII text only, so any other byte (a NUL, a
// stray escape, a byte with its top bit set by noise) inside a received line
// is damage on the wire: the line is asked for again rather than accepted
// with its damage.
bool holds_control_byte(std::string_view received) {
  for (const char c : received) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte >= 0x7F) return true;
  }
  return false;
}

LineKind classify_line(std::string_view received) {
  if (received.size() < 2 || received[1] != '$') return LineKind::rejected;
  if (holds_control_byte(received)) return LineKind::rejected;
  switch (received[0]) {
    case 'C':
      if (received.size() > kMaxHeaderLineLength) return LineKind::rejected;
      return columns(received, 3, 8) == "000000" ? LineKind::identification : LineKind::comment;
    case 'H':
      return received.size() == 26 || received.size() == 28 ? LineKind::file_header
                                                             : LineKind::rejected;
    case 'Z':
      return LineKind::end_of_data;
    default:
      return LineKind::data;
  }
}

}  // namespace

// ---- one transmission ---------------------------------------------------------------

void Transmission::keep(std::string_view arrived) {
  const std::size_t room = kMaxTransmissionBytes - std::min(kMaxTransmissionBytes, bytes.size());
  const std::size_t kept = std::min(room, arrived.size());
  bytes.append(arrived.substr(0, kept));
  dropped += static_cast<std::int64_t>(arrived.size() - kept);
}

bool Transmission::ends_with_line_end() const {
  return dropped == 0 && bytes.size() >= 2 && bytes.compare(bytes.size() - 2, 2, "\r\n") == 0;
}

bool Transmission::over_at_line_end(std::int32_t still_unread) const {
  return still_unread == 0 && ends_with_line_end();
}

bool Transmission::end_by_silence() {
  if (empty()) return false;
  ended_by_silence = true;
  return true;
}

std::optional<std::string_view> Transmission::clean_line(std::int32_t capacity) const {
  std::string_view line = bytes;
  if (dropped != 0) return std::nullopt;
  // A CR LF ends the line whatever came after it: nothing at once, or
  // silence (its LF arrived in a read of its own just before the quiet).
  if (ends_with_line_end()) {
    line.remove_suffix(2);
  } else if (ended_by_silence && line.ends_with('\r')) {
    line.remove_suffix(1);  // the CR came, its LF did not
  } else {
    return std::nullopt;
  }
  if (line.find_first_of("\r\n") != std::string_view::npos) return std::nullopt;
  if (line.size() > static_cast<std::size_t>(capacity)) return std::nullopt;
  return line;
}

std::vector<std::string_view> Transmission::pieces() const {
  std::vector<std::string_view> out;
  std::string_view rest = bytes;
  while (!rest.empty()) {
    const std::size_t end = std::min(rest.find_first_of("\r\n"), rest.size());
    if (end > 0) out.push_back(rest.substr(0, end));
    if (end == rest.size()) break;
    // CR LF, a CR alone and a LF alone each end one piece.
    const bool cr_lf = rest[end] == '\r' && end + 1 < rest.size() && rest[end + 1] == '\n';
    rest.remove_prefix(end + (cr_lf ? 2 : 1));
  }
  return out;
}

// ---- RAW file -----------------------------------------------------------------

bool RawWriter::create(const std::string& name) {
  name_ = name;
  file_.reset(std::fopen(name.c_str(), "w"));
  error_ = file_ == nullptr ? errno : 0;
  // Until the first line arrives, Ctrl-C leaves no empty RAW file behind.
  if (file_ != nullptr) delete_if_interrupted(name);
  holds_lines_ = false;
  return file_ != nullptr;
}

bool RawWriter::write_line(std::string_view line) {
  if (!file_) return false;
  std::FILE* f = file_.get();
  const bool written = std::fwrite(line.data(), 1, line.size(), f) == line.size() &&
                       std::fputc('\n', f) != EOF && std::fflush(f) == 0;
  if (!written && !write_failed_) error_ = errno != 0 ? errno : EIO;
  if (!holds_lines_) delete_if_interrupted("");  // from now on the file holds the sensor's data
  holds_lines_ = true;
  if (!written) write_failed_ = true;
  return written;
}

bool RawWriter::close() {
  if (!file_) return true;
  delete_if_interrupted("");
  if (std::fclose(file_.release()) != 0) {
    if (!write_failed_) error_ = errno != 0 ? errno : EIO;
    return false;
  }
  if (!write_failed_) sync_raw_file(name_);
  return true;
}

bool sync_raw_file(const std::string& name) {
  const int error = sync_to_disk(name);
  if (error == 0) return true;
  put_line("*** The RAW file " + name + " could not be synced to disk: " + platform_error_text(error) +
           " (error " + fmt::I(error, 0) + ")");
  return false;
}

void print_timeout_report() {
  put_line("Timeout waiting for reply!!!");
  put_line("");
  put_line("************************ RECOMMENDED ACTIONS *************************");
  put_line("1. PERFORM A HARD RESET (remove and reinsert a battery).");
  put_line("2. Check serial cable connections.");
  put_line("3. Check power supply cabling or batteries.");
  put_line("4. Verify that serial port connector used corresponds to");
  put_line("   command line com# parameter (Default = \"COM1\").");
  put_line("5. If using high baud rate in command line, try reducing to 9600 baud.");
  put_line(" ");
}

// ---- the upload -------------------------------------------------------------------

Uploader::Uploader(SensorLink& link, session_settings& settings)
    : link_(link), s_(settings), instrument_id_(kInstrumentIdLength, ' ') {
  comment_list_.fill(kEmptyCommentSlot);
}

bool Uploader::create_raw(const std::string& name) {
  raw_name_ = name;
  if (raw_.create(raw_name_)) return true;
  put_line(fmt::FreeLine().text("*** Open error for outfile=").text(raw_name_).str());
  put_line(file_error_line("create", raw_name_, raw_.error_number()));
  raw_create_failed_ = true;
  return false;
}

UploadEnd Uploader::run() {
  // The rate change is requested even when the rate stays the same.
  const std::int32_t changed = link_.change_baud(s_.requested_baud);
  if (changed == kQueryOperatorQuit) return UploadEnd::quit;
  if (changed == kLinkLost) return UploadEnd::lost;

  put_line(">Press QQ to abort data transfer");
  put_line(" ");
  for (int i = 0; i < kStartKeyChecks; ++i) {
    if (quit_key_pressed()) return UploadEnd::timeout;
  }
  Retry r = link_.purge("Error MCIO3");
  if (r == Retry::done) {
    r = link_.write_bytes("Error MWD2", std::string_view(kStartUploadFrame, sizeof kStartUploadFrame));
  }
  if (r == Retry::quit) return UploadEnd::timeout;
  if (r == Retry::lost) return UploadEnd::lost;
  return receive_lines();
}

UploadEnd Uploader::receive_lines() {
  const std::int64_t poll_limit = std::int64_t{kPollsPerBaud} * s_.requested_baud;
  std::int64_t empty_polls = 0;
  last_accepted_ = std::chrono::steady_clock::now();
  Transmission t;
  for (;;) {
    ++empty_polls;
    bool complete = false;
    std::int64_t quiet_us = 0;
    const std::size_t had = t.bytes.size() + static_cast<std::size_t>(t.dropped);
    if (const auto lost = take_arrived(t, complete, quiet_us)) return *lost;
    if (t.bytes.size() + static_cast<std::size_t>(t.dropped) != had) empty_polls = 0;
    if (!complete) {
      if (quit_key_pressed()) return empty_polls > poll_limit ? UploadEnd::timeout : UploadEnd::abort;
      if (unattended_limit_passed(quiet_us)) return UploadEnd::timeout;
      // The poll goes on at once, but offers the processor first: the reader
      // thread, and on a small machine the sender itself, must not starve.
      std::this_thread::yield();
      continue;
    }
    const auto outcome = answer(t);
    t = Transmission{};
    if (outcome) return *outcome;
  }
}

std::int64_t Uploader::quiet_gap_us() const {
  // The slower of the two rates the link may be at (a failed rate change
  // leaves it at the first one).
  const std::int64_t baud = std::max<std::int32_t>(1, std::min(s_.requested_baud, s_.initial_baud));
  return std::max<std::int64_t>(kMinQuietGapUs, kQuietGapCharacters * 10 * 1'000'000 / baud);
}

bool Uploader::unattended_limit_passed(std::int64_t quiet_us) const {
  if (KEYS_CAN_ARRIVE()) return false;
  const std::string seconds = fmt::I(kUnattendedLimitUs / 1'000'000, 0);
  if (quiet_us >= kUnattendedLimitUs) {
    put_line("*** No byte from the sensor for " + seconds +
             " s and no operator at a terminal: giving up the upload");
    return true;
  }
  const auto since_accepted = std::chrono::steady_clock::now() - last_accepted_;
  if (std::chrono::duration_cast<std::chrono::microseconds>(since_accepted).count() >= kUnattendedLimitUs) {
    put_line("*** No line from the sensor could be accepted for " + seconds +
             " s and no operator at a terminal: giving up the upload");
    return true;
  }
  return false;
}

// Takes up to `bytes` received bytes, never waiting for more: the unread
// count may include bytes the reader is just moving from the driver, and a
// read that waited for them could wait for ever (the sensor sends nothing
// more before it has its answer).
std::optional<UploadEnd> Uploader::read_arrived(Transmission& t, std::int32_t bytes) {
  std::string chunk(static_cast<std::size_t>(kReadChunk), ' ');
  while (bytes > 0) {
    std::int32_t count = 0;
    const std::int32_t wanted = std::min(bytes, kReadChunk);
    const Retry read = link_.retry("Error MRL2", [&] {
      return SERIAL_READ_RECEIVED(&s_.port_number, chunk.data(), wanted, &count);
    });
    if (read == Retry::quit) return UploadEnd::timeout;
    if (read == Retry::lost) return UploadEnd::lost;
    if (count <= 0) break;
    t.keep(std::string_view(chunk.data(), static_cast<std::size_t>(count)));
    bytes -= count;
  }
  return std::nullopt;
}

std::optional<UploadEnd> Uploader::take_arrived(Transmission& t, bool& complete,
                                                std::int64_t& quiet_us) {
  // Every byte that has arrived is taken, however the reads cut them: the
  // transmission is over at a CR LF with nothing behind it, or at silence.
  std::int32_t unread = 0;
  std::int32_t status = SERIAL_UNREAD(&s_.port_number, &unread, &quiet_us);
  if (status == kSerialOk && unread > 0) {
    if (const auto end = read_arrived(t, unread)) return end;
    // A CR LF that more bytes follow at once is not the end of the
    // transmission: the line was cut, or noise came with it.
    status = SERIAL_UNREAD(&s_.port_number, &unread, &quiet_us);
    if (status == kSerialOk) {
      complete = t.over_at_line_end(unread);
      return std::nullopt;
    }
  }
  if (status != kSerialOk) {
    // The reader reports a device error: no byte will ever come.
    link_.report_lost(status);
    return UploadEnd::lost;
  }
  if (quiet_us < quiet_gap_us()) return std::nullopt;  // the sensor may still be sending
  complete = t.end_by_silence();
  return std::nullopt;
}

std::optional<UploadEnd> Uploader::wait_for_quiet(Transmission& t) {
  for (;;) {
    std::int32_t unread = 0;
    std::int64_t quiet_us = 0;
    const std::int32_t status = SERIAL_UNREAD(&s_.port_number, &unread, &quiet_us);
    if (status != kSerialOk) {
      link_.report_lost(status);
      return UploadEnd::lost;
    }
    if (unread > 0) {
      if (const auto end = read_arrived(t, unread)) return end;
      continue;
    }
    if (quiet_us >= quiet_gap_us()) return std::nullopt;
    if (quit_key_pressed()) return UploadEnd::timeout;
    std::this_thread::yield();
    // A line that never falls quiet (endless noise) is a wait on the sensor
    // like any other: bounded when nobody can press q.
    if (unattended_limit_passed(quiet_us)) return UploadEnd::timeout;
  }
}

std::optional<UploadEnd> Uploader::answer(Transmission& t) {
  if (const auto line = t.clean_line(kRawLineCapacity)) {
    const std::string_view received = *line;
    const LineKind kind = classify_line(received);
    if (kind != LineKind::rejected) {
      if (!raw_.write_line(received)) return UploadEnd::write_error;
      ++record_count_;
      std::string padded(received);
      padded.resize(static_cast<std::size_t>(kLineLength), ' ');
      bool readable = true;
      if (kind == LineKind::identification) readable = read_identification(padded);
      if (kind == LineKind::comment) readable = read_comment(padded);
      if (kind == LineKind::file_header) readable = read_file_header(padded);
      if (!readable) {
        put_line(fmt::FreeLine()
                     .text("*** Fatal parsing error in input string at ")
                     .i32(record_count_)
                     .text(padded)
                     .str());
        return UploadEnd::parse_error;
      }
      return accept_line(received);
    }
  }
  return reject(t);
}

// Answers an accepted line; no outcome means "go on receiving".
std::optional<UploadEnd> Uploader::accept_line(std::string_view received) {
  last_accepted_ = std::chrono::steady_clock::now();
  ++record_count_;
  if (record_count_ % kProgressEvery == 0 || s_.requested_baud < kLowBaud ||
      record_count_ <= kProgressAlwaysUpTo) {
    put_line(fmt::I(record_count_, 6) + " " + std::string(received));
  }
  if (received.substr(0, 2) == "Z$") return UploadEnd::end_of_data;
  const Retry r = link_.write_bytes("Error MWD3", std::string_view(&kNextCommand, 1));
  if (r == Retry::quit) return UploadEnd::timeout;
  if (r == Retry::lost) return UploadEnd::lost;
  if (quit_key_pressed()) return UploadEnd::abort;
  return std::nullopt;
}

// A damaged transmission: everything of it that arrives until the line is
// quiet goes to the RAW file, piece by piece, each behind the rejected mark
// (so that no reader takes it for a record) and each reported; then one
// "R", so the sensor gets exactly one answer for it. No outcome: go on
// receiving.
std::optional<UploadEnd> Uploader::reject(Transmission& t) {
  if (quit_key_pressed()) return UploadEnd::timeout;
  if (const auto end = wait_for_quiet(t)) return end;
  const std::vector<std::string_view> pieces = t.pieces();
  for (const std::string_view piece : pieces) {
    // The mark comes on top of the line's capacity: every byte a clean
    // line could hold is kept.
    std::string marked(kRejectedMark);
    marked += piece.substr(0, static_cast<std::size_t>(kRawLineCapacity));
    if (!raw_.write_line(marked)) return UploadEnd::write_error;
    ++record_count_;
    put_line(" Transfer error on packet " + fmt::I(record_count_ + 1, 5) + " -Retrying.");
  }
  if (pieces.empty()) {
    put_line(" Transfer error on packet " + fmt::I(record_count_ + 1, 5) + " -Retrying.");
  }
  Retry r = link_.purge("Error MCIO4");
  if (r == Retry::done) r = link_.write_bytes("Error MWD4", std::string_view(&kRepeatCommand, 1));
  if (r == Retry::quit) return UploadEnd::timeout;
  if (r == Retry::lost) return UploadEnd::lost;
  return std::nullopt;
}

bool Uploader::read_identification(const std::string& line) {
  if (position_of(std::string_view(line).substr(8), "USER OFFSETS ENABLED") > 0) return true;
  std::string id;
  if (!fmt::read(line, "2X,3I2,1X,A40", {numbers_[0], numbers_[1], numbers_[2], id})) return false;
  instrument_id_ = fixed(id, kInstrumentIdLength);
  put_line("InstrumentID >" + instrument_id_);

  // Model number: the three characters after "KALVOR-", an H standing for 5.
  const int model_at = position_of(instrument_id_, "KALVOR-");
  std::string model = model_at > 0 ? columns(instrument_id_, model_at + 7, model_at + 9)
                                   : columns(instrument_id_, 8, 10);
  const std::size_t h = model.find('H');
  if (h != std::string::npos) model[h] = '5';
  std::int32_t model_number = 0;
  if (!fmt::read_int(model, model_number)) return false;

  const int version_at = position_of(instrument_id_, "SW VERSION");
  const std::string version_field = version_at > 0
                                        ? columns(instrument_id_, version_at + 10, version_at + 14)
                                        : columns(instrument_id_, 11, 15);
  float version = 0.0f;
  std::string suffix;
  return fmt::read(version_field, "F4.1,A1", {version, suffix});
}

bool Uploader::read_comment(const std::string& line) {
  data_seen_ = true;
  std::string text;
  if (!fmt::read(line, "2X,3I2,1X,A16", {numbers_[0], numbers_[1], numbers_[2], text})) {
    return false;
  }
  text = fixed(SHIFTUP(text), kCommentLength);
  for (int slot = 1; slot <= kCommentSlots; ++slot) {
    std::string& entry = comment_list_[static_cast<std::size_t>(slot - 1)];
    if (slot == kCommentSlots) {  // the last slot takes whatever comes
      entry = text;
      store_comment(slot, text);
      break;
    }
    if (entry == text) break;
    if (entry == kEmptyCommentSlot) {
      entry = text;
      store_comment(slot, text);
      break;
    }
  }
  return true;
}

void Uploader::store_comment(int slot, const std::string& text) {
  if (!comment_file_) comment_file_.reset(std::fopen(kCommentListFile, "w"));
  if (!comment_file_) return;  // the list is a convenience; the RAW file holds every comment
  const std::string record = fmt::write("I5,1X,A16", {slot, text}) + "\n";
  std::fwrite(record.data(), 1, record.size(), comment_file_.get());
  std::fflush(comment_file_.get());
}

bool Uploader::read_file_header(const std::string& line) {
  if (record_count_ > 1) data_seen_ = true;

  // A header without a survey name stands for the default file set.
  std::string survey(trimmed(columns(line, 10, 17)));
  if (survey.empty()) survey = "Default";
  std::string header_name = fixed(survey + ".raw", kHeaderNameLength);

  std::int32_t unused[3] = {0, 0, 0};
  if (!fmt::read(line, "18X,3I2", {unused[0], unused[1], unused[2]})) return false;
  // The length code is the field from character 26 to the last non-blank.
  const std::size_t last = trimmed_length(line);
  const std::string_view length_field =
      last > 25 ? std::string_view(line).substr(25, last - 25) : std::string_view();
  if (fmt::read_free_int(length_field, length_code_) != fmt::FreeRead::value) return false;
  if (!fmt::read(line, "2X,3I2", {numbers_[0], numbers_[1], numbers_[2]})) return false;

  const std::string stem = header_name.substr(0, header_name.find('.'));
  bool repeated = false;
  for (const std::string& known : header_names_) {
    if (same_text(known, stem)) repeated = true;
  }
  if (repeated) {
    put_columns(header_name, 9,
                fmt::write("1X,3I2,A", {numbers_[0], numbers_[1], numbers_[2], ".raw"}));
  } else {
    put_line(fmt::FreeLine().text(">Kalvor Length =").i32(length_code_).str());
  }
  header_names_.push_back(fixed(stem, kStemLength));
  if (!data_seen_) {
    put_line(">No data in file preceding header:");
    put_line(">Deleting empty default output file");
  }
  put_line(fmt::FreeLine().text(">Output file: ").text(fixed(header_name, kHeaderNameLength)).str());
  return true;
}

}  // namespace kal

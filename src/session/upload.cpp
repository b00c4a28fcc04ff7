#include "session/upload.h"

#include "common/fixed_text.h"
#include "common/format.h"
#include "link/console.h"
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
const std::string kEmptyCommentSlot(kCommentLength, '_');

enum class LineKind { identification, comment, file_header, end_of_data, data, rejected };

// The sensor stores printable text only, so a control byte (a NUL, a stray
// escape, ...) inside a received line is damage on the wire: the line is
// asked for again rather than accepted with its damage.
bool holds_control_byte(std::string_view received) {
  for (const char c : received) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte == 0x7F) return true;
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

// ---- RAW file -----------------------------------------------------------------

bool RawWriter::create(const std::string& name) {
  file_.reset(std::fopen(name.c_str(), "w"));
  return file_ != nullptr;
}

bool RawWriter::write_line(std::string_view line) {
  if (!file_) return false;
  std::FILE* f = file_.get();
  return std::fwrite(line.data(), 1, line.size(), f) == line.size() && std::fputc('\n', f) != EOF &&
         std::fflush(f) == 0;
}

bool RawWriter::close() {
  if (!file_) return true;
  return std::fclose(file_.release()) == 0;
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
  std::string line(static_cast<std::size_t>(kLineLength), ' ');
  for (;;) {
    ++empty_polls;
    std::int32_t ready = 0;
    std::int32_t count = 0;
    const std::int32_t peeked = SERIAL_PEEK_LINE(&s_.port_number, &ready, &count);
    if (peeked != kSerialOk) {
      // The reader reports a device error: no line will ever come.
      link_.report_lost(peeked);
      return UploadEnd::lost;
    }
    if (ready == 0) {
      if (quit_key_pressed()) return empty_polls > poll_limit ? UploadEnd::timeout : UploadEnd::abort;
      continue;
    }

    // A line longer than a received line can hold is damaged as a whole: its
    // first 256 characters must not be accepted and its rest answered as a
    // line of its own, or the extra answer puts host and sensor out of step.
    const bool over_long = count > kRawLineCapacity;
    const Retry read = link_.retry("Error MRL2", [&] {
      return SERIAL_READ(&s_.port_number, line.data(), kRawLineCapacity, &count);
    });
    if (read == Retry::quit) return UploadEnd::timeout;
    if (read == Retry::lost) return UploadEnd::lost;
    empty_polls = 0;
    const std::string_view received(line.data(), static_cast<std::size_t>(count));
    if (!raw_.write_line(received)) return UploadEnd::write_error;
    ++record_count_;

    bool readable = true;
    switch (over_long ? LineKind::rejected : classify_line(received)) {
      case LineKind::rejected:
        if (const auto outcome = reject_line()) return *outcome;
        continue;
      case LineKind::identification:
        readable = read_identification(line);
        break;
      case LineKind::comment:
        readable = read_comment(line);
        break;
      case LineKind::file_header:
        readable = read_file_header(line);
        break;
      case LineKind::end_of_data:
      case LineKind::data:
        break;
    }
    if (!readable) {
      put_line(fmt::FreeLine()
                   .text("*** Fatal parsing error in input string at ")
                   .i32(record_count_)
                   .text(line)
                   .str());
      return UploadEnd::parse_error;
    }
    if (const auto outcome = accept_line(received)) return *outcome;
  }
}

// Answers an accepted line; no outcome means "go on receiving".
std::optional<UploadEnd> Uploader::accept_line(std::string_view received) {
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

// Asks for a damaged line again; no outcome means "go on receiving".
std::optional<UploadEnd> Uploader::reject_line() {
  if (quit_key_pressed()) return UploadEnd::timeout;
  put_line(" Transfer error on packet " + fmt::I(record_count_ + 1, 5) + " -Retrying.");
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

#include "session/session.h"

#include <array>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "common/fixed_text.h"
#include "common/format.h"
#include "link/console.h"
#include "link/instrument_protocol.h"
#include "link/serial_port.h"
#include "session/session_settings.h"
#include "transcribe/driver.h"

namespace kal {
namespace {

// Carriage return ends a line; CR and LF are not stored.
constexpr std::uint32_t kSessionLineOptions = kStripCr | kStripLf | kCrEndsLine;
constexpr std::array<std::int32_t, 8> kProbeOrder = {38400, 9600, 57600, 115200,
                                                     19200, 4800,  2400,  1200};
constexpr int kMaxConnectFailures = 100;  // 101 attempts in all
// A sensor whose port refuses every purge is reconnected at most this often
// per rate before the next rate is tried.
constexpr int kMaxColdRestarts = 10;
constexpr int kPowerUpPolls = 1000;
constexpr std::int32_t kPowerUpSleepMs = 10;
constexpr std::uint32_t kReadIntervalMs = 2;
constexpr std::uint32_t kWriteMultiplier = 0;
constexpr std::uint32_t kWriteConstantMs = 1000;
constexpr int kStartKeyChecks = 10000;
// A serial operation that fails this many times in a row, at once, with an
// error that does not say the device is gone, is given up all the same: a
// session run from a script must not spin forever printing retry lines.
constexpr int kRetryLimit = 10;
constexpr std::int32_t kPollsPerBaud = 10;
constexpr int kCommentSlots = 100;
constexpr std::size_t kCommentLength = 16;
constexpr std::size_t kInstrumentIdLength = 40;
constexpr std::size_t kHeaderNameLength = 19;
constexpr std::size_t kStemLength = 8;
constexpr std::size_t kMaxHeaderLineLength = 50;
constexpr std::int32_t kRawLineCapacity = kLineLength;
constexpr std::int32_t kLowBaud = 9600;
constexpr int kProgressEvery = 10;
constexpr std::int32_t kProgressAlwaysUpTo = 20;
constexpr std::int32_t kNothingUploaded = 2;  // only the end-of-data line
constexpr const char* kCommentListFile = "fort.9";
const std::string kEmptyCommentSlot(kCommentLength, '_');

struct FileCloser {
  void operator()(std::FILE* f) const {
    if (f) std::fclose(f);
  }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;


// The RAW file while it is written. Each line is handed to the operating
// system before the sensor is told to send the next one, so a stop of the
// program loses nothing that was accepted.
class RawWriter {
 public:
  bool create(const std::string& name) {
    file_.reset(std::fopen(name.c_str(), "w"));
    return file_ != nullptr;
  }
  bool write_line(std::string_view line) {
    if (!file_) return false;
    std::FILE* f = file_.get();
    return std::fwrite(line.data(), 1, line.size(), f) == line.size() && std::fputc('\n', f) != EOF &&
           std::fflush(f) == 0;
  }
  // True when the file was closed cleanly (or was not open).
  bool close() {
    if (!file_) return true;
    return std::fclose(file_.release()) == 0;
  }

 private:
  FilePtr file_;
};

// Takes a waiting key, if any; true when it is q or Q.
bool quit_key_pressed() {
  if (!KEY_WAITING()) return false;
  char key = ' ';
  GET_KEY(key);
  return key == 'q' || key == 'Q';
}

enum class Retry { done, quit, lost };
enum class Probe { found, quit, no_port, no_sensor, lost };
enum class Upload { end_of_data, abort, timeout, parse_error, write_error, quit, lost };
enum class CloseFrom { end_of_data, restore, release };
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

class Session {
 public:
  Session() { comment_list_.fill(kEmptyCommentSlot); }
  int run(const std::vector<std::string>& args);

 private:
  // Sensor connection and baud negotiation.
  Probe find_sensor();
  bool connect(int& connect_failures, std::int32_t& status);
  std::int32_t query_sensor();
  void release_port();
  void print_power_up_advice();
  bool power_up_wait_quit();
  Retry set_up_line(std::int32_t rate);
  void print_connect_failure(std::int32_t status);

  // Upload.
  Upload upload();
  Upload receive_lines();
  std::optional<Upload> accept_line(std::string_view received);
  std::optional<Upload> reject_line();
  bool read_identification(const std::string& line);
  bool read_comment(const std::string& line);
  bool read_file_header(const std::string& line);
  void store_comment(int slot, const std::string& text);
  CloseFrom finish_upload(Upload outcome);
  void print_timeout_report();

  // Session close.
  int close_session(CloseFrom from);
  void end_of_data();
  void restore_and_shut_down();
  void release_and_exit();
  void delete_raw_if_empty();
  void transcribe_all();
  std::int32_t change_baud(std::int32_t baud);

  // Serial helpers.
  template <class Operation>
  Retry retry(std::string_view tag, Operation operation);
  Retry write_bytes(std::string_view tag, std::string_view bytes);
  void report_lost_link(std::int32_t status);

  session_settings s_;
  RawWriter raw_;
  std::string raw_name_;  // empty until formed
  bool raw_create_failed_ = false;
  std::int32_t record_count_ = 0;
  bool port_connected_ = false;
  bool link_lost_ = false;
  int exit_status_ = kExitOk;

  std::array<std::string, kCommentSlots> comment_list_;
  FilePtr comment_file_;
  std::vector<std::string> header_names_;
  bool data_seen_ = false;
  std::int32_t length_code_ = 0;
  std::int32_t numbers_[3] = {0, 0, 0};
  std::string instrument_id_ = std::string(kInstrumentIdLength, ' ');
};

// ---- serial helpers ---------------------------------------------------------

template <class Operation>
Retry Session::retry(std::string_view tag, Operation operation) {
  for (int failures = 0;;) {
    const std::int32_t status = operation();
    if (status == kSerialOk) return Retry::done;
    if (serial_link_dead(status)) {
      report_lost_link(status);
      return Retry::lost;
    }
    print_retry_line(tag, status, s_.port_number);
    if (quit_key_pressed()) return Retry::quit;
    if (++failures >= kRetryLimit) {
      report_lost_link(status);
      return Retry::lost;
    }
  }
}

Retry Session::write_bytes(std::string_view tag, std::string_view bytes) {
  return retry(tag, [&] {
    std::int32_t count = static_cast<std::int32_t>(bytes.size());
    return SERIAL_WRITE(&s_.port_number, bytes, &count);
  });
}

void Session::report_lost_link(std::int32_t status) {
  link_lost_ = true;
  put_line("*** Lost the link to the sensor on port COM" + fmt::I(s_.port_number, 0) + ": " +
           serial_error_text(status) + " (error " + fmt::I(status, 0) + ")");
}

std::int32_t Session::change_baud(std::int32_t baud) {
  std::int32_t result = KALVOR_CHANGE_BAUD(s_.port_number, baud, s_.current_baud);
  if (result != kQueryAnswered) result = KALVOR_CHANGE_BAUD(s_.port_number, baud, s_.current_baud);
  if (result == kLinkLost) link_lost_ = true;  // the routine named port and error
  return result;
}

// ---- the run ------------------------------------------------------------------

int Session::run(const std::vector<std::string>& args) {
  reset_protocol_state();  // each run starts as the program does
  print_banner();
  switch (read_command_line(args, s_)) {
    case CommandLine::proceed:
      break;
    case CommandLine::too_many:
    case CommandLine::bad_port:
      exit_status_ = kExitBadArguments;
      return close_session(CloseFrom::release);
    case CommandLine::usage:
    case CommandLine::bad_height:
      exit_status_ = kExitBadArguments;
      return close_session(CloseFrom::restore);
  }

  s_.raw_base_name = form_raw_base_name();
  raw_name_ = raw_file_name(s_);
  if (!raw_.create(raw_name_)) {
    put_line(fmt::FreeLine().text("*** Open error for outfile=").text(raw_name_).str());
    raw_create_failed_ = true;
    exit_status_ = kExitRawFileError;
    return close_session(CloseFrom::restore);
  }
  s_.raw_open = true;
  record_count_ = 0;
  put_line("");

  switch (find_sensor()) {
    case Probe::found:
      break;
    case Probe::quit:
      exit_status_ = kExitAborted;
      return close_session(CloseFrom::release);
    case Probe::no_port:
    case Probe::lost:
      exit_status_ = kExitNoPort;
      return close_session(CloseFrom::release);
    case Probe::no_sensor:
      print_timeout_report();
      exit_status_ = kExitNoSensor;
      return close_session(CloseFrom::release);
  }
  return close_session(finish_upload(upload()));
}

// ---- sensor connection and baud negotiation -----------------------------------

Probe Session::find_sensor() {
  for (const std::int32_t rate : kProbeOrder) {
    put_line(fmt::FreeLine().text("Testing for connection at baud rate of").i32(rate).str());
    int reinit_count = 0;
    int connect_failures = 0;
    int cold_restarts = 0;
    for (;;) {
      std::int32_t status = kSerialOk;
      if (!connect(connect_failures, status)) {
        print_connect_failure(status);
        SLEEP_MS(2000);
        return Probe::no_port;
      }
      print_power_up_advice();
      if (power_up_wait_quit()) return Probe::quit;
      switch (set_up_line(rate)) {
        case Retry::done:
          break;
        case Retry::quit:
          return Probe::quit;
        case Retry::lost:
          return Probe::lost;
      }
      put_line("Waiting for reply from Sensor.");
      put_line("May take 10s from cold off state.");
      put_line(" ");

      const std::int32_t result = query_sensor();
      if (result == kQueryAnswered) {
        put_line(fmt::FreeLine()
                     .text("Instrument detected, communicating at initial baud rate of ")
                     .i32(rate)
                     .str());
        s_.initial_baud = rate;
        return Probe::found;
      }
      if (result == kQueryOperatorQuit) return Probe::quit;
      if (result == kLinkLost) {  // the routine named port and error
        link_lost_ = true;
        return Probe::lost;
      }
      release_port();
      if (result == kQueryPortRefused) {
        if (++cold_restarts <= kMaxColdRestarts) {
          put_line("Cold start, try again...");
          continue;
        }
        put_line("Trying next baud rate");
        break;
      }
      if (++reinit_count == 1) {
        put_line("Re-initializing...");
        continue;
      }
      put_line("Trying next baud rate");
      break;
    }
  }
  return Probe::no_sensor;
}

// Clear sequence, a pause, draining, then the query; the query's result, or
// the clear's when the operator quit or the link died inside it.
std::int32_t Session::query_sensor() {
  std::string reply(kLineLength, ' ');
  const std::int32_t cleared = KALVOR_CLEAR(s_.port_number, reply);
  if (cleared != 0) return cleared;
  SLEEP_MS(1000);
  KALVOR_READ_DATA(s_.port_number, reply);
  return KALVOR_QUERY(s_.port_number, reply);
}

bool Session::connect(int& connect_failures, std::int32_t& status) {
  for (;;) {
    status = SERIAL_CONNECT(&s_.port_number, &kSessionLineOptions);
    if (status == kSerialOk) {
      port_connected_ = true;
      return true;
    }
    if (++connect_failures > kMaxConnectFailures) return false;
  }
}

void Session::release_port() {
  SERIAL_RELEASE(&s_.port_number);
  port_connected_ = false;
}

void Session::print_power_up_advice() {
  put_line("");
  put_line("Please ensure that Sensor is powered up.");
  put_line("  Power LED should be GREEN, and");
  put_line("  Transmit LED should have flashed GREEN at least once");
  put_line("If Sensor NOT powered up, then");
  put_line("   -> Click on this window to make it active,");
  put_line("   -> Press Q or q to quit, and");
  put_line("   -> Restart KALFETCH after powering up Sensor.");
  put_line("");
}

bool Session::power_up_wait_quit() {
  for (int i = 0; i < kPowerUpPolls; ++i) {
    SLEEP_MS(kPowerUpSleepMs);
    if (quit_key_pressed()) return true;
  }
  return false;
}

Retry Session::set_up_line(std::int32_t rate) {
  Retry r = retry("Error MCIO1", [&] { return SERIAL_PURGE(&s_.port_number); });
  if (r != Retry::done) return r;
  r = retry("Error MSS", [&] {
    return SERIAL_SET_STATE(&s_.port_number, &rate, &s_.parity, &s_.data_bits, &s_.stop_bits);
  });
  if (r != Retry::done) return r;
  return retry("Error MST", [&] {
    return SERIAL_SET_TIMEOUTS(&s_.port_number, &kReadIntervalMs, &kWriteMultiplier,
                               &kWriteConstantMs);
  });
}

void Session::print_connect_failure(std::int32_t status) {
  put_line("");
  put_line("Error in KALFETCH5:");
  put_line(fmt::FreeLine()
               .text("Failed to logically connect to PC comm port #")
               .i32(s_.port_number)
               .text(", Error#")
               .i32(status)
               .str());
  put_line("");
  put_line(" This message usually means that your USB-Serial adapter is not plugged into");
  put_line(" a USB port or that the COM port that your USB-Serial adapter is set up to use");
  put_line(" is not the same COM port that you have selected, either directly in your ");
  put_line(" command line or indirectly by not specifying a COM port (in which case, ");
  put_line(" COM1 is assumed.)");
  put_line("");
  put_line("");
}

// ---- upload -------------------------------------------------------------------

Upload Session::upload() {
  // The rate change is requested even when the rate stays the same.
  const std::int32_t changed = change_baud(s_.requested_baud);
  if (changed == kQueryOperatorQuit) return Upload::quit;
  if (changed == kLinkLost) return Upload::lost;

  put_line(">Press QQ to abort data transfer");
  put_line(" ");
  for (int i = 0; i < kStartKeyChecks; ++i) {
    if (quit_key_pressed()) return Upload::timeout;
  }
  Retry r = retry("Error MCIO3", [&] { return SERIAL_PURGE(&s_.port_number); });
  if (r == Retry::done) {
    r = write_bytes("Error MWD2", std::string_view(kStartUploadFrame, sizeof kStartUploadFrame));
  }
  if (r == Retry::quit) return Upload::timeout;
  if (r == Retry::lost) return Upload::lost;
  return receive_lines();
}

Upload Session::receive_lines() {
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
      report_lost_link(peeked);
      return Upload::lost;
    }
    if (ready == 0) {
      if (quit_key_pressed()) return empty_polls > poll_limit ? Upload::timeout : Upload::abort;
      continue;
    }

    // A line longer than a received line can hold is damaged as a whole: its
    // first 256 characters must not be accepted and its rest answered as a
    // line of its own, or the extra answer puts host and sensor out of step.
    const bool over_long = count > kRawLineCapacity;
    const Retry read = retry("Error MRL2", [&] {
      return SERIAL_READ(&s_.port_number, line.data(), kRawLineCapacity, &count);
    });
    if (read == Retry::quit) return Upload::timeout;
    if (read == Retry::lost) return Upload::lost;
    empty_polls = 0;
    const std::string_view received(line.data(), static_cast<std::size_t>(count));
    if (!raw_.write_line(received)) return Upload::write_error;
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
      return Upload::parse_error;
    }
    if (const auto outcome = accept_line(received)) return *outcome;
  }
}

// Answers an accepted line; no outcome means "go on receiving".
std::optional<Upload> Session::accept_line(std::string_view received) {
  ++record_count_;
  if (record_count_ % kProgressEvery == 0 || s_.requested_baud < kLowBaud ||
      record_count_ <= kProgressAlwaysUpTo) {
    put_line(fmt::I(record_count_, 6) + " " + std::string(received));
  }
  if (received.substr(0, 2) == "Z$") return Upload::end_of_data;
  const Retry r = write_bytes("Error MWD3", std::string_view(&kNextCommand, 1));
  if (r == Retry::quit) return Upload::timeout;
  if (r == Retry::lost) return Upload::lost;
  if (quit_key_pressed()) return Upload::abort;
  return std::nullopt;
}

// Asks for a damaged line again; no outcome means "go on receiving".
std::optional<Upload> Session::reject_line() {
  if (quit_key_pressed()) return Upload::timeout;
  put_line(" Transfer error on packet " + fmt::I(record_count_ + 1, 5) + " -Retrying.");
  Retry r = retry("Error MCIO4", [&] { return SERIAL_PURGE(&s_.port_number); });
  if (r == Retry::done) r = write_bytes("Error MWD4", std::string_view(&kRepeatCommand, 1));
  if (r == Retry::quit) return Upload::timeout;
  if (r == Retry::lost) return Upload::lost;
  return std::nullopt;
}

bool Session::read_identification(const std::string& line) {
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

bool Session::read_comment(const std::string& line) {
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

void Session::store_comment(int slot, const std::string& text) {
  if (!comment_file_) comment_file_.reset(std::fopen(kCommentListFile, "w"));
  if (!comment_file_) return;  // the list is a convenience; the RAW file holds every comment
  const std::string record = fmt::write("I5,1X,A16", {slot, text}) + "\n";
  std::fwrite(record.data(), 1, record.size(), comment_file_.get());
  std::fflush(comment_file_.get());
}

bool Session::read_file_header(const std::string& line) {
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

CloseFrom Session::finish_upload(Upload outcome) {
  switch (outcome) {
    case Upload::end_of_data:
      return CloseFrom::end_of_data;
    case Upload::write_error:
      put_line(fmt::FreeLine().text("*** Write error on outfile=").text(raw_name_).str());
      exit_status_ = kExitRawFileError;
      [[fallthrough]];
    case Upload::abort:
      put_line(" ");
      put_line(">Aborting transfer...");
      raw_.close();
      if (exit_status_ == kExitOk) exit_status_ = kExitAborted;
      return CloseFrom::restore;
    case Upload::parse_error:
      exit_status_ = kExitParseError;
      return CloseFrom::restore;
    case Upload::quit:
      exit_status_ = kExitAborted;
      return CloseFrom::release;
    case Upload::lost:
    case Upload::timeout:
      print_timeout_report();
      exit_status_ = kExitTimeout;
      return CloseFrom::release;
  }
  return CloseFrom::release;
}

void Session::print_timeout_report() {
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

// ---- session close ------------------------------------------------------------

int Session::close_session(CloseFrom from) {
  if (from == CloseFrom::end_of_data) end_of_data();
  if (from != CloseFrom::release) restore_and_shut_down();
  release_and_exit();
  return exit_status_;
}

void Session::end_of_data() {
  put_line(">End of Sensor data upload.");
  change_baud(s_.initial_baud);
  if (record_count_ <= kNothingUploaded) {
    put_line(" ");
    put_line("Sensor data memory empty; nothing to save.");
    put_line(" ");
    raw_.close();
    std::remove(raw_name_.c_str());
    return;
  }
  if (!raw_.close()) {
    // The sensor holds the only sound copy: do not offer to clear it.
    put_line(fmt::FreeLine().text("*** Write error on outfile=").text(raw_name_).str());
    exit_status_ = kExitRawFileError;
    return;
  }
  put_line(" ");
  put_line("Transfer Complete.");
  put_line(" Records saved:" + fmt::I(record_count_, 6));
  put_line(" ");
  if (link_lost_) return;  // no sensor left to clear
  put_line("Clear Sensor data memory?");
  put_line("Click on this window to make it active, then");
  put_line("Press Y for yes, or any other key to exit.");
  put_line(" ");
  char key = ' ';
  GET_KEY(key);
  if (key != 'y' && key != 'Y') return;
  if (retry("Error MCIO5", [&] { return SERIAL_PURGE(&s_.port_number); }) != Retry::done) return;
  write_bytes("Error MWD5", std::string_view(kClearMemoryFrame, sizeof kClearMemoryFrame));
}

void Session::restore_and_shut_down() {
  put_line(">Restoring Sensor to standard initial baud rate...");
  put_line(">Power Sensor down and restart before further use.");
  if (!s_.any_type_flag() && !s_.raw_open) return;
  // Without a connected port there is nothing to restore or shut down.
  if (!port_connected_ || link_lost_) return;
  if (s_.requested_baud != s_.initial_baud) {
    SLEEP_MS(1000);
    change_baud(s_.initial_baud);
    if (link_lost_) return;
  }
  if (write_bytes("Error MWD6", std::string_view(kShutDownFrame, sizeof kShutDownFrame)) !=
      Retry::done) {
    return;
  }
  put_line("");
  put_line(">>>> Sensor has been shut down...");
  put_line(">>>> You MUST power sensor off before attempting to use it again.");
  put_line(">>>> It will not communicate until power has been cycled. ");
  put_line("");
}

void Session::release_and_exit() {
  if (SERIAL_RELEASE(&s_.port_number) == kSerialOk) put_line(">Data Upload Phase Terminated.");
  port_connected_ = false;
  SLEEP_MS(10);
  if (record_count_ <= kNothingUploaded) {
    put_line("No data were uploaded from sensor, so no transcription was performed.");
    // Without a RAW name, or after a failed creation, there is no file to check.
    if (!raw_name_.empty() && !raw_create_failed_) delete_raw_if_empty();
    put_line("Exiting...");
  } else {
    transcribe_all();
  }
  SLEEP_MS(5000);
}

void Session::delete_raw_if_empty() {
  raw_.close();
  FilePtr file(std::fopen(raw_name_.c_str(), "r"));
  if (!file) file.reset(std::fopen(raw_name_.c_str(), "w+"));
  if (!file) return;
  const bool empty = std::fgetc(file.get()) == EOF;
  file.reset();
  if (empty && std::remove(raw_name_.c_str()) == 0) put_line("Empty RAW file deleted.");
}

void Session::transcribe_all() {
  const std::string list(trimmed(s_.transcribe_list));
  put_line(" ");
  put_line("Start Data Transcription Phase");
  put_line(fmt::FreeLine()
               .text("Transcribing RAW data files from Sensor to file types ")
               .text(list)
               .text(" as follows:")
               .str());
  raw_.close();
  for (const char letter : list) {
    const std::string_view type(&letter, 1);
    put_line(">>>Transcribe to file type " + std::string(type));
    std::int32_t result = kXlatOk;
    KALXLATSUB(raw_name_, type, s_.sensor_height, s_.args_given, result);
    if (result == kXlatOk) {
      put_line("   Data  successfully transcribed!");
    } else {
      put_line(fmt::FreeLine().text("   Error code was ").i32(result).str());
      if (exit_status_ == kExitOk) exit_status_ = kExitTranscriptionFailed;
    }
  }
}

}  // namespace

int KALFETCH5(const std::vector<std::string>& args) {
  Session session;
  return session.run(args);
}

}  // namespace kal

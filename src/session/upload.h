// The upload: the sensor's memory, line by line with the N/R handshake,
// into the RAW file; the identification, comments and file headers are
// read on the way, and the comments listed in fort.9.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "session/sensor_link.h"
#include "session/session_settings.h"

namespace kal {

enum class UploadEnd { end_of_data, abort, timeout, parse_error, write_error, quit, lost };

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
  bool create(const std::string& name);
  bool write_line(std::string_view line);
  // Closes the file and forces it onto the disk (a failure to sync is
  // reported on the console). True when it was closed cleanly (or was not
  // open).
  bool close();
  // The errno of the failed create, or of the first lost write or close.
  int error_number() const { return error_; }

 private:
  FilePtr file_;
  std::string name_;
  bool write_failed_ = false;  // then there is nothing sound to sync
  int error_ = 0;
  bool holds_lines_ = false;  // a line was written (or tried)
};

// Forces the RAW file onto the disk; false, with a line saying why, when
// it cannot be.
bool sync_raw_file(const std::string& name);

// "Timeout waiting for reply!!!" and the recommended actions.
void print_timeout_report();

// One transmission of the sensor as it arrived: every byte up to a CR LF
// that no further byte followed at once, or, when the sensor stopped
// without one, up to the silence. The verdict on it depends only on its
// bytes and on what came after them (silence, or further bytes at once),
// never on how the reads cut them.
struct Transmission {
  static constexpr std::size_t kMaxTransmissionBytes = 65536;  // beyond: counted, not kept

  std::string bytes;
  std::int64_t dropped = 0;
  bool ended_by_silence = false;

  void keep(std::string_view arrived);
  bool empty() const { return bytes.empty() && dropped == 0; }
  bool ends_with_line_end() const;
  // Whether the bytes taken so far are the whole transmission, with
  // `still_unread` further bytes already waiting behind them: over at a CR
  // LF that nothing follows yet.
  bool over_at_line_end(std::int32_t still_unread) const;
  // The line fell quiet. Silence ends a transmission that has begun; a
  // quiet line before the first byte ends nothing. True when it ended.
  bool end_by_silence();
  // The one received line the transmission is, when it is exactly one line
  // of at most `capacity` characters ended by CR LF (or by a CR and then
  // silence); nothing when it was cut, ran together with other bytes or
  // lost its line end.
  std::optional<std::string_view> clean_line(std::int32_t capacity) const;
  // Its pieces between line ends (CR LF, CR or LF), empty ones left out.
  std::vector<std::string_view> pieces() const;
};

inline constexpr int kCommentSlots = 100;
inline constexpr std::size_t kCommentLength = 16;

class Uploader {
 public:
  Uploader(SensorLink& link, session_settings& settings);

  // Creates the RAW file; false (with the open-error line) when it cannot.
  bool create_raw(const std::string& name);
  // Moves the link to the requested rate and receives the memory.
  UploadEnd run();

  RawWriter& raw() { return raw_; }
  const std::string& raw_name() const { return raw_name_; }
  bool raw_create_failed() const { return raw_create_failed_; }
  // Received lines: every line written to the RAW file and every accepted one.
  std::int32_t record_count() const { return record_count_; }

 private:
  UploadEnd receive_lines();
  // One look at the line: takes what has arrived into `t`; `complete` when
  // the transmission is over. An outcome only when the upload must end.
  std::optional<UploadEnd> take_arrived(Transmission& t, bool& complete, std::int64_t& quiet_us);
  std::optional<UploadEnd> read_arrived(Transmission& t, std::int32_t bytes);
  // Takes every further byte into `t` until the line has been quiet.
  std::optional<UploadEnd> wait_for_quiet(Transmission& t);
  std::optional<UploadEnd> answer(Transmission& t);
  std::optional<UploadEnd> accept_line(std::string_view received);
  std::optional<UploadEnd> reject(Transmission& t);
  std::int64_t quiet_gap_us() const;
  // Without a terminal: true, with a line saying why, once the sensor has
  // been silent for `quiet_us` too long or no line was accepted for too long.
  bool unattended_limit_passed(std::int64_t quiet_us) const;
  bool read_identification(const std::string& line);
  bool read_comment(const std::string& line);
  bool read_file_header(const std::string& line);
  void store_comment(int slot, const std::string& text);

  SensorLink& link_;
  session_settings& s_;
  RawWriter raw_;
  std::string raw_name_;  // empty until formed
  bool raw_create_failed_ = false;
  std::int32_t record_count_ = 0;
  std::chrono::steady_clock::time_point last_accepted_;  // or the upload's start

  std::array<std::string, kCommentSlots> comment_list_;
  FilePtr comment_file_;
  std::vector<std::string> header_names_;
  bool data_seen_ = false;
  std::int32_t length_code_ = 0;
  std::int32_t numbers_[3] = {0, 0, 0};
  std::string instrument_id_;
};

}  // namespace kal

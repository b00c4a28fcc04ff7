// The upload: the sensor's memory, line by line with the N/R handshake,
// into the RAW file; the identification, comments and file headers are
// read on the way, and the comments listed in fort.9.
#pragma once

#include <array>
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
  // True when the file was closed cleanly (or was not open).
  bool close();

 private:
  FilePtr file_;
};

// "Timeout waiting for reply!!!" and the recommended actions.
void print_timeout_report();

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
  std::optional<UploadEnd> accept_line(std::string_view received);
  std::optional<UploadEnd> reject_line();
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

  std::array<std::string, kCommentSlots> comment_list_;
  FilePtr comment_file_;
  std::vector<std::string> header_names_;
  bool data_seen_ = false;
  std::int32_t length_code_ = 0;
  std::int32_t numbers_[3] = {0, 0, 0};
  std::string instrument_id_;
};

}  // namespace kal

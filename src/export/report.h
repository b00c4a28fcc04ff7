// The quick-look report of one RAW file: summaries per survey file and for
// the whole file, a map of the stations coloured by conductivity, and a
// profile per line, as one self-contained HTML file with inline SVG.
//
// Stations are summarised as they come and thinned while collected, so the
// memory stays bounded whatever the size of the RAW file.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "export/station_record.h"

namespace kal::xlat {

// Drawing limits.
inline constexpr std::size_t kMapStations = 20000;      // per map
inline constexpr std::size_t kProfilePoints = 2000;     // per profile
inline constexpr std::size_t kProfileLines = 200;       // profiles per report
inline constexpr std::size_t kAllProfilePoints = 60000; // all profiles together

class QuickLookReport {
 public:
  explicit QuickLookReport(std::string raw_file_name);
  ~QuickLookReport();
  QuickLookReport(const QuickLookReport&) = delete;
  QuickLookReport& operator=(const QuickLookReport&) = delete;

  // The stations that follow belong to `file` (the same stem updates it).
  void survey_file(const SurveyFile& file);
  void station(const StationRecord& station);
  void comment(const CommentRecord& comment);
  // How the stations of a survey file were placed (after its last station).
  void positions(const PositionRecord& positions);
  void instrument(std::string_view id, std::string_view serial_number);
  // RAW line `raw_line` is a piece of a transmission the upload rejected;
  // the pieces of one transmission stand on consecutive lines.
  void rejected_piece(std::int32_t raw_line);
  // How the reading ended: the transcription's result code and RAW lines read.
  void ended(std::int32_t result_code, std::int32_t lines_read);

  // Writes the HTML file; false with `problem` set when it cannot.
  bool write(const std::string& path, const std::string& raw_name, std::string& problem) const;
  // The HTML text.
  std::string html() const;

 private:
  struct Data;
  std::unique_ptr<Data> data_;
};

}  // namespace kal::xlat

// One station as the exports see it: the values of one line of the X
// output, with the position projected as the SAN output projects it and the
// comment's text; and the survey file it belongs to.
#pragma once

#include <array>
#include <cstdint>
#include <string>

namespace kal::xlat {

struct GeometryColumns {
  int count = 1;                  // coil geometries of the instrument
  std::array<float, 3> hcp{};     // spacings, m
  std::array<float, 3> prp{};
};

struct SurveyFile {
  std::string stem;        // the X output's name without extension: LINE0001_101502
  std::string survey;      // the survey name of the file header; "Default" before one
  bool from_header = false;
  GeometryColumns geometry;
};

struct StationRecord {
  std::int32_t line = 0, station = 0;
  char line_mark = ' ', station_mark = ' ';
  std::int32_t hour = 0, minute = 0, second = 0, millisecond = 0;
  std::int32_t gps_time_ms = 0;
  bool has_fix = false;  // latitude and longitude both non-zero
  double latitude = 0.0, longitude = 0.0;  // WGS 84 degrees
  float altitude = 0.0f;
  std::int32_t fix = 0, satellites = 0;
  float hdop = 0.0f;
  double easting = 0.0, northing = 0.0;  // m, in the survey's one zone
  std::int32_t zone = 0;                 // negative: southern hemisphere
  int geometries = 1;  // geometry groups the X line carries
  std::array<float, 3> hc{}, hi{}, pc{}, pi{};
  float voltage = 0.0f, temperature = 0.0f, pitch = 0.0f, roll = 0.0f;
  std::string comment;  // text of the station's comment, empty without one

  // Milliseconds of the day of the station time.
  std::int64_t time_ms() const {
    return ((static_cast<std::int64_t>(hour) * 60 + minute) * 60 + second) * 1000 + millisecond;
  }
};

// A comment record, where and when it was read.
struct CommentRecord {
  std::string survey_stem;
  std::int32_t hour = 0, minute = 0, second = 0;
  std::string text;
};

}  // namespace kal::xlat

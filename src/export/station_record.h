// What the exports see of a run: its survey files, stations and comments.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "transcribe/station.h"

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

// One station of the X output as the exports see it: the station itself
// (the values the writers read), the fix it lies at, its position projected
// into the survey's one zone, and its comment's text.
struct StationRecord {
  xlat::Station values;
  xlat::StationKind kind = xlat::StationKind::X;
  xlat::GpsFix fix;                       // the last fix before the station
  double easting = 0.0, northing = 0.0;  // m, in the survey's one zone, when it has a fix
  std::int32_t zone = 0;                 // negative: southern hemisphere
  int geometries = 1;  // geometry groups the X line carries
  std::string comment;  // text of the station's comment, empty without one

  bool has_fix() const { return fix.has_position(); }
  // N$ and $PKLVT lines show whole seconds.
  std::int32_t millisecond() const {
    return kind == xlat::StationKind::N || kind == xlat::StationKind::Pklvt ? 0 : values.Millisecond;
  }
  // Milliseconds of the day of the station time.
  std::int64_t time_ms() const {
    return ((static_cast<std::int64_t>(values.Hour) * 60 + values.Minute) * 60 + values.Second) * 1000 +
           millisecond();
  }
};

// A comment record, where and when it was read.
struct CommentRecord {
  std::string survey_stem;
  std::int32_t hour = 0, minute = 0, second = 0;
  std::string text;
};

}  // namespace kal::xlat

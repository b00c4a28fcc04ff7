// What the exports see of a run: its survey files, stations and comments.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>

#include "export/positions.h"
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
// (the values the writers read), the last fix before it, its own position
// between the fixes around it, its date and its comment's text.
struct StationRecord {
  xlat::Station values;
  xlat::StationKind kind = xlat::StationKind::X;
  xlat::GpsFix fix;  // the last fix before the station, as the survey formats carry it
  int geometries = 1;  // geometry groups the X line carries
  std::string comment;  // text of the station's comment, empty without one
  std::string date;     // YYYY-MM-DD; empty without a file header's date
  StationPosition position;  // the station's own, between the fixes around it

  bool has_fix() const { return fix.has_position(); }
  bool has_position() const { return position.verdict != PositionVerdict::none; }
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

// How the stations of one survey file were placed.
struct PositionRecord {
  std::string survey_stem;
  std::optional<ClockOffset> offset;  // none: no fix lay between two stations
  PositionSummary summary;
};

// A comment record, where and when it was read.
struct CommentRecord {
  std::string survey_stem;
  std::int32_t hour = 0, minute = 0, second = 0;
  std::string text;
};

}  // namespace kal::xlat

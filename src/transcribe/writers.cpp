#include "transcribe/writers.h"

#include <cmath>
#include <cstring>
#include <limits>

#include "common/fixed_text.h"
#include "common/format.h"
#include "console/console.h"
#include "transcribe/gps_prepass.h"
#include "transcribe/result_codes.h"

namespace kal::xlat {
namespace {

// ---- line variants ----------------------------------------------------------------

// Time and status fields (5 to 8) of the XYZ, Geosoft and Log lines.
enum class TimeFields {
  hm_seconds,   // Hour, Minute I3; seconds F7.3; Voltage F7.3; Temperature F7.1
  blank_hms,    // 1X; Hour, Minute, Second I3; Voltage F7.3; Temperature F7.1
  hms_t72,      // Hour, Minute, Second I3; Voltage F7.3; Temperature F7.2
  blank_hms_g,  // 1X; Hour, Minute, Second I3; Voltage F9.3; Temperature F8.2
  hms,          // Hour, Minute, Second I3; Voltage F7.3; Temperature F7.1
};

struct Variant {
  TimeFields time;
  int extra_width;   // ExtraA, ExtraB as F<w>.0 after Temperature; 0: none
  int angle_width;   // Pitch, Roll as F<w>.2
  bool first_geometry_only;
};

Variant xyz_variant(StationKind kind) {
  switch (kind) {
    case StationKind::T:
      return {TimeFields::hm_seconds, 0, 8, false};
    case StationKind::N:
      return {TimeFields::blank_hms, 0, 7, false};
    case StationKind::Pklvt:
      return {TimeFields::hms_t72, 0, 7, true};
    default:
      return {TimeFields::hm_seconds, 0, 7, false};
  }
}

Variant geosoft_variant(StationKind kind) {
  switch (kind) {
    case StationKind::T:
    case StationKind::Pklvt:
      return {TimeFields::hm_seconds, 0, 8, false};
    case StationKind::N:
      return {TimeFields::blank_hms_g, 0, 7, false};
    default:
      return {TimeFields::hm_seconds, 0, 7, false};
  }
}

Variant log_variant(StationKind kind) {
  switch (kind) {
    case StationKind::T:
      return {TimeFields::hm_seconds, 8, 8, false};
    case StationKind::N:
      return {TimeFields::hms, 0, 7, false};
    case StationKind::Pklvt:
      return {TimeFields::hms_t72, 10, 7, true};
    default:
      return {TimeFields::hm_seconds, 0, 7, false};
  }
}

float seconds_of(const Station& s) {
  return static_cast<float>(s.Second) + static_cast<float>(s.Millisecond) / 1000.0f;
}

std::int32_t seconds_of_day(const Station& s) { return (s.Hour * 60 + s.Minute) * 60 + s.Second; }

int char_code(const std::string& mark) {
  return mark.empty() ? 32 : static_cast<int>(static_cast<unsigned char>(mark[0]));
}

std::size_t index(int g) { return static_cast<std::size_t>(g); }

void append_groups(std::string& line, const Run& run, bool first_only) {
  const Station& s = run.station;
  const int count = first_only ? 1 : run.config.GeometryCount;
  for (int g = 0; g < count; ++g) {
    fmt::append<"4F9.2">(line, {s.HC[index(g)], s.HI[index(g)], s.PC[index(g)], s.PI[index(g)]});
  }
}

void append_time_fields(std::string& line, const Station& s, TimeFields time) {
  switch (time) {
    case TimeFields::hm_seconds:
      fmt::append<"2I3,F7.3,F7.3,F7.1">(line, {s.Hour, s.Minute, seconds_of(s), s.Voltage, s.Temperature});
      break;
    case TimeFields::blank_hms:
      fmt::append<"1X,3I3,F7.3,F7.1">(line, {s.Hour, s.Minute, s.Second, s.Voltage, s.Temperature});
      break;
    case TimeFields::hms_t72:
      fmt::append<"3I3,F7.3,F7.2">(line, {s.Hour, s.Minute, s.Second, s.Voltage, s.Temperature});
      break;
    case TimeFields::blank_hms_g:
      fmt::append<"1X,3I3,F9.3,F8.2">(line, {s.Hour, s.Minute, s.Second, s.Voltage, s.Temperature});
      break;
    case TimeFields::hms:
      fmt::append<"3I3,F7.3,F7.1">(line, {s.Hour, s.Minute, s.Second, s.Voltage, s.Temperature});
      break;
  }
}

// Fields 13 to 20, the GPS fields. They change only with a G$ record and
// several stations lie between two, so the text of the last values is kept
// and written again while the values stay the same (equal values give the
// same text; -0.0 and 0.0 too, and a NaN is never equal: it is written anew).
void append_gps_fields(std::string& line, const GpsState& gps, LineBuffers::GpsFields& last) {
  if (last.text.empty() || last.time != gps.time || last.fix != gps.fix || last.latitude != gps.latitude ||
      last.longitude != gps.longitude || last.altitude != gps.altitude) {
    last.time = gps.time;
    last.fix = gps.fix;
    last.latitude = gps.latitude;
    last.longitude = gps.longitude;
    last.altitude = gps.altitude;
    last.text.clear();  // keeps its room: no allocation for the next text
    fmt::append<"1X,I12,F12.6,1X,F12.6,1X,F7.1,1X,I2">(
        last.text, {gps.time, gps.latitude, gps.longitude, gps.altitude, gps.fix});
  }
  line.append(last.text);
}

// Fields 5 to 20: time and status, extras, comment number, angles, GPS.
void append_tail(std::string& line, const Run& run, const Variant& v) {
  const Station& s = run.station;
  append_time_fields(line, s, v.time);
  if (v.extra_width == 8) fmt::append<"2F8.0">(line, {s.ExtraA, s.ExtraB});
  if (v.extra_width == 10) fmt::append<"2F10.0">(line, {s.ExtraA, s.ExtraB});
  fmt::append<"1X,I4">(line, {s.CommentNumber});
  if (v.angle_width == 8) {
    fmt::append<"2F8.2">(line, {s.Pitch, s.Roll});
  } else {
    fmt::append<"2F7.2">(line, {s.Pitch, s.Roll});
  }
  append_gps_fields(line, run.gps_state, run.buffers.gps_fields);
}

// ---- main output lines ---------------------------------------------------------------

void build_xyz_line(std::string& line, const Run& run, const Variant& v) {
  const Station& s = run.station;
  line.clear();
  fmt::append<"2I6">(line, {s.StationNumber, s.LineNumber});
  append_groups(line, run, v.first_geometry_only);
  fmt::append<"I2">(line, {s.MarkDigit});
  append_tail(line, run, v);
}

void build_geosoft_line(std::string& line, const Run& run, const Variant& v) {
  const Station& s = run.station;
  line.clear();
  fmt::append<"I6,1X,A1,I6,1X,A1">(line, {s.StationNumber, s.StationMark, s.LineNumber, s.LineMark});
  append_groups(line, run, v.first_geometry_only);
  fmt::append<"I2">(line, {s.MarkDigit});
  append_tail(line, run, v);
}

void build_log_line(std::string& line, const Run& run, const Variant& v) {
  const Station& s = run.station;
  line.clear();
  fmt::append<"I6">(line, {s.StationNumber});
  append_groups(line, run, v.first_geometry_only);
  fmt::append<"I2,I4,I6,I4">(line,
                             {s.MarkDigit, char_code(s.StationMark), s.LineNumber, char_code(s.LineMark)});
  append_tail(line, run, v);
}

void write_dat31(Run& run, std::string& line) {
  const Station& s = run.station;
  const Config& c = run.config;
  if (s.LineNumber != run.last_dat31_line) {
    run.main.write_line(fmt::write<"'L',I5,7X,'BB',I1,A3,A2,F4.1">(
        {s.LineNumber, s.MarkDigit, s.LineMark, s.StationMark, 1.0f}));
    run.main.write_line(
        fmt::write<"'T',I5,':',I2,I3,'-',I2,'-',I2">({s.Hour, s.Minute, c.Date1, c.Date2, c.Date3}));
    run.last_dat31_line = s.LineNumber;
  }
  line.clear();
  fmt::append<"'S','V','10',I6,'.000',2F10.3">(line, {s.StationNumber, s.HC[0], s.HI[0]});
  run.main.write_line(line);
  line.clear();
  fmt::append<"'S','H','10',I6,'.000',2F10.3">(line, {s.StationNumber, s.PC[0], s.PI[0]});
  run.main.write_line(line);
}

void write_san(Run& run, std::string& line) {
  const Station& s = run.station;
  if (run.opening_line_due) {
    run.main.write_line(fmt::write<"I6,F12.2">({-9, run.sensor_height}));
    run.opening_line_due = false;
  }
  double easting = 0.0, northing = 0.0;
  station_grid_position(run, easting, northing);
  line.clear();
  fmt::append<"F12.1,1X,F12.1,1X,F8.2">(line, {easting, northing, 0.0f});
  for (int g = 0; g < run.config.GeometryCount; ++g) {
    fmt::append<"2F9.2">(line, {s.HC[index(g)], s.PC[index(g)]});
  }
  fmt::append<"2F14.8,I12">(line, {run.gps_state.latitude, run.gps_state.longitude, run.gps_state.time});
  run.main.write_line(line);
}

Stop write_sdf(Run& run) {
  const Config& c = run.config;
  OutputFile sdf;
  if (!open_output(run, sdf, run.sdf_name)) return kXlatOutputOpen;
  sdf.write_line(fmt::FreeLine().i32(2 * c.GeometryCount).str());
  constexpr fmt::Format kSdfLine = "2I3,F8.0,F5.2,I4,F5.2,2F8.5,2F5.1";
  for (int g = 0; g < c.GeometryCount; ++g) {
    sdf.write_line(fmt::write(kSdfLine, {1, 1, 9000.0f, c.HcpSpacing[index(g)], 3, 0.0f, 1.0f, 0.0f,
                                         1.0f, 1.0f}));
    sdf.write_line(fmt::write(kSdfLine, {0, 1, 9000.0f, c.PrpSpacing[index(g)], 4, 0.0f, 1.0f, 0.0f,
                                         1.0f, 1.0f}));
  }
  close_output(run, sdf, Disposition::keep);
  run.last_sdf_written = run.sdf_name;
  run.sdf_pending = false;
  return std::nullopt;
}

Stop write_idf(Run& run, std::string& line) {
  const Station& s = run.station;
  const Config& c = run.config;
  const GpsState& gps = run.gps_state;
  if (run.sdf_pending && c.HcpSpacing[0] != 0.0f && c.PrpSpacing[0] != 0.0f) {
    if (const Stop stop = write_sdf(run)) return stop;
  }
  const std::int32_t number = c.SiblingInstrument ? seconds_of_day(s) : s.StationNumber;
  line.clear();
  fmt::append<"I6,F6.2,2F7.2">(line, {number, run.sensor_height, s.Pitch, s.Roll});
  for (int g = 0; g < c.GeometryCount; ++g) {
    const auto i = index(g);
    fmt::append<"4F9.0">(line, {s.HI[i] * 1000.0f, s.HC[i] * c.HcpFactor[i] * 1000.0f, s.PI[i] * 1000.0f,
                                s.PC[i] * c.PrpFactor[i] * 1000.0f});
  }
  fmt::append<"F12.6,1X,F12.6,1X,F7.1,1X,I2,I10,2I2,I3,F9.3">(
      line, {gps.latitude, gps.longitude, gps.altitude, gps.fix, gps.time, 0, 0, gps.satellites, gps.hdop});
  run.main.write_line(line);
  return std::nullopt;
}

// ---- ICE and its binary records ------------------------------------------------------

// A DAT integer: truncated toward zero and held inside the 32-bit range
// (a value that is not a number counts 0).
std::int32_t dat_integer(double value) {
  if (std::isnan(value)) return 0;
  const double t = std::trunc(value);
  if (t >= 2147483647.0) return std::numeric_limits<std::int32_t>::max();
  if (t <= -2147483648.0) return std::numeric_limits<std::int32_t>::min();
  return static_cast<std::int32_t>(t);
}

float dat_real(float value) { return std::isfinite(value) ? value : 0.0f; }

void put_le32(unsigned char* at, std::uint32_t bits) {
  for (int b = 0; b < 4; ++b) at[b] = static_cast<unsigned char>((bits >> (8 * b)) & 0xFFu);
}

void put_int(unsigned char* at, std::int32_t value) { put_le32(at, static_cast<std::uint32_t>(value)); }

void put_real(unsigned char* at, float value) {
  std::uint32_t bits = 0;
  std::memcpy(&bits, &value, sizeof bits);
  put_le32(at, bits);
}

void write_dat_record(Run& run) {
  const Station& s = run.station;
  unsigned char record[35] = {};
  put_int(record + 0, dat_integer(run.gps_state.latitude * 10000000.0));
  put_int(record + 4, dat_integer(run.gps_state.longitude * 10000000.0));
  put_int(record + 8, seconds_of_day(s));
  put_real(record + 12, dat_real(run.sensor_height));
  put_real(record + 16, dat_real(s.ems_value[1]));
  put_real(record + 20, dat_real(std::trunc(s.ems_reading * 1000.0f)));
  put_real(record + 24, dat_real(s.ems_value[0]));
  put_real(record + 28, 0.0f);
  run.dat.write_bytes(record, sizeof record);
  ++run.dat_records;
}

void write_ice(Run& run, std::string& line) {
  const Station& s = run.station;
  const GpsState& gps = run.gps_state;
  if (run.ice_first_record) {
    if (run.keep.utm_zone != 0) {
      put_line(fmt::FreeLine()
                   .text("    Ellipsoid used is ")
                   .i32(kEllipsoidGrs80)
                   .text(" zone ")
                   .i32(run.keep.utm_zone)
                   .str());
    }
    put_line(fmt::write<"I6,F12.2">({-9, run.sensor_height}));
    run.ice_first_record = false;
  }
  double easting = 0.0, northing = 0.0;
  station_grid_position(run, easting, northing);
  line.clear();
  fmt::append<"2F14.6,I3">(line, {gps.latitude, gps.longitude, s.ems_count});
  for (int k = 0; k < s.ems_count && k < kEmsChannels; ++k) {
    fmt::append<"F9.4">(line, {s.ems_value[index(k)]});
  }
  fmt::append<"F7.4,I2,3F7.2,1X,I12,I2,I4,2F14.1,2I4,F9.3,F8.1">(
      line, {s.ems_reading, 1, run.sensor_height, s.Pitch, s.Roll, seconds_of_day(s), 0, 0, easting, northing,
             gps.fix, gps.satellites, gps.hdop, gps.altitude});
  run.main.write_line(line);
  write_dat_record(run);
}

}  // namespace

bool type_writes(OutputType type, std::int32_t geometry_count, StationKind kind) {
  const bool single = geometry_count == 1;
  switch (type) {
    case OutputType::X:
    case OutputType::G:
    case OutputType::L:
    case OutputType::S:
    case OutputType::P:
      if (kind == StationKind::T || kind == StationKind::D) return single;
      return kind == StationKind::X || kind == StationKind::N || kind == StationKind::Pklvt;
    case OutputType::D:
      return kind == StationKind::T || kind == StationKind::D || kind == StationKind::N ||
             kind == StationKind::Pklvt;
    case OutputType::I:
      return kind == StationKind::I;
    case OutputType::R:
      break;
  }
  return false;
}

void station_grid_position(Run& run, double& easting, double& northing) {
  const GpsState& gps = run.gps_state;
  if (!gps.has_position()) {
    easting = run.station.LineNumber;
    northing = run.station.StationNumber;
    return;
  }
  project_in_kept_zone(gps.latitude, gps.longitude, run.keep.utm_zone, easting, northing);
}

Stop write_station(Run& run, StationKind kind) {
  if (!type_writes(run.type, run.config.GeometryCount, kind)) return std::nullopt;
  std::string& line = run.buffers.line;
  switch (run.type) {
    case OutputType::X:
      build_xyz_line(line, run, xyz_variant(kind));
      run.main.write_line(line);
      break;
    case OutputType::G:
      build_geosoft_line(line, run, geosoft_variant(kind));
      run.main.write_line(line);
      break;
    case OutputType::L:
      build_log_line(line, run, log_variant(kind));
      run.main.write_line(line);
      break;
    case OutputType::D:
      write_dat31(run, line);
      break;
    case OutputType::S:
      write_san(run, line);
      break;
    case OutputType::P:
      if (const Stop stop = write_idf(run, line)) return stop;
      break;
    case OutputType::I:
      write_ice(run, line);
      break;
    case OutputType::R:
      return std::nullopt;
  }
  // A written station is worth keeping, whatever file header follows; its
  // comment number belongs to this line only.
  run.output_used = true;
  run.station.CommentNumber = 0;
  return std::nullopt;
}

void write_dat31_file_header(Run& run) {
  run.main.write_line(fmt::write<"'RI31',1X,'V1.XX',A8,5X,'Kalvor-4 Data '">({run.survey_name}));
  run.last_dat31_line = kNoLineYet;
}

void write_reference_line(Run& run, bool pair) {
  const Station& s = run.station;
  const RefState& r = run.ref;
  std::string line =
      fmt::write<"1X,I9,3I3,'.',I3">({r.pair_count, s.Hour, s.Minute, s.Second, s.Millisecond});
  const auto& a = r.first;
  fmt::append<"7I10">(line, {a[0], a[1], a[2], a[3], a[4], a[5], a[6]});
  if (pair) {
    const auto& b = r.second;
    fmt::append<"7I10">(line, {b[0], b[1], b[2], b[3], b[4], b[5], b[6]});
  }
  run.raw_copy.write_line(line);
}

void write_aux_line(Run& run) {
  // Before the first file header only X and G have an auxiliary file.
  if (!run.xyx.is_open()) return;
  const Station& s = run.station;
  std::string line;
  build_geosoft_line(line, run, geosoft_variant(StationKind::T));
  fmt::append<"3F9.5">(line, {s.AuxA[0] / 10000.0f, s.AuxA[1] / 10000.0f, s.AuxA[2] / 10000.0f});
  fmt::append<"3F9.0">(line, {static_cast<float>(s.AuxB[0]) * 10.0f, static_cast<float>(s.AuxB[1]) * 10.0f,
                              static_cast<float>(s.AuxB[2]) * 10.0f});
  fmt::append<"F7.2">(line, {s.AuxC / 100.0f});
  run.xyx.write_line(line);
  ++run.xyx_count;
}

void write_gps_line(Run& run, std::string_view text) {
  run.gps.write_line(text);
  ++run.gps_count;
}

}  // namespace kal::xlat

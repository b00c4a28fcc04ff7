#include "transcribe/export.h"

#include <array>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <deque>
#include <filesystem>
#include <fstream>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <system_error>
#include <vector>

#include "common/fixed_text.h"
#include "geodesy/ll2utm.h"
#include "link/console.h"
#include "transcribe/driver.h"
#include "transcribe/export_text.h"
#include "transcribe/gps_prepass.h"
#include "transcribe/report.h"
#include "transcribe/station_record.h"
#include "transcribe/transcribe_state.h"
#include "transcribe/writers.h"

namespace kal {
namespace xlat {
namespace {

using Json = nlohmann::ordered_json;

// ---- the silent pass ------------------------------------------------------------------

// The console of the export pass: shows nothing and answers the prompts with
// the replies the last transcription was given, then with the end of input.
class ReplayConsole final : public ConsoleServices {
 public:
  explicit ReplayConsole(const std::vector<std::string>& replies)
      : replies_(replies.begin(), replies.end()) {}
  bool key_waiting() override { return false; }
  char get_key() override { return ' '; }
  void sleep_ms(std::int32_t) override {}
  void time_of_day(std::int16_t& h, std::int16_t& m, std::int16_t& s, std::int16_t& c) override {
    h = m = s = c = 0;
  }
  void date_today(std::int16_t& y, std::int16_t& m, std::int16_t& d) override { y = m = d = 0; }
  bool read_line(std::string& line) override {
    if (replies_.empty()) return false;
    line = replies_.front();
    replies_.pop_front();
    return true;
  }
  void write_line(std::string_view) override {}

 private:
  std::deque<std::string> replies_;
};

// For the length of the pass: its console installed, the projection's
// warnings muted, and the state kept between transcriptions put back
// afterwards, so that the pass leaves no trace in later transcriptions.
class SilentPass {
 public:
  SilentPass()
      : saved_(persistent()), replay_(saved_.replies), previous_(console()) {
    set_console(&replay_);
  }
  ~SilentPass() {
    set_console(&previous_);
    persistent() = saved_;
  }
  SilentPass(const SilentPass&) = delete;
  SilentPass& operator=(const SilentPass&) = delete;

 private:
  const Persistent saved_;
  ReplayConsole replay_;
  ConsoleServices& previous_;
  ProjectionWarningsMuted muted_;
};

// ---- rows ---------------------------------------------------------------------------------

// One value of a row: empty, an integer, a number or a text.
struct Cell {
  enum class Kind { empty, integer, number, text } kind = Kind::empty;
  std::int64_t integer = 0;
  double number = 0.0;
  std::string text;
};

Cell empty() { return {}; }
Cell integer(std::int64_t v) { return {Cell::Kind::integer, v, 0.0, {}}; }
Cell number(double v) {
  if (!std::isfinite(v)) return empty();
  return {Cell::Kind::number, 0, v, {}};
}
Cell number(float v) { return number(widened(v)); }
Cell text(std::string v) {
  if (v.empty()) return empty();
  return {Cell::Kind::text, 0, 0.0, as_utf8(v)};
}

std::string zero_filled(std::int32_t v, int width = 2) {
  std::string digits = std::to_string(v);
  if (v >= 0 && static_cast<int>(digits.size()) < width) {
    digits.insert(0, static_cast<std::size_t>(width) - digits.size(), '0');
  }
  return digits;
}

std::string time_text(const StationRecord& s) {
  return zero_filled(s.hour) + ":" + zero_filled(s.minute) + ":" + zero_filled(s.second) + "." +
         zero_filled(s.millisecond, 3);
}

std::string spacing_text(float spacing) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1f", static_cast<double>(spacing));
  return text;
}

std::string zone_text(std::int32_t zone) {
  if (zone == 0) return {};
  return std::to_string(zone < 0 ? -zone : zone) + (zone < 0 ? "S" : "N");
}

std::string mark_text(char mark) { return mark == ' ' ? std::string() : std::string(1, mark); }

std::vector<std::string> column_names(const GeometryColumns& geometry) {
  std::vector<std::string> names = {"survey",  "line",     "station",     "line_mark", "station_mark",
                                    "time",    "gps_time_ms", "latitude", "longitude", "altitude",
                                    "fix",     "satellites", "hdop",      "easting",   "northing",
                                    "utm_zone"};
  for (int g = 0; g < geometry.count; ++g) {
    const std::string hcp = spacing_text(geometry.hcp[static_cast<std::size_t>(g)]);
    const std::string prp = spacing_text(geometry.prp[static_cast<std::size_t>(g)]);
    names.push_back("HC_" + hcp + "m");
    names.push_back("HI_" + hcp + "m");
    names.push_back("PC_" + prp + "m");
    names.push_back("PI_" + prp + "m");
  }
  for (const char* name : {"voltage", "temperature", "pitch", "roll", "comment"}) names.push_back(name);
  return names;
}

std::vector<Cell> row_of(const SurveyFile& file, const StationRecord& s) {
  std::vector<Cell> row;
  row.reserve(32);
  const bool fix = s.has_fix;
  row.push_back(text(file.survey));
  row.push_back(integer(s.line));
  row.push_back(integer(s.station));
  row.push_back(text(mark_text(s.line_mark)));
  row.push_back(text(mark_text(s.station_mark)));
  row.push_back(text(time_text(s)));
  row.push_back(integer(s.gps_time_ms));
  row.push_back(fix ? number(s.latitude) : empty());
  row.push_back(fix ? number(s.longitude) : empty());
  row.push_back(fix ? number(s.altitude) : empty());
  row.push_back(integer(s.fix));
  row.push_back(integer(s.satellites));
  row.push_back(number(s.hdop));
  row.push_back(fix ? number(s.easting) : empty());
  row.push_back(fix ? number(s.northing) : empty());
  row.push_back(text(fix ? zone_text(s.zone) : std::string()));
  for (int g = 0; g < file.geometry.count; ++g) {
    const auto i = static_cast<std::size_t>(g);
    const bool carried = g < s.geometries;  // the X line carries this group
    for (const float v : {s.hc[i], s.hi[i], s.pc[i], s.pi[i]}) row.push_back(carried ? number(v) : empty());
  }
  row.push_back(number(s.voltage));
  row.push_back(number(s.temperature));
  row.push_back(number(s.pitch));
  row.push_back(number(s.roll));
  row.push_back(text(s.comment));
  return row;
}

std::string csv_text(const Cell& cell) {
  switch (cell.kind) {
    case Cell::Kind::empty:
      return {};
    case Cell::Kind::integer:
      return std::to_string(cell.integer);
    case Cell::Kind::number:
      return shortest_text(cell.number);
    case Cell::Kind::text:
      return csv_field(cell.text);
  }
  return {};
}

Json json_value(const Cell& cell) {
  switch (cell.kind) {
    case Cell::Kind::empty:
      return nullptr;
    case Cell::Kind::integer:
      return cell.integer;
    case Cell::Kind::number:
      return cell.number;
    case Cell::Kind::text:
      return cell.text;
  }
  return nullptr;
}

// ---- export files -------------------------------------------------------------------------

bool same_file(const std::string& path, const std::string& other) {
  std::error_code ec;
  if (!std::filesystem::exists(path, ec) || ec) return false;
  const bool same = std::filesystem::equivalent(path, other, ec);
  return !ec && same;
}

// One export file of one survey file, opened when its first row comes.
class ExportFile {
 public:
  virtual ~ExportFile() = default;
  // False (with a console line) when the file cannot be created.
  bool open(const std::string& path, const std::string& raw_name) {
    if (same_file(path, raw_name)) {
      problem_ = "*** Export file " + path + " would overwrite the RAW input file";
      return false;
    }
    out_.open(path, std::ios::binary | std::ios::trunc);
    path_ = path;
    if (!out_) problem_ = "*** Open error for export file=" + path;
    return static_cast<bool>(out_);
  }
  // False when the file lost data.
  bool close() {
    if (!out_.is_open()) return problem_.empty();
    out_.close();
    if (!out_ && problem_.empty()) problem_ = "*** Write error on export file=" + path_;
    return problem_.empty();
  }
  const std::string& problem() const { return problem_; }

 protected:
  std::ofstream out_;
  std::string path_;
  std::string problem_;
};

class CsvFile final : public ExportFile {
 public:
  void header(const std::vector<std::string>& names) {
    for (std::size_t i = 0; i < names.size(); ++i) out_ << (i ? "," : "") << csv_field(names[i]);
    out_ << "\r\n";
  }
  void row(const std::vector<Cell>& cells) {
    for (std::size_t i = 0; i < cells.size(); ++i) out_ << (i ? "," : "") << csv_text(cells[i]);
    out_ << "\r\n";
  }
};

// The FeatureCollection is written feature by feature, so that a long survey
// is never held in memory whole.
class GeoJsonFile final : public ExportFile {
 public:
  // One feature made once with the column names; each station only sets its
  // values, in column order.
  void begin(const std::vector<std::string>& names) {
    Json properties = Json::object();
    for (const std::string& name : names) properties[name] = nullptr;
    feature_ = {{"type", "Feature"},
                {"geometry", {{"type", "Point"}, {"coordinates", {0.0, 0.0}}}},
                {"properties", std::move(properties)}};
    out_ << "{\"type\":\"FeatureCollection\",\"features\":[";
  }
  void feature(const std::vector<Cell>& cells, const StationRecord& s) {
    Json& coordinates = feature_["geometry"]["coordinates"];
    coordinates[0] = s.longitude;
    coordinates[1] = s.latitude;
    auto value = feature_["properties"].begin();
    for (std::size_t i = 0; i < cells.size() && value != feature_["properties"].end(); ++i, ++value) {
      *value = json_value(cells[i]);
    }
    out_ << (features_ ? ",\n" : "\n") << feature_.dump(-1, ' ', false, Json::error_handler_t::replace);
    ++features_;
  }
  void end() { out_ << "\n]}\n"; }

 private:
  Json feature_;
  std::int64_t features_ = 0;
};

// ---- the observer of the pass --------------------------------------------------------------

GeometryColumns geometry_of(const Config& config) {
  GeometryColumns g;
  g.count = config.GeometryCount < 1 ? 1 : (config.GeometryCount > kMaxGeometries ? kMaxGeometries
                                                                                   : config.GeometryCount);
  g.hcp = config.HcpSpacing;
  g.prp = config.PrpSpacing;
  return g;
}

std::string trimmed_text(std::string_view text) { return std::string(trimmed(text)); }

class ExportObserver final : public RunObserver {
 public:
  ExportObserver(const ExportRequest& request, QuickLookReport& report)
      : request_(request), report_(report) {
    file_.stem = "Default";
    file_.survey = "Default";
  }

  void survey_file_started(const Run& run) override {
    finish_survey_file(run);
    file_ = SurveyFile{};
    file_.stem = run.base_name;
    file_.survey = run.survey_name;
    file_.from_header = true;
    file_.geometry = geometry_of(run.config);
    comments_.fill(std::string());
    stations_ = 0;
    without_fix_ = 0;
    report_.survey_file(file_);
  }

  void comment_read(const Run& run, std::string_view text) override {
    const std::int32_t slot = run.station.CommentNumber;
    if (slot >= 1 && slot <= kCommentSlots) comments_[static_cast<std::size_t>(slot - 1)] = trimmed_text(text);
    const Station& s = run.station;
    report_.comment({file_.stem, s.Hour, s.Minute, s.Second, trimmed_text(text)});
  }

  void station_written(Run& run, StationKind kind) override {
    const StationRecord record = record_of(run, kind);
    if (stations_ == 0) {
      file_.geometry = geometry_of(run.config);
      report_.survey_file(file_);
      open_files(run);
    }
    ++stations_;
    if (!record.has_fix) ++without_fix_;
    report_.station(record);
    if (failed() || (!request_.csv && !request_.geojson)) return;
    const std::vector<Cell> row = row_of(file_, record);
    if (csv_) csv_->row(row);
    if (geojson_ && record.has_fix) geojson_->feature(row, record);
  }

  void rejected_piece_read(const Run& run) override { report_.rejected_piece(run.line_no); }

  // The end of the pass: the last survey file's exports are completed.
  void finish(const Run& run) { finish_survey_file(run); }

  const std::vector<std::string>& lines() const { return lines_; }
  bool failed() const { return !problem_.empty(); }
  const std::string& problem() const { return problem_; }

 private:
  StationRecord record_of(Run& run, StationKind kind) {
    const Station& s = run.station;
    const GpsState& gps = run.gps_state;
    StationRecord r;
    r.line = s.LineNumber;
    r.station = s.StationNumber;
    r.line_mark = s.LineMark.empty() ? ' ' : s.LineMark[0];
    r.station_mark = s.StationMark.empty() ? ' ' : s.StationMark[0];
    r.hour = s.Hour;
    r.minute = s.Minute;
    r.second = s.Second;
    // N$ and $PKLVT lines show whole seconds.
    r.millisecond = kind == StationKind::N || kind == StationKind::Pklvt ? 0 : s.Millisecond;
    r.gps_time_ms = gps.time;
    r.has_fix = gps.latitude != 0.0 && gps.longitude != 0.0;
    r.latitude = gps.latitude;
    r.longitude = gps.longitude;
    r.altitude = gps.altitude;
    r.fix = gps.fix;
    r.satellites = gps.satellites;
    r.hdop = gps.hdop;
    if (r.has_fix) {
      station_grid_position(run, r.easting, r.northing);
      r.zone = zone_for_latitude(run.keep.utm_zone, gps.latitude);
    }
    r.geometries = kind == StationKind::Pklvt ? 1 : geometry_of(run.config).count;
    r.hc = s.HC;
    r.hi = s.HI;
    r.pc = s.PC;
    r.pi = s.PI;
    r.voltage = s.Voltage;
    r.temperature = s.Temperature;
    r.pitch = s.Pitch;
    r.roll = s.Roll;
    r.comment = comment_of(run, s.CommentNumber);
    return r;
  }

  std::string comment_of(const Run& run, std::int32_t slot) const {
    if (slot < 1 || slot > kCommentSlots) return {};
    const auto i = static_cast<std::size_t>(slot - 1);
    if (!comments_[i].empty()) return comments_[i];
    return trimmed_text(run.config.CommentTable[i]);
  }

  void open_files(const Run& run) {
    if (failed()) return;
    const std::string base = run.dir_prefix + file_.stem;
    names_ = column_names(file_.geometry);
    if (request_.csv) {
      csv_ = std::make_unique<CsvFile>();
      if (csv_->open(base + ".csv", run.raw_name)) csv_->header(names_);
    }
    if (request_.geojson) {
      geojson_ = std::make_unique<GeoJsonFile>();
      if (geojson_->open(base + ".geojson", run.raw_name)) geojson_->begin(names_);
    }
    for (ExportFile* f : {static_cast<ExportFile*>(csv_.get()), static_cast<ExportFile*>(geojson_.get())}) {
      if (f != nullptr && !f->problem().empty() && problem_.empty()) problem_ = f->problem();
    }
  }

  // A survey file opened by a file header has its exports even without a
  // station; the Default outputs only when they hold stations.
  void finish_survey_file(const Run& run) {
    if (stations_ == 0 && file_.from_header) open_files(run);
    if (stations_ == 0 && !file_.from_header) return;
    const std::string name = file_.stem;
    if (csv_) {
      const bool ok = csv_->close();
      if (ok) lines_.push_back("   CSV file: " + name + ".csv, " + std::to_string(stations_) + " stations");
      else if (problem_.empty()) problem_ = csv_->problem();
    }
    if (geojson_) {
      geojson_->end();
      const bool ok = geojson_->close();
      if (ok) {
        lines_.push_back("   GeoJSON file: " + name + ".geojson, " + std::to_string(stations_ - without_fix_) +
                         " stations; left out without a GPS fix: " + std::to_string(without_fix_));
      } else if (problem_.empty()) {
        problem_ = geojson_->problem();
      }
    }
    csv_.reset();
    geojson_.reset();
  }

  const ExportRequest& request_;
  QuickLookReport& report_;
  SurveyFile file_;
  std::array<std::string, kCommentSlots> comments_;  // as written, per comment slot
  std::vector<std::string> names_;
  std::unique_ptr<CsvFile> csv_;
  std::unique_ptr<GeoJsonFile> geojson_;
  std::int64_t stations_ = 0;
  std::int64_t without_fix_ = 0;
  std::vector<std::string> lines_;
  std::string problem_;
};

std::string file_name_of(const std::string& path) {
  const auto slash = path.find_last_of("/\\");
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

}  // namespace
}  // namespace xlat

std::string report_path(std::string_view raw_name) {
  std::string path(trimmed(raw_name));
  const auto slash = path.find_last_of("/\\");
  const auto dot = path.rfind('.');
  const bool has_extension = dot != std::string::npos && (slash == std::string::npos || dot > slash + 1);
  if (has_extension) path.erase(dot);
  return path + ".html";
}

bool export_survey(std::string_view raw_name, const ExportRequest& request, float sensor_height,
                   bool height_set) {
  using namespace xlat;
  QuickLookReport report(file_name_of(std::string(trimmed(raw_name))));
  ExportObserver observer(request, report);
  std::int32_t result = 0;
  std::int32_t lines_read = 0;
  {
    const SilentPass silent;
    float height = sensor_height;
    Run run(persistent(), height);
    run.raw_name = std::string(trimmed(raw_name));
    run.observer = &observer;
    run.discard_outputs = true;
    result = transcribe_run(run, "X", height_set);
    observer.finish(run);
    lines_read = run.line_no;
    // The read that met the end of the file counted as a line of its own.
    if (result == kXlatOk && run.keep.end_of_input && lines_read > 0) --lines_read;
    report.instrument(trimmed(run.config.InstrumentId), trimmed(run.config.SerialNumber));
  }
  if (result == kXlatNoRawFile) {
    put_line("*** No export: the RAW file cannot be read: " + std::string(trimmed(raw_name)));
    return false;
  }
  report.ended(result, lines_read);
  for (const std::string& line : observer.lines()) put_line(line);
  bool ok = !observer.failed();
  if (!ok) put_line(observer.problem());
  if (request.report) {
    const std::string path = report_path(raw_name);
    std::string problem;
    if (report.write(path, std::string(trimmed(raw_name)), problem)) {
      put_line("   Quick-look report: " + file_name_of(path));
    } else {
      put_line(problem);
      ok = false;
    }
  }
  return ok;
}

void write_quick_look_report(std::string_view raw_name, float sensor_height, bool height_set) {
  ExportRequest request;
  request.report = true;
  export_survey(raw_name, request, sensor_height, height_set);
}

}  // namespace kal

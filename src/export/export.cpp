#include "export/export.h"

#include <array>
#include <cmath>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <system_error>
#include <vector>

#include "common/fixed_text.h"
#include "console/console.h"
#include "export/export_text.h"
#include "export/report.h"
#include "export/station_record.h"
#include "geodesy/ll2utm.h"
#include "transcribe/gps_prepass.h"
#include "transcribe/result_codes.h"
#include "transcribe/transcribe_state.h"
#include "transcribe/writers.h"

namespace kal {
namespace xlat {
namespace {

using Json = nlohmann::ordered_json;

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

std::string time_text(const StationRecord& s) {
  return zero_filled(s.values.Hour) + ":" + zero_filled(s.values.Minute) + ":" + zero_filled(s.values.Second) +
         "." + zero_filled(s.millisecond(), 3);
}

// A mark of one character; a blank one is none.
std::string mark_text(const std::string& mark) {
  return mark.empty() || mark[0] == ' ' ? std::string() : mark.substr(0, 1);
}

std::vector<std::string> column_names(const GeometryColumns& geometry) {
  std::vector<std::string> names = {"survey",  "line",     "station",     "line_mark", "station_mark",
                                    "time",    "gps_time_ms", "latitude", "longitude", "altitude",
                                    "fix",     "satellites", "hdop",      "easting",   "northing",
                                    "utm_zone"};
  for (int g = 0; g < geometry.count; ++g) {
    const float hcp = geometry.hcp[static_cast<std::size_t>(g)];
    const float prp = geometry.prp[static_cast<std::size_t>(g)];
    for (const char* channel : {"HC", "HI"}) names.push_back(channel_name(channel, hcp));
    for (const char* channel : {"PC", "PI"}) names.push_back(channel_name(channel, prp));
  }
  for (const char* name : {"voltage", "temperature", "pitch", "roll", "comment"}) names.push_back(name);
  return names;
}

std::vector<Cell> row_of(const SurveyFile& file, const StationRecord& s) {
  const xlat::Station& v = s.values;
  const xlat::GpsFix& f = s.fix;
  std::vector<Cell> row;
  row.reserve(32);
  const bool fix = s.has_fix();
  row.push_back(text(file.survey));
  row.push_back(integer(v.LineNumber));
  row.push_back(integer(v.StationNumber));
  row.push_back(text(mark_text(v.LineMark)));
  row.push_back(text(mark_text(v.StationMark)));
  row.push_back(text(time_text(s)));
  row.push_back(integer(f.time));
  row.push_back(fix ? number(f.latitude) : empty());
  row.push_back(fix ? number(f.longitude) : empty());
  row.push_back(fix ? number(f.altitude) : empty());
  row.push_back(integer(f.fix));
  row.push_back(integer(f.satellites));
  row.push_back(number(f.hdop));
  row.push_back(fix ? number(s.easting) : empty());
  row.push_back(fix ? number(s.northing) : empty());
  row.push_back(text(fix ? zone_text(s.zone) : std::string()));
  for (int g = 0; g < file.geometry.count; ++g) {
    const auto i = static_cast<std::size_t>(g);
    const bool carried = g < s.geometries;  // the X line carries this group
    for (const float value : {v.HC[i], v.HI[i], v.PC[i], v.PI[i]}) {
      row.push_back(carried ? number(value) : empty());
    }
  }
  row.push_back(number(v.Voltage));
  row.push_back(number(v.Temperature));
  row.push_back(number(v.Pitch));
  row.push_back(number(v.Roll));
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
    coordinates[0] = s.fix.longitude;
    coordinates[1] = s.fix.latitude;
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

// The rows are the stations of the XYZ output, whatever type the ridden
// transcription writes: its stations are taken by the XYZ rule, and the
// comment number follows the XYZ writer (set by a comment record, taken and
// cleared by the next station the XYZ output writes, cleared by a file
// header), not the chosen type's writer.
class ExportObserver final : public RunObserver {
 public:
  ExportObserver(const ExportRequest& request, QuickLookReport& report)
      : request_(request), report_(report) {
    file_.stem = "Default";
    file_.survey = "Default";
  }

  void records_begin(const Run&) override { records_read_ = true; }

  void run_ended(const Run& run, std::int32_t result) override {
    finish_survey_file(run);
    report_.instrument(trimmed(run.config.InstrumentId), trimmed(run.config.SerialNumber));
    result_ = result;
    lines_read_ = run.line_no;
    // The read that met the end of the file counted as a line of its own.
    if (result == kXlatOk && run.keep.end_of_input && lines_read_ > 0) --lines_read_;
  }

  // Whether a transcription read the RAW file's records through this observer.
  bool records_read() const { return records_read_; }
  std::int32_t result() const { return result_; }
  std::int32_t lines_read() const { return lines_read_; }

  void survey_file_started(const Run& run) override {
    finish_survey_file(run);
    file_ = SurveyFile{};
    file_.stem = run.base_name;
    file_.survey = run.survey_name;
    file_.from_header = true;
    file_.geometry = geometry_of(run.config);
    comments_.fill(std::string());
    comment_number_ = 0;
    stations_ = 0;
    without_fix_ = 0;
    report_.survey_file(file_);
  }

  void comment_read(const Run& run, std::string_view text) override {
    const std::int32_t slot = run.station.CommentNumber;
    comment_number_ = slot;
    if (slot >= 1 && slot <= kCommentSlots) comments_[static_cast<std::size_t>(slot - 1)] = trimmed_text(text);
    const Station& s = run.station;
    report_.comment({file_.stem, s.Hour, s.Minute, s.Second, trimmed_text(text)});
  }

  void station_completed(const Run& run, StationKind kind) override {
    if (!type_writes(OutputType::X, run.config.GeometryCount, kind)) return;
    const StationRecord record = record_of(run, kind);
    comment_number_ = 0;
    if (stations_ == 0) {
      file_.geometry = geometry_of(run.config);
      report_.survey_file(file_);
      open_files(run);
    }
    ++stations_;
    if (!record.has_fix()) ++without_fix_;
    report_.station(record);
    if (failed() || (!request_.csv && !request_.geojson)) return;
    const std::vector<Cell> row = row_of(file_, record);
    if (csv_) csv_->row(row);
    if (geojson_ && record.has_fix()) geojson_->feature(row, record);
  }

  void rejected_piece_read(const Run& run) override { report_.rejected_piece(run.line_no); }

  const std::vector<std::string>& lines() const { return lines_; }
  bool failed() const { return !problem_.empty(); }
  const std::string& problem() const { return problem_; }

 private:
  StationRecord record_of(const Run& run, StationKind kind) {
    StationRecord r;
    r.values = run.station;
    r.kind = kind;
    r.fix = run.gps_state;
    if (r.has_fix()) {
      // The zone the run keeps, or else the exports' own, from their first
      // station with a fix: the transcription's zone and its projection
      // warnings are the type's business alone.
      if (run.keep.utm_zone != 0) zone_ = run.keep.utm_zone;
      const ProjectionWarningsMuted muted;
      r.zone = project_in_kept_zone(r.fix.latitude, r.fix.longitude, zone_, r.easting, r.northing);
    }
    r.geometries = kind == StationKind::Pklvt ? 1 : geometry_of(run.config).count;
    r.comment = comment_of(run, comment_number_);
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
  std::int32_t comment_number_ = 0;  // as the XYZ writer holds it
  std::int32_t zone_ = 0;
  std::int64_t stations_ = 0;
  std::int64_t without_fix_ = 0;
  std::vector<std::string> lines_;
  std::string problem_;
  bool records_read_ = false;
  std::int32_t result_ = kXlatOk;
  std::int32_t lines_read_ = 0;
};

}  // namespace
}  // namespace xlat

namespace {

std::string file_name_of(const std::string& path) {
  const auto slash = path.find_last_of("/\\");
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

}  // namespace

std::string report_path(std::string_view raw_name) {
  std::string path(trimmed(raw_name));
  const auto slash = path.find_last_of("/\\");
  const auto dot = path.rfind('.');
  const bool has_extension = dot != std::string::npos && (slash == std::string::npos || dot > slash + 1);
  if (has_extension) path.erase(dot);
  return path + ".html";
}

struct SurveyExport::State {
  State(std::string raw, const ExportRequest& wanted)
      : raw_name(std::move(raw)), request(wanted), report(file_name_of(raw_name)), observer(request, report) {}
  std::string raw_name;
  ExportRequest request;
  xlat::QuickLookReport report;
  xlat::ExportObserver observer;
};

SurveyExport::SurveyExport(std::string_view raw_name, const ExportRequest& request)
    : state_(std::make_unique<State>(std::string(trimmed(raw_name)), request)) {}

SurveyExport::~SurveyExport() = default;

xlat::RunObserver* SurveyExport::observer() {
  return state_->observer.records_read() ? nullptr : &state_->observer;
}

bool SurveyExport::finish() {
  const xlat::ExportObserver& observer = state_->observer;
  const std::string& raw_name = state_->raw_name;
  if (!observer.records_read()) {
    put_line(observer.result() == kXlatNoRawFile
                 ? "*** No export: the RAW file cannot be read: " + raw_name
                 : "*** No export: no transcription read the RAW file " + raw_name);
    return false;
  }
  state_->report.ended(observer.result(), observer.lines_read());
  for (const std::string& line : observer.lines()) put_line(line);
  bool ok = !observer.failed();
  if (!ok) put_line(observer.problem());
  if (state_->request.report) {
    const std::string path = report_path(raw_name);
    std::string problem;
    if (state_->report.write(path, raw_name, problem)) {
      put_line("   Quick-look report: " + file_name_of(path));
    } else {
      put_line(problem);
      ok = false;
    }
  }
  return ok;
}

}  // namespace kal

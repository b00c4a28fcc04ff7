#include "export/export.h"

#include <array>
#include <chrono>
#include <deque>
#include <optional>
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
#include "geodesy/gga_fix.h"
#include "transcribe/gps_prepass.h"
#include "transcribe/records.h"
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
  std::vector<std::string> names = {"survey",   "line",      "station",  "line_mark",     "station_mark",
                                    "date",     "time",      "gps_time_ms", "position",   "latitude",
                                    "longitude", "altitude", "fix",      "satellites",    "hdop",
                                    "easting",  "northing",  "utm_zone", "fix_latitude", "fix_longitude"};
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
  row.push_back(text(s.date));
  row.push_back(text(time_text(s)));
  row.push_back(integer(f.time));
  row.push_back(text(std::string(verdict_name(s.position.verdict))));
  const bool placed = s.has_position();
  const StationPosition& p = s.position;
  row.push_back(placed ? number(p.latitude) : empty());
  row.push_back(placed ? number(p.longitude) : empty());
  row.push_back(fix ? number(f.altitude) : empty());
  row.push_back(integer(f.fix));
  row.push_back(integer(f.satellites));
  row.push_back(number(f.hdop));
  row.push_back(placed ? number(p.easting) : empty());
  row.push_back(placed ? number(p.northing) : empty());
  row.push_back(text(placed ? zone_text(p.zone) : std::string()));
  row.push_back(fix ? number(f.latitude) : empty());
  row.push_back(fix ? number(f.longitude) : empty());
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
    coordinates[0] = s.position.longitude;
    coordinates[1] = s.position.latitude;
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

// The file header's date: day, month and two digits of the year (20yy), as
// the sensor writes them; nullopt when they make no date.
std::optional<std::chrono::sys_days> date_of(const Config& config) {
  const std::chrono::year_month_day date{std::chrono::year(2000 + config.Date3),
                                         std::chrono::month(static_cast<unsigned>(config.Date2)),
                                         std::chrono::day(static_cast<unsigned>(config.Date1))};
  if (config.Date3 < 0 || config.Date3 > 99 || !date.ok()) return std::nullopt;
  return std::chrono::sys_days(date);
}

std::string date_text(std::chrono::sys_days day) {
  const std::chrono::year_month_day date(day);
  return zero_filled(static_cast<int>(date.year()), 4) + "-" + zero_filled(static_cast<unsigned>(date.month())) +
         "-" + zero_filled(static_cast<unsigned>(date.day()));
}

// A position computed between fixes is known to centimetres at best: given
// to about a millimetre (1e-8 degree, 0.001 m) it reads as what it is, and
// the files do not carry seventeen digits of noise per number.
StationPosition to_millimetres(StationPosition p) {
  // Divided by the exact power of ten: the nearest double to the decimal.
  const auto rounded = [](double value, double per_unit) { return std::round(value * per_unit) / per_unit; };
  p.latitude = rounded(p.latitude, 1e8);
  p.longitude = rounded(p.longitude, 1e8);
  p.easting = rounded(p.easting, 1e3);
  p.northing = rounded(p.northing, 1e3);
  return p;
}

// What the GPS pre-pass shows of the sensor clock of each survey file: its
// stations' times and its fixes' times in the order they were logged, which
// give the clock's offset to GPS time before the first station is placed.
class ClockGathering {
 public:
  void begin() {
    offsets_.clear();
    estimator_ = ClockOffsetEstimator{};
  }
  void line(std::string_view raw_line) {
    load_record(line_, raw_line);
    if (line_[1] == 'C' && line_[2] == '$') return;  // a header record
    if (line_.find("H$") != std::string::npos) {       // a file header: the next survey file
      end();
      estimator_ = ClockOffsetEstimator{};
    } else if (const std::optional<std::int64_t> time = station_time_of(line_)) {
      estimator_.station(*time);
    } else if (line_[1] == 'G' && line_[2] == '$') {
      const std::string_view record = trimmed(line_);
      const int p = gga_position(record);
      if (p <= 0) return;
      if (const std::optional<GgaFix> fix = read_gga_fix(record.substr(static_cast<std::size_t>(p - 1)))) {
        estimator_.fix(fix->time_ms);
      }
    }
  }
  void end() { offsets_.push_back(estimator_.result()); }
  // Survey file `index` in RAW order (0: the stations before any file header).
  std::optional<ClockOffset> offset_of(std::size_t index) const {
    return index < offsets_.size() ? offsets_[index] : std::nullopt;
  }

 private:
  std::string line_ = std::string(kLineLength, ' ');
  ClockOffsetEstimator estimator_;
  std::vector<std::optional<ClockOffset>> offsets_;
};

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

  void prepass_begin() override { clock_.begin(); }
  void prepass_line(std::string_view raw_line) override { clock_.line(raw_line); }

  void records_begin(const Run& run) override {
    records_read_ = true;
    clock_.end();
    start_positions(run);
  }

  void fix_read(const Run& run) override {
    if (const std::optional<GgaFix> fix = read_gga_fix(run.gps_state.text)) positioner_->fix(*fix);
    emit_placed();
  }

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
    ++survey_index_;
    start_positions(run);
    // The file header's time starts the count of days its stations pass.
    const Station& s = run.station;
    days_ = DayUnwrapper{};
    days_.continuous(((static_cast<std::int64_t>(s.Hour) * 60 + s.Minute) * 60 + s.Second) * 1000);
    header_date_ = date_of(run.config);
    date_day_ = -1;
    file_ = SurveyFile{};
    file_.stem = run.base_name;
    file_.survey = run.survey_name;
    file_.from_header = true;
    file_.geometry = geometry_of(run.config);
    comments_.fill(std::string());
    comment_number_ = 0;
    stations_ = 0;
    without_position_ = 0;
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
    fill_record(held_.emplace_back(), run, kind);
    comment_number_ = 0;
    if (stations_ == 0) {
      file_.geometry = geometry_of(run.config);
      report_.survey_file(file_);
      open_files(run);
    }
    ++stations_;
    positioner_->station(held_.back().time_ms());
    emit_placed();
  }

  void rejected_piece_read(const Run& run) override { report_.rejected_piece(run.line_no); }

  const std::vector<std::string>& lines() const { return lines_; }
  bool failed() const { return !problem_.empty(); }
  const std::string& problem() const { return problem_; }

 private:
  void fill_record(StationRecord& r, const Run& run, StationKind kind) {
    r.values = run.station;
    r.kind = kind;
    r.fix = run.gps_state;
    if (header_date_) r.date = date_for(days_.continuous(r.time_ms()) / kDayMs);
    r.geometries = kind == StationKind::Pklvt ? 1 : geometry_of(run.config).count;
    r.comment = comment_of(run, comment_number_);
  }

  // The stations of a survey file are placed by its clock offset, from the
  // zone the run keeps (the first good fix's when it keeps none).
  void start_positions(const Run& run) {
    positioner_.emplace(request_.positions, clock_.offset_of(survey_index_), run.keep.utm_zone);
    positions_ = PositionRecord{};
    positions_.survey_stem = run.base_name;
    positions_.offset = clock_.offset_of(survey_index_);
  }

  // The held stations the positioner has placed go to the report and the
  // files, in the order they came.
  void emit_placed() {
    PositionedStation placed;
    while (!held_.empty() && positioner_ && positioner_->next(placed)) {
      StationRecord& record = held_.front();
      record.position = to_millimetres(placed.position);
      emit(record);
      held_.pop_front();
    }
  }

  void emit(const StationRecord& record) {
    if (!record.has_position()) ++without_position_;
    report_.station(record);
    if (failed() || (!request_.csv && !request_.geojson)) return;
    const std::vector<Cell> row = row_of(file_, record);
    if (csv_) csv_->row(row);
    if (geojson_ && record.has_position()) geojson_->feature(row, record);
  }

  // The date `day` days after the file header's; the text is made once a day.
  const std::string& date_for(std::int64_t day) {
    if (day != date_day_) {
      date_day_ = day;
      date_text_ = date_text(*header_date_ + std::chrono::days(day));
    }
    return date_text_;
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
    if (positioner_) {
      positioner_->finish();
      emit_placed();
      positions_.summary = positioner_->summary();
      if (stations_ > 0) report_.positions(positions_);
    }
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
        lines_.push_back("   GeoJSON file: " + name + ".geojson, " + std::to_string(stations_ - without_position_) +
                         " stations; left out without a position: " + std::to_string(without_position_));
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
  std::int64_t stations_ = 0;
  std::int64_t without_position_ = 0;
  ClockGathering clock_;
  std::size_t survey_index_ = 0;  // 0: the stations before the first file header
  std::optional<StationPositioner> positioner_;
  PositionRecord positions_;
  std::deque<StationRecord> held_;  // waiting for the fixes after them
  DayUnwrapper days_;
  std::optional<std::chrono::sys_days> header_date_;
  std::int64_t date_day_ = -1;  // the day date_text_ holds
  std::string date_text_;
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

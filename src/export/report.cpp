#include "export/report.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <set>
#include <system_error>
#include <vector>

#include "export/export_text.h"
#include "export/svg.h"

namespace kal::xlat {
namespace {

using svg::num;

constexpr std::int64_t kDayMs = 24LL * 3600 * 1000;
constexpr std::size_t kCountedLines = 100000;   // distinct line numbers counted per summary
constexpr std::size_t kRepeatedLinesListed = 5;
constexpr std::size_t kCommentMarks = 200;      // marked per map
constexpr std::size_t kListedComments = 1000;
constexpr std::size_t kMapLabels = 60;
constexpr std::size_t kKeptMapPoints = 400000;  // the samples of all survey files together
constexpr std::size_t kSurveyMapStations = 2 * kMapStations;  // the survey files' maps together
constexpr int kColourBins = 64;

// ---- colours ----------------------------------------------------------------------------

struct Rgb {
  double r, g, b;
};

// Viridis at 0, 0.1, ..., 1.
constexpr std::array<Rgb, 11> kViridis{{{0x44, 0x01, 0x54},
                                        {0x48, 0x24, 0x75},
                                        {0x41, 0x44, 0x87},
                                        {0x35, 0x5f, 0x8d},
                                        {0x2a, 0x78, 0x8e},
                                        {0x21, 0x91, 0x8c},
                                        {0x22, 0xa8, 0x84},
                                        {0x44, 0xbf, 0x70},
                                        {0x7a, 0xd1, 0x51},
                                        {0xbd, 0xdf, 0x26},
                                        {0xfd, 0xe7, 0x25}}};

std::string viridis(double t) {
  t = std::clamp(t, 0.0, 1.0) * static_cast<double>(kViridis.size() - 1);
  const auto i = std::min(static_cast<std::size_t>(t), kViridis.size() - 2);
  const double f = t - static_cast<double>(i);
  const Rgb& a = kViridis[i];
  const Rgb& b = kViridis[i + 1];
  auto mix = [f](double x, double y) { return static_cast<int>(std::lround(x + (y - x) * f)); };
  return svg::hex_colour(mix(a.r, b.r), mix(a.g, b.g), mix(a.b, b.b));
}

std::string bin_colour(int bin) { return viridis((bin + 0.5) / kColourBins); }

constexpr const char* kNoValueColour = "#bdbdbd";
constexpr const char* kJoinColour = "#8c8c8c";
constexpr const char* kCommentColour = "#d62728";
constexpr const char* kHcColour = "#2c7fb8";
constexpr const char* kHiColour = "#d95f0e";

// ---- thinning ----------------------------------------------------------------------------

// Keeps every stride-th item, at most `cap`: when full, every other item
// goes and the stride doubles, so the items stay evenly spread.
template <class T>
class Thinned {
 public:
  explicit Thinned(std::size_t cap) : cap_(cap) {}
  void add(const T& item) {
    if (seen_ % stride_ == 0) {
      items_.push_back(item);
      if (items_.size() > cap_) halve();
    }
    ++seen_;
  }
  void halve() {
    std::size_t kept = 0;
    for (std::size_t i = 0; i < items_.size(); i += 2) items_[kept++] = items_[i];
    items_.resize(kept);
    stride_ *= 2;
  }
  const std::vector<T>& items() const { return items_; }
  std::int64_t stride() const { return stride_; }

 private:
  std::size_t cap_;
  std::vector<T> items_;
  std::int64_t stride_ = 1;
  std::int64_t seen_ = 0;
};

// Every k-th of `items` so that at most `budget` remain.
template <class T>
std::vector<const T*> every_kth(const std::vector<T>& items, std::size_t budget, std::size_t& k) {
  k = budget == 0 ? items.size() : std::max<std::size_t>(1, (items.size() + budget - 1) / budget);
  std::vector<const T*> out;
  for (std::size_t i = 0; i < items.size(); i += std::max<std::size_t>(k, 1)) out.push_back(&items[i]);
  return out;
}

// ---- times ---------------------------------------------------------------------------------

std::string two(std::int64_t v) { return zero_filled(v, 2); }

std::string clock_text(std::int64_t ms_of_day) {
  std::int64_t s = ((ms_of_day % kDayMs) + kDayMs) % kDayMs / 1000;
  return two(s / 3600) + ":" + two(s / 60 % 60) + ":" + two(s % 60);
}

std::string duration_text(std::int64_t ms) {
  const std::int64_t s = ms / 1000;
  if (s < 60) return num(static_cast<double>(ms) / 1000.0, 1) + " s";
  return std::to_string(s / 3600) + ":" + two(s / 60 % 60) + ":" + two(s % 60);
}

// Time from `previous` to `now` (ms of the day), across midnight; a clock
// that went back counts 0.
std::int64_t step_ms(std::int64_t previous, std::int64_t now) {
  std::int64_t d = now - previous;
  if (d < -kDayMs / 2) d += kDayMs;
  return d < 0 ? 0 : d;
}

std::string ordinal(std::size_t k) {
  if (k % 100 >= 11 && k % 100 <= 13) return std::to_string(k) + "th";
  static const char* kSuffix[] = {"th", "st", "nd", "rd", "th", "th", "th", "th", "th", "th"};
  return std::to_string(k) + kSuffix[k % 10];
}

// ---- summaries -------------------------------------------------------------------------------

struct Stats {
  std::int64_t stations = 0, fixes = 0;
  std::int64_t first_ms = 0, last_ms = 0, duration_ms = 0;
  std::int64_t gap_ms = -1;
  std::int32_t gap_line = 0, gap_station = 0;  // the station after which the gap opened
  std::int32_t last_line = 0, last_station = 0;
  std::int64_t last_key = 0;
  bool have_status = false;
  float voltage_min = 0, voltage_max = 0, temperature_min = 0, temperature_max = 0;
  std::set<std::int64_t> lines;  // line keys: a line of a survey file
  bool lines_overflow = false;
  std::vector<std::int32_t> repeated_lines;  // lines taken up again after another line
  std::int64_t repeated_count = 0;

  // `line_key` tells the lines apart: the line number within a survey file,
  // the survey file and the line number within the RAW file.
  void add(const StationRecord& s, std::int64_t line_key) {
    const std::int64_t t = s.time_ms();
    if (stations == 0) {
      first_ms = t;
    } else {
      const std::int64_t d = step_ms(last_ms, t);
      duration_ms += d;
      if (d > gap_ms) {
        gap_ms = d;
        gap_line = last_line;
        gap_station = last_station;
      }
    }
    const bool new_line_run = stations == 0 || line_key != last_key;
    if (new_line_run) add_line(line_key, s.values.LineNumber);
    last_key = line_key;
    last_ms = t;
    last_line = s.values.LineNumber;
    last_station = s.values.StationNumber;
    ++stations;
    if (s.has_fix()) ++fixes;
    // A voltage of 0 is no reading: the status of the station is not known.
    if (s.values.Voltage != 0.0f && std::isfinite(s.values.Voltage) && std::isfinite(s.values.Temperature)) {
      if (!have_status) {
        voltage_min = voltage_max = s.values.Voltage;
        temperature_min = temperature_max = s.values.Temperature;
        have_status = true;
      }
      voltage_min = std::min(voltage_min, s.values.Voltage);
      voltage_max = std::max(voltage_max, s.values.Voltage);
      temperature_min = std::min(temperature_min, s.values.Temperature);
      temperature_max = std::max(temperature_max, s.values.Temperature);
    }
  }

  void add_line(std::int64_t key, std::int32_t line) {
    if (lines.count(key) != 0) {
      if (std::find(repeated_lines.begin(), repeated_lines.end(), line) == repeated_lines.end()) {
        ++repeated_count;
        if (repeated_lines.size() < kRepeatedLinesListed) repeated_lines.push_back(line);
      }
      return;
    }
    if (lines.size() < kCountedLines) {
      lines.insert(key);
    } else {
      lines_overflow = true;
    }
  }
};

// ---- map and profile samples --------------------------------------------------------------

struct MapPoint {
  double easting = 0.0, northing = 0.0;
  std::int32_t line = 0, station = 0;
  float hc = 0.0f;
  std::uint32_t line_run = 0;  // changes where the line changes
  std::uint32_t fix_run = 0;   // changes where the line changes or the fix comes or goes
  bool fix = false;
};

struct CommentMark {
  MapPoint at;
  std::string text;
};

struct ProfilePoint {
  std::int32_t station = 0;
  double seconds = 0.0;  // since the line's first station
  float hc = 0.0f, hi = 0.0f;
};

struct Profile {
  explicit Profile(std::int32_t line_number) : line(line_number) {}
  std::int32_t line;
  Thinned<ProfilePoint> points{kProfilePoints};
  std::int64_t stations = 0;
  std::int32_t first_station = 0;
  bool one_station_number = true;
  std::int64_t first_ms = 0, last_ms = 0;
  double seconds = 0.0;

  void add(const StationRecord& s) {
    const std::int64_t t = s.time_ms();
    if (stations == 0) {
      first_station = s.values.StationNumber;
      first_ms = t;
    } else {
      seconds += static_cast<double>(step_ms(last_ms, t)) / 1000.0;
      if (s.values.StationNumber != first_station) one_station_number = false;
    }
    last_ms = t;
    ++stations;
    points.add({s.values.StationNumber, seconds, s.values.HC[0], s.values.HI[0]});
  }
};

struct Survey {
  std::size_t index = 0;  // in the RAW file, from 0
  SurveyFile file;
  Stats stats;
  Thinned<MapPoint> map{kMapStations};
  std::vector<CommentMark> marks;
  std::map<std::int32_t, Profile> profiles;
};

// How noisy the cable was: "6 transmissions received damaged and asked
// again, around RAW lines 50-151."
std::string damaged_transmissions_text(std::int64_t transmissions, std::int32_t first_line,
                                       std::int32_t last_line) {
  std::string text = std::to_string(transmissions) +
                     (transmissions == 1 ? " transmission" : " transmissions") +
                     " received damaged and asked again, around RAW ";
  if (first_line == last_line) return text + "line " + std::to_string(first_line) + ".";
  return text + "lines " + std::to_string(first_line) + "-" + std::to_string(last_line) + ".";
}

std::string result_meaning(std::int32_t result) {
  switch (result) {
    case 1: return "the RAW file could not be read";
    case 2: return "a file header field could not be read";
    case 4: return "an output file name could not be used";
    default: return "result code " + std::to_string(result);
  }
}

const char* kStyle =
    "body{font-family:sans-serif;margin:16px;color:#222}"
    "table{border-collapse:collapse;margin:8px 0;font-size:13px}"
    "th,td{border:1px solid #bbb;padding:2px 6px;text-align:right;white-space:nowrap}"
    "th{background:#eee;white-space:normal}td.text,th.text{text-align:left}td.gap{white-space:normal;min-width:10em}"
    "tr.whole td{font-weight:bold}"
    "p.warning{color:#b2182b;font-weight:bold}"
    "svg{display:block;margin:6px 0 14px 0}";

}  // namespace

// ---- collecting ---------------------------------------------------------------------------------

struct QuickLookReport::Data {
  std::string raw_file_name;
  std::string instrument, serial_number;
  std::int32_t result_code = 0;
  std::int32_t lines_read = 0;

  // Transmissions received damaged: runs of consecutive rejected pieces.
  std::int64_t damaged_transmissions = 0;
  std::int32_t first_damaged_line = 0, last_damaged_line = 0;

  std::vector<std::unique_ptr<Survey>> surveys;
  Survey* current = nullptr;
  Stats whole;
  Thinned<MapPoint> whole_map{kMapStations};
  std::vector<CommentMark> whole_marks;
  std::vector<CommentRecord> comments;
  std::int64_t comments_left_out = 0;
  std::vector<PositionRecord> positions;  // one per survey file with stations
  std::size_t profile_count = 0;
  std::size_t kept_points = 0;  // map points of all survey samples
  std::int32_t first_zone = 0;

  std::uint32_t line_run = 0, fix_run = 0;
  bool have_last = false;
  std::int32_t last_line = 0;
  bool last_fix = false;
  const Survey* last_survey = nullptr;

  Survey& survey_for(const SurveyFile& file) {
    for (auto& s : surveys) {
      if (s->file.stem == file.stem) {
        s->file = file;
        return *s;
      }
    }
    surveys.push_back(std::make_unique<Survey>());
    surveys.back()->index = surveys.size() - 1;
    surveys.back()->file = file;
    return *surveys.back();
  }

  Survey& current_survey() {
    if (current == nullptr) {
      SurveyFile file;
      file.stem = file.survey = "Default";
      current = &survey_for(file);
    }
    return *current;
  }

  // Keeps the samples of all survey files within their common bound.
  void bound_kept_points() {
    while (kept_points > kKeptMapPoints) {
      Survey* largest = nullptr;
      for (auto& s : surveys) {
        if (largest == nullptr || s->map.items().size() > largest->map.items().size()) largest = s.get();
      }
      const std::size_t before = largest->map.items().size();
      largest->map.halve();
      kept_points -= before - largest->map.items().size();
    }
  }

  void add_mark(std::vector<CommentMark>& marks, const MapPoint& p, const std::string& text) {
    if (marks.size() < kCommentMarks) marks.push_back({p, text});
  }

  void add_station(const StationRecord& s) {
    Survey& survey = current_survey();
    const bool new_run = !have_last || s.values.LineNumber != last_line || &survey != last_survey;
    if (new_run) {
      ++line_run;
      ++fix_run;
    } else if (s.has_position() != last_fix) {
      ++fix_run;
    }
    have_last = true;
    last_line = s.values.LineNumber;
    last_fix = s.has_position();
    last_survey = &survey;
    const StationPosition& at = s.position;
    if (s.has_position() && first_zone == 0) first_zone = at.zone;

    const MapPoint p{at.easting,     at.northing, s.values.LineNumber, s.values.StationNumber,
                     s.values.HC[0], line_run,    fix_run,             s.has_position()};
    const std::size_t before = survey.map.items().size();
    survey.map.add(p);
    kept_points += survey.map.items().size();
    kept_points -= before;
    bound_kept_points();
    whole_map.add(p);
    if (!s.comment.empty()) {
      const std::string text = as_utf8(s.comment);
      add_mark(survey.marks, p, text);
      add_mark(whole_marks, p, text);
    }
    survey.stats.add(s, s.values.LineNumber);
    whole.add(s, static_cast<std::int64_t>(survey.index) << 32 | static_cast<std::uint32_t>(s.values.LineNumber));

    auto found = survey.profiles.find(s.values.LineNumber);
    if (found == survey.profiles.end() && profile_count < kProfileLines) {
      found = survey.profiles.emplace(s.values.LineNumber, Profile(s.values.LineNumber)).first;
      ++profile_count;
    }
    if (found != survey.profiles.end()) found->second.add(s);
  }
};

QuickLookReport::QuickLookReport(std::string raw_file_name) : data_(std::make_unique<Data>()) {
  data_->raw_file_name = std::move(raw_file_name);
}

QuickLookReport::~QuickLookReport() = default;

void QuickLookReport::survey_file(const SurveyFile& file) { data_->current = &data_->survey_for(file); }

void QuickLookReport::station(const StationRecord& station) { data_->add_station(station); }

void QuickLookReport::comment(const CommentRecord& comment) {
  if (data_->comments.size() < kListedComments) {
    data_->comments.push_back(comment);
  } else {
    ++data_->comments_left_out;
  }
}

void QuickLookReport::positions(const PositionRecord& positions) { data_->positions.push_back(positions); }

void QuickLookReport::instrument(std::string_view id, std::string_view serial_number) {
  data_->instrument = as_utf8(id);
  data_->serial_number = as_utf8(serial_number);
}

void QuickLookReport::rejected_piece(std::int32_t raw_line) {
  Data& d = *data_;
  if (d.damaged_transmissions == 0 || raw_line != d.last_damaged_line + 1) ++d.damaged_transmissions;
  if (d.first_damaged_line == 0) d.first_damaged_line = raw_line;
  d.last_damaged_line = raw_line;
}

void QuickLookReport::ended(std::int32_t result_code, std::int32_t lines_read) {
  data_->result_code = result_code;
  data_->lines_read = lines_read;
}

// ---- drawing ------------------------------------------------------------------------------------

namespace {

using svg::Xml;

// The colour scale of a map: the 2nd to 98th percentile of the drawn values
// (all of them when there are few), so that one wild reading does not wash
// out the rest.
struct ColourScale {
  double low = 0.0, high = 1.0;
  bool clipped = false;

  explicit ColourScale(std::vector<double> values) {
    values.erase(std::remove_if(values.begin(), values.end(), [](double v) { return !std::isfinite(v); }),
                 values.end());
    if (values.empty()) return;
    std::sort(values.begin(), values.end());
    if (values.size() >= 50) {
      low = values[values.size() * 2 / 100];
      high = values[values.size() - 1 - values.size() * 2 / 100];
      clipped = low > values.front() || high < values.back();
    } else {
      low = values.front();
      high = values.back();
    }
    if (high - low < 1e-6) {
      low -= 0.5;
      high += 0.5;
    }
  }
  // -1 for a value that is not a number.
  int bin(double v) const {
    if (!std::isfinite(v)) return -1;
    const double t = (v - low) / (high - low);
    return std::clamp(static_cast<int>(std::floor(t * kColourBins)), 0, kColourBins - 1);
  }
  int decimals() const {
    const double range = high - low;
    return range >= 100 ? 0 : range >= 10 ? 1 : 2;
  }
};

double nice_length(double at_most) {
  const double power = std::pow(10.0, std::floor(std::log10(at_most)));
  for (const double m : {5.0, 2.0, 1.0}) {
    if (m * power <= at_most) return m * power;
  }
  return power;
}

std::string metres_text(double metres) {
  if (metres >= 1000.0) return num(metres / 1000.0, 1) + " km";
  return num(metres, 2) + " m";
}

struct MapLayout {
  std::string value_name;  // HC_1.0m
  std::vector<const MapPoint*> points;  // the sample to draw from
  std::vector<const CommentMark*> marks;
  std::int64_t stations = 0;      // all stations of the map
  std::int64_t without_fix = 0;
  std::int64_t sample_stride = 1;  // of the sample
  std::size_t budget = kMapStations;
  bool utm = true;
  std::int32_t zone = 0;
};

// Where the map's data land in the SVG.
struct Frame {
  double left = 56, top = 12, width = 0, height = 0;
  double x0 = 0, y0 = 0, sx = 1, sy = 1;  // data origin and pixels per unit
  double x(double v) const { return left + (v - x0) * sx; }
  double y(double v) const { return top + height - (v - y0) * sy; }
};

constexpr double kPlotWidth = 640, kPlotHeight = 480;

double map_x(const MapPoint& p, bool utm) { return utm ? p.easting : p.station; }
double map_y(const MapPoint& p, bool utm) { return utm ? p.northing : p.line; }

Frame frame_for(const std::vector<const MapPoint*>& points, bool utm) {
  double xmin = 0, xmax = 0, ymin = 0, ymax = 0;
  bool first = true;
  for (const MapPoint* p : points) {
    const double x = map_x(*p, utm), y = map_y(*p, utm);
    if (first) {
      xmin = xmax = x;
      ymin = ymax = y;
      first = false;
    }
    xmin = std::min(xmin, x), xmax = std::max(xmax, x);
    ymin = std::min(ymin, y), ymax = std::max(ymax, y);
  }
  Frame f;
  if (utm) {
    // Equal scale on both axes.
    const double span = std::max({xmax - xmin, ymax - ymin, 10.0});
    const double pad = 0.05 * span;
    double dx = xmax - xmin + 2 * pad, dy = ymax - ymin + 2 * pad;
    const double scale = std::min(kPlotWidth / dx, kPlotHeight / dy);
    dx = std::max(dx, 320.0 / scale);
    dy = std::max(dy, 200.0 / scale);
    f.sx = f.sy = scale;
    f.width = dx * scale;
    f.height = dy * scale;
    f.x0 = (xmin + xmax) / 2 - dx / 2;
    f.y0 = (ymin + ymax) / 2 - dy / 2;
  } else {
    const double dx = std::max(xmax - xmin, 1.0) * 1.1, dy = std::max(ymax - ymin, 1.0) * 1.2;
    f.width = kPlotWidth;
    f.height = std::clamp(40.0 * (ymax - ymin + 1), 160.0, kPlotHeight);
    f.sx = f.width / dx;
    f.sy = f.height / dy;
    f.x0 = (xmin + xmax) / 2 - dx / 2;
    f.y0 = (ymin + ymax) / 2 - dy / 2;
  }
  return f;
}

void draw_joins(Xml& x, const Frame& f, const std::vector<const MapPoint*>& points, bool utm) {
  svg::Points line;
  std::uint32_t run = 0;
  auto flush = [&] {
    if (line.count() >= 2) {
      x.leaf("polyline", {{"points", line.text()}, {"fill", "none"}, {"stroke", kJoinColour},
                          {"stroke-width", "1"}});
    }
    line.clear();
  };
  for (const MapPoint* p : points) {
    const std::uint32_t id = utm ? p->fix_run : p->line_run;
    if (line.count() > 0 && id != run) flush();
    run = id;
    line.add(f.x(map_x(*p, utm)), f.y(map_y(*p, utm)));
  }
  flush();
}

void draw_dots(Xml& x, const Frame& f, const std::vector<const MapPoint*>& points, bool utm,
               const ColourScale& scale) {
  std::vector<std::string> paths(kColourBins + 1);  // the last: no value
  for (const MapPoint* p : points) {
    const int bin = scale.bin(p->hc);
    std::string& d = paths[static_cast<std::size_t>(bin < 0 ? kColourBins : bin)];
    d += "M" + num(f.x(map_x(*p, utm))) + " " + num(f.y(map_y(*p, utm))) + "h0";
  }
  const std::string width = points.size() <= 2000 ? "6" : points.size() <= 8000 ? "4" : "3";
  for (int bin = 0; bin <= kColourBins; ++bin) {
    const std::string& d = paths[static_cast<std::size_t>(bin)];
    if (d.empty()) continue;
    const std::string colour = bin == kColourBins ? kNoValueColour : bin_colour(bin);
    x.leaf("path", {{"d", d}, {"fill", "none"}, {"stroke", colour}, {"stroke-width", width},
                    {"stroke-linecap", "round"}});
  }
}

struct LabelBox {
  double left, top, right, bottom;
  bool overlaps(const LabelBox& o) const {
    return left < o.right && o.left < right && top < o.bottom && o.top < bottom;
  }
};

void draw_marks(Xml& x, const Frame& f, const MapLayout& layout) {
  std::vector<LabelBox> labels;  // a label that would cover another is left out
  for (const CommentMark* m : layout.marks) {
    if (layout.utm && !m->at.fix) continue;
    const double px = f.x(map_x(m->at, layout.utm)), py = f.y(map_y(m->at, layout.utm));
    x.leaf("circle", {{"cx", num(px)}, {"cy", num(py)}, {"r", "7"}, {"fill", "none"},
                      {"stroke", kCommentColour}, {"stroke-width", "2"}});
    const LabelBox box{px + 9, py - 17, px + 9 + 6.5 * static_cast<double>(m->text.size()), py - 3};
    const bool free = std::none_of(labels.begin(), labels.end(), [&](const LabelBox& b) { return b.overlaps(box); });
    if (free && labels.size() < kMapLabels) {
      labels.push_back(box);
      x.element("text", {{"x", num(px + 9)}, {"y", num(py - 6)}, {"font-size", "11"},
                         {"fill", kCommentColour}, {"stroke", "#ffffff"}, {"stroke-width", "3"},
                         {"paint-order", "stroke"}},
                m->text);
    }
  }
}

void draw_colour_bar(Xml& x, double left, double top, double height, const ColourScale& scale,
                     const std::string& value_name) {
  x.element("text", {{"x", num(left)}, {"y", num(top - 22)}, {"font-size", "12"}}, value_name);
  x.element("text", {{"x", num(left)}, {"y", num(top - 8)}, {"font-size", "11"}}, "mS/m");
  const double step = height / kColourBins;
  for (int bin = 0; bin < kColourBins; ++bin) {
    const double y = top + height - (bin + 1) * step;
    x.leaf("rect", {{"x", num(left)}, {"y", num(y, 2)}, {"width", "16"}, {"height", num(step + 0.3, 2)},
                    {"fill", bin_colour(bin)}, {"shape-rendering", "crispEdges"}});
  }
  x.leaf("rect", {{"x", num(left)}, {"y", num(top)}, {"width", "16"}, {"height", num(height)},
                  {"fill", "none"}, {"stroke", "#444444"}, {"stroke-width", "0.5"}});
  for (int k = 0; k <= 4; ++k) {
    const double value = scale.low + (scale.high - scale.low) * k / 4.0;
    const double y = top + height - height * k / 4.0;
    std::string label = num(value, scale.decimals());
    if (scale.clipped && k == 0) label = "\u2264 " + label;
    if (scale.clipped && k == 4) label = "\u2265 " + label;
    x.leaf("line", {{"x1", num(left + 16)}, {"y1", num(y)}, {"x2", num(left + 20)}, {"y2", num(y)},
                    {"stroke", "#444444"}});
    x.element("text", {{"x", num(left + 23)}, {"y", num(y + 4)}, {"font-size", "11"}}, label);
  }
}

void draw_north_arrow(Xml& x, double cx, double top) {
  x.leaf("polygon", {{"points", num(cx) + "," + num(top) + " " + num(cx - 7) + "," + num(top + 22) + " " +
                                    num(cx) + "," + num(top + 16) + " " + num(cx + 7) + "," + num(top + 22)},
                     {"fill", "#222222"}});
  x.element("text", {{"x", num(cx)}, {"y", num(top + 36)}, {"font-size", "13"}, {"text-anchor", "middle"},
                     {"font-weight", "bold"}},
            "N");
}

void draw_scale_bar(Xml& x, const Frame& f, double y) {
  const double metres = nice_length(f.width / f.sx * 0.25);
  const double length = metres * f.sx;
  const double x0 = f.left;
  x.leaf("path", {{"d", "M" + num(x0) + " " + num(y - 5) + "v5h" + num(length) + "v-5"}, {"fill", "none"},
                  {"stroke", "#222222"}, {"stroke-width", "2"}});
  x.element("text", {{"x", num(x0 + length + 6)}, {"y", num(y)}, {"font-size", "11"}}, metres_text(metres));
}

std::string thinning_text(const MapLayout& layout, std::size_t drawn, std::size_t total_k) {
  const std::int64_t drawable = layout.utm ? layout.stations - layout.without_fix : layout.stations;
  std::string text;
  if (static_cast<std::int64_t>(drawn) >= drawable) {
    text = "All " + std::to_string(drawable) + " stations drawn";
  } else {
    text = std::to_string(drawn) + " of " + std::to_string(drawable) + " stations drawn (thinned evenly: every " +
           ordinal(total_k) + " station)";
  }
  if (layout.utm && layout.without_fix > 0) {
    text += "; " + std::to_string(layout.without_fix) + " stations without a position not drawn";
  }
  return text;
}

void draw_map(Xml& x, const MapLayout& layout) {
  std::vector<const MapPoint*> drawable;
  for (const MapPoint* p : layout.points) {
    if (!layout.utm || p->fix) drawable.push_back(p);
  }
  if (drawable.empty()) {
    x.element("p", {}, "No station to draw.");
    return;
  }
  std::size_t k = 1;
  std::vector<const MapPoint*> drawn;
  {
    const std::size_t step = std::max<std::size_t>(1, (drawable.size() + layout.budget - 1) / layout.budget);
    k = step;
    for (std::size_t i = 0; i < drawable.size(); i += step) drawn.push_back(drawable[i]);
  }
  const std::size_t total_k = k * static_cast<std::size_t>(layout.sample_stride);

  const Frame f = frame_for(drawn, layout.utm);
  std::vector<double> values;
  values.reserve(drawn.size());
  for (const MapPoint* p : drawn) values.push_back(p->hc);
  const ColourScale scale(std::move(values));

  const double right = f.left + f.width;
  const double width = std::max(right + 120, 720.0);
  const double height = f.top + f.height + 66;
  x.open("svg", {{"xmlns", "http://www.w3.org/2000/svg"}, {"width", num(width)}, {"height", num(height)},
                 {"viewBox", "0 0 " + num(width) + " " + num(height)}, {"font-family", "sans-serif"},
                 {"class", layout.utm ? "map utm" : "map grid"}});
  x.leaf("rect", {{"x", num(f.left)}, {"y", num(f.top)}, {"width", num(f.width)}, {"height", num(f.height)},
                  {"fill", "#ffffff"}, {"stroke", "#666666"}});
  draw_joins(x, f, drawn, layout.utm);
  draw_dots(x, f, drawn, layout.utm, scale);
  draw_marks(x, f, layout);
  const double bar_top = f.top + 90;
  const double bar_height = std::max(100.0, std::min(240.0, f.height - 90));
  draw_colour_bar(x, right + 16, bar_top, bar_height, scale, layout.value_name);
  const double below = f.top + f.height;
  if (layout.utm) {
    draw_north_arrow(x, right + 30, f.top + 4);
    draw_scale_bar(x, f, below + 22);
    const std::string corner = "UTM zone " + zone_text(layout.zone) + ", grid north up; lower left corner E " +
                               num(f.x0, 0) + " m, N " + num(f.y0, 0) + " m";
    x.element("text", {{"x", num(f.left)}, {"y", num(below + 40)}, {"font-size", "11"}}, corner);
  } else {
    x.element("text", {{"x", num(f.left + f.width / 2)}, {"y", num(below + 16)}, {"font-size", "12"},
                       {"text-anchor", "middle"}},
              "station (no station position in this survey: the line/station grid)");
    x.element("text", {{"x", num(f.left - 8)}, {"y", num(f.top + f.height / 2)}, {"font-size", "12"},
                       {"text-anchor", "end"}},
              "line");
    for (const double v : {f.x0, f.x0 + f.width / f.sx}) {
      x.element("text", {{"x", num(f.x(v))}, {"y", num(below + 30)}, {"font-size", "10"}, {"text-anchor", "middle"}},
                num(v, 0));
    }
    for (const double v : {f.y0, f.y0 + f.height / f.sy}) {
      x.element("text", {{"x", num(f.left - 4)}, {"y", num(f.y(v) + 4)}, {"font-size", "10"}, {"text-anchor", "end"}},
                num(v, 0));
    }
  }
  x.element("text", {{"x", num(f.left)}, {"y", num(below + 56)}, {"font-size", "11"}},
            thinning_text(layout, drawn.size(), total_k));
  x.close();
}

// ---- profiles -------------------------------------------------------------------------------------

struct Panel {
  double top, height;
  double low, high;
  double y(double v) const { return top + height - (v - low) / (high - low) * height; }
};

Panel panel_for(double top, double height, const std::vector<const ProfilePoint*>& points, bool hc) {
  double low = 0, high = 0;
  bool first = true;
  for (const ProfilePoint* p : points) {
    const double v = hc ? p->hc : p->hi;
    if (!std::isfinite(v)) continue;
    if (first) low = high = v, first = false;
    low = std::min(low, v), high = std::max(high, v);
  }
  if (high - low < 1e-6) low -= 0.5, high += 0.5;
  const double pad = 0.05 * (high - low);
  return {top, height, low - pad, high + pad};
}

void draw_profile(Xml& x, const Profile& profile, const std::string& hc_name, const std::string& hi_name,
                  std::size_t budget) {
  std::size_t k = 1;
  const std::vector<const ProfilePoint*> points = every_kth(profile.points.items(), budget, k);
  if (points.empty()) return;
  const bool by_time = profile.one_station_number && profile.stations > 1;
  auto xv = [&](const ProfilePoint* p) { return by_time ? p->seconds : static_cast<double>(p->station); };
  double xmin = xv(points.front()), xmax = xmin;
  for (const ProfilePoint* p : points) xmin = std::min(xmin, xv(p)), xmax = std::max(xmax, xv(p));
  if (xmax - xmin < 1e-9) xmin -= 0.5, xmax += 0.5;

  constexpr double left = 70, width = 640, panel_height = 100, gap = 30, top = 22;
  const double height = top + 2 * panel_height + gap + 44;
  auto px = [&](double v) { return left + (v - xmin) / (xmax - xmin) * width; };

  x.open("svg", {{"xmlns", "http://www.w3.org/2000/svg"}, {"width", num(left + width + 20)}, {"height", num(height)},
                 {"viewBox", "0 0 " + num(left + width + 20) + " " + num(height)}, {"font-family", "sans-serif"},
                 {"class", "profile"}});
  for (int which = 0; which < 2; ++which) {
    const bool hc = which == 0;
    const Panel panel = panel_for(top + which * (panel_height + gap), panel_height, points, hc);
    x.leaf("rect", {{"x", num(left)}, {"y", num(panel.top)}, {"width", num(width)}, {"height", num(panel_height)},
                    {"fill", "#ffffff"}, {"stroke", "#666666"}});
    x.element("text", {{"x", num(left)}, {"y", num(panel.top - 6)}, {"font-size", "12"}},
              hc ? hc_name + " (mS/m)" : hi_name + " (ppt)");
    for (const double v : {panel.low, panel.high}) {
      x.element("text", {{"x", num(left - 5)}, {"y", num(panel.y(v) + 4)}, {"font-size", "10"}, {"text-anchor", "end"}},
                num(v, std::abs(panel.high - panel.low) >= 10 ? 1 : 2));
    }
    svg::Points line;
    auto flush = [&] {
      if (line.count() >= 2) {
        x.leaf("polyline", {{"points", line.text()}, {"fill", "none"}, {"stroke", hc ? kHcColour : kHiColour},
                            {"stroke-width", "2"}, {"stroke-linejoin", "round"}});
      } else if (line.count() == 1) {
        x.leaf("polyline", {{"points", line.text()}, {"fill", "none"}, {"stroke", hc ? kHcColour : kHiColour},
                            {"stroke-width", "4"}, {"stroke-linecap", "round"}});
      }
      line.clear();
    };
    for (const ProfilePoint* p : points) {
      const double v = hc ? p->hc : p->hi;
      if (!std::isfinite(v)) {
        flush();
        continue;
      }
      line.add(px(xv(p)), panel.y(v));
    }
    flush();
  }
  const double below = top + 2 * panel_height + gap;
  for (const double v : {xmin, xmax}) {
    x.element("text", {{"x", num(px(v))}, {"y", num(below + 14)}, {"font-size", "10"}, {"text-anchor", "middle"}},
              num(v, by_time ? 1 : 0));
  }
  std::string axis = by_time ? "seconds since " + clock_text(profile.first_ms) : "station";
  if (k > 1 || profile.points.stride() > 1) {
    axis += "  (" + std::to_string(points.size()) + " of " + std::to_string(profile.stations) + " stations drawn)";
  }
  x.element("text", {{"x", num(left + width / 2)}, {"y", num(below + 30)}, {"font-size", "11"},
                     {"text-anchor", "middle"}},
            axis);
  x.close();
}

// ---- tables ----------------------------------------------------------------------------------------

void summary_row(Xml& x, const std::string& name, const Stats& s, bool whole) {
  auto cell = [&](const std::string& text) { x.element("td", {}, text); };
  if (whole) {
    x.open("tr", {{"class", "whole"}});
  } else {
    x.open("tr");
  }
  x.element("td", {{"class", "text"}}, name);
  cell(std::to_string(s.stations));
  std::string lines = s.lines_overflow ? "more than " + std::to_string(kCountedLines) : std::to_string(s.lines.size());
  if (s.repeated_count > 0) {
    lines += " (taken up again:";
    for (const std::int32_t l : s.repeated_lines) lines += " " + std::to_string(l);
    if (s.repeated_count > static_cast<std::int64_t>(s.repeated_lines.size())) lines += " ...";
    lines += ")";
  }
  cell(lines);
  if (s.stations == 0) {
    for (int i = 0; i < 7; ++i) cell("\u2013");
    x.close();
    return;
  }
  cell(clock_text(s.first_ms));
  cell(clock_text(s.last_ms));
  cell(duration_text(s.duration_ms));
  cell(num(100.0 * static_cast<double>(s.fixes) / static_cast<double>(s.stations), 1) + " % (" +
       std::to_string(s.fixes) + ")");
  x.element("td", {{"class", "gap"}},
            s.gap_ms < 0 ? "\u2013"
                         : duration_text(s.gap_ms) + ", line " + std::to_string(s.gap_line) + " after station " +
                               std::to_string(s.gap_station));
  if (s.have_status) {
    cell(num(s.voltage_min, 2) + " \u2013 " + num(s.voltage_max, 2));
    cell(num(s.temperature_min, 1) + " \u2013 " + num(s.temperature_max, 1));
  } else {
    cell("\u2013");
    cell("\u2013");
  }
  x.close();
}

void summary_table(Xml& x, const std::vector<std::unique_ptr<Survey>>& surveys, const Stats& whole) {
  x.open("table", {{"class", "summary"}});
  x.open("tr");
  x.element("th", {{"class", "text"}}, "Survey file");
  for (const char* h : {"Stations", "Lines", "First", "Last", "Duration", "GPS fixes", "Longest gap",
                        "Voltage (V)", "Temperature (\u00b0C)"}) {
    x.element("th", {}, h);
  }
  x.close();
  for (const auto& s : surveys) summary_row(x, s->file.stem, s->stats, false);
  summary_row(x, "Whole RAW file", whole, true);
  x.close();
}

// GPS time less sensor time: "+5 h 00 min 00.350 s".
std::string offset_text(double offset_ms) {
  const auto ms = static_cast<std::int64_t>(std::llround(std::fabs(offset_ms)));
  const std::int64_t s = ms / 1000;
  return std::string(offset_ms < 0.0 ? "\u2212" : "+") + std::to_string(s / 3600) + " h " + two(s / 60 % 60) +
         " min " + two(s % 60) + "." + zero_filled(ms % 1000, 3) + " s";
}

void positions_table(Xml& x, const std::vector<PositionRecord>& positions) {
  if (positions.empty()) return;
  x.element("p", {},
            "Each station is placed by its time between the GPS fixes around it; the sensor clock's offset to "
            "GPS time is found from the order in which stations and fixes were logged.");
  x.open("table", {{"class", "summary"}});
  x.open("tr");
  x.element("th", {{"class", "text"}}, "Survey file");
  for (const char* h : {"GPS time \u2212 sensor clock", "Drift (ppm)", "Stations placed",
                        "Longest stretch without a fix"}) {
    x.element("th", {}, h);
  }
  x.close();
  for (const PositionRecord& p : positions) {
    x.open("tr");
    x.element("td", {{"class", "text"}}, as_utf8(p.survey_stem));
    x.element("td", {}, p.offset ? offset_text(p.offset->offset_ms) : std::string("not found: no fix between two stations"));
    x.element("td", {}, p.offset ? num(p.offset->drift * 1e6, 1) : std::string("\u2013"));
    const PositionSummary& sum = p.summary;
    const double share = sum.stations == 0 ? 0.0 : 100.0 * static_cast<double>(sum.placed) /
                                                         static_cast<double>(sum.stations);
    x.element("td", {}, std::to_string(sum.placed) + " of " + std::to_string(sum.stations) + " (" + num(share, 1) + "%)");
    x.element("td", {}, sum.placed > 0 || sum.longest_gap_ms > 0 ? duration_text(sum.longest_gap_ms) : std::string("\u2013"));
    x.close();
  }
  x.close();
}

void comment_table(Xml& x, const std::vector<CommentRecord>& comments, std::int64_t left_out) {
  if (comments.empty()) {
    x.element("p", {}, "No comments.");
    return;
  }
  x.open("table", {{"class", "comments"}});
  x.open("tr");
  x.element("th", {{"class", "text"}}, "Survey file");
  x.element("th", {}, "Time");
  x.element("th", {{"class", "text"}}, "Comment");
  x.close();
  for (const CommentRecord& c : comments) {
    x.open("tr");
    x.element("td", {{"class", "text"}}, as_utf8(c.survey_stem));
    x.element("td", {}, two(c.hour) + ":" + two(c.minute) + ":" + two(c.second));
    x.element("td", {{"class", "text"}}, as_utf8(c.text));
    x.close();
  }
  x.close();
  if (left_out > 0) x.element("p", {}, std::to_string(left_out) + " more comments not listed.");
}

}  // namespace

std::string QuickLookReport::html() const {
  const Data& d = *data_;
  std::string out;
  out.reserve(1 << 20);
  out += "<!DOCTYPE html>\n";
  Xml x(out);
  x.open("html", {{"xmlns", "http://www.w3.org/1999/xhtml"}, {"lang", "en"}});
  x.open("head");
  x.leaf("meta", {{"charset", "utf-8"}});
  x.element("title", {}, "Quick look: " + as_utf8(d.raw_file_name));
  x.element("style", {}, kStyle);
  x.close();
  x.open("body");
  x.element("h1", {}, "Quick look: " + as_utf8(d.raw_file_name));

  std::string about = "Instrument: " + (d.instrument.empty() ? std::string("not named") : d.instrument);
  if (!d.serial_number.empty()) about += ", serial number " + d.serial_number;
  about += ". " + std::to_string(d.lines_read) + " RAW lines read, " + std::to_string(d.surveys.size()) +
           " survey files, " + std::to_string(d.whole.stations) + " stations (the stations of the XYZ output).";
  x.element("p", {}, about);
  if (d.result_code != 0) {
    x.element("p", {{"class", "warning"}},
              "The RAW file was not read to its end: reading stopped at line " + std::to_string(d.lines_read) +
                  " (" + result_meaning(d.result_code) + "). The report shows the stations read up to there.");
  }

  x.element("h2", {}, "Summary");
  // Only a noisy upload has this line: a clean one, and a RAW file written
  // before damaged pieces were marked, read as before.
  if (d.damaged_transmissions > 0) {
    x.element("p", {}, damaged_transmissions_text(d.damaged_transmissions, d.first_damaged_line,
                                                  d.last_damaged_line));
  }
  summary_table(x, d.surveys, d.whole);
  positions_table(x, d.positions);
  const std::string first_hc =
      d.surveys.empty() ? "HC" : channel_name("HC", d.surveys.front()->file.geometry.hcp[0]);
  std::size_t with_stations = 0;
  std::size_t drawable_total = 0;
  for (const auto& s : d.surveys) {
    if (s->stats.stations > 0) ++with_stations;
    drawable_total += s->map.items().size();
  }

  if (d.whole.stations > 0) {
    x.element("h2", {}, with_stations > 1 ? "Map of the whole RAW file" : "Map");
    MapLayout layout;
    layout.value_name = first_hc;
    for (const MapPoint& p : d.whole_map.items()) layout.points.push_back(&p);
    for (const CommentMark& m : d.whole_marks) layout.marks.push_back(&m);
    layout.stations = d.whole.stations;
    layout.without_fix = d.whole.stations - d.whole.fixes;
    layout.sample_stride = d.whole_map.stride();
    layout.utm = d.whole.fixes > 0;
    layout.zone = d.first_zone;
    draw_map(x, layout);
  }

  x.element("h2", {}, "Comments");
  comment_table(x, d.comments, d.comments_left_out);

  const std::size_t profiles = std::max<std::size_t>(1, d.profile_count);
  const std::size_t per_profile =
      std::min(kProfilePoints, std::max<std::size_t>(100, kAllProfilePoints / profiles));
  for (const auto& s : d.surveys) {
    if (s->stats.stations == 0) continue;
    const SurveyFile& file = s->file;
    std::string title = "Survey file " + as_utf8(file.stem);
    if (file.from_header && file.survey != file.stem) title += " (survey " + as_utf8(file.survey) + ")";
    x.element("h2", {}, title);
    const std::string hc_name = channel_name("HC", file.geometry.hcp[0]);
    const std::string hi_name = channel_name("HI", file.geometry.hcp[0]);
    if (with_stations > 1) {
      MapLayout layout;
      layout.value_name = hc_name;
      for (const MapPoint& p : s->map.items()) layout.points.push_back(&p);
      for (const CommentMark& m : s->marks) layout.marks.push_back(&m);
      layout.stations = s->stats.stations;
      layout.without_fix = s->stats.stations - s->stats.fixes;
      layout.sample_stride = s->map.stride();
      layout.utm = s->stats.fixes > 0;
      layout.zone = d.first_zone;
      if (drawable_total > kSurveyMapStations) {
        layout.budget = std::max<std::size_t>(
            200, kSurveyMapStations * s->map.items().size() / std::max<std::size_t>(1, drawable_total));
      }
      draw_map(x, layout);
    }
    for (const auto& [line, profile] : s->profiles) {
      x.element("h3", {}, "Line " + std::to_string(line) + ": " + std::to_string(profile.stations) + " stations");
      draw_profile(x, profile, hc_name, hi_name, per_profile);
    }
    const std::size_t lines = s->stats.lines.size();
    if (lines > s->profiles.size()) {
      x.element("p", {}, std::to_string(lines - s->profiles.size()) + " lines without a profile (at most " +
                             std::to_string(kProfileLines) + " profiles per report).");
    }
  }
  x.close_all();
  return out;
}

bool QuickLookReport::write(const std::string& path, const std::string& raw_name, std::string& problem) const {
  std::error_code ec;
  {
    std::ifstream probe(path);
    if (probe && std::filesystem::equivalent(path, raw_name, ec) && !ec) {
      problem = "*** Report " + path + " would overwrite the RAW input file";
      return false;
    }
  }
  const std::string text = html();
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  if (!out) {
    problem = "*** Open error for report file=" + path;
    return false;
  }
  out.write(text.data(), static_cast<std::streamsize>(text.size()));
  out.close();
  if (!out) {
    problem = "*** Write error on report file=" + path;
    return false;
  }
  return true;
}

}  // namespace kal::xlat

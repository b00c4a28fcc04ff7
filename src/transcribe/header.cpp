#include "transcribe/header.h"

#include <algorithm>

#include "common/fixed_text.h"
#include "common/format.h"
#include "console/console.h"
#include "transcribe/result_codes.h"

namespace kal::xlat {
namespace {

constexpr std::string_view kTwoGeometryHeading =
    "HC5-mS/m.HI5-ppt.PC5-mS/m..PI5-ppt.HC1-mS/m.HI1-ppt.PC1-mS/m..PI1-ppt.";
constexpr std::string_view kThreeGeometryHeading =
    "HC5-mS/m.HI5-ppt.PC5-mS/m..PI5-ppt.HC1-mS/m.HI1-ppt.PC1-mS/m..PI1-ppt."
    "HC2-mS/m.HI2-ppt.PC2-mS/m..PI2-ppt.";

enum class Heading { unchanged, two, three };

struct LengthCodeEntry {
  std::int32_t code;
  std::int32_t geometries;
  std::array<float, kMaxGeometries> hcp;
  std::array<float, kMaxGeometries> prp;
  Heading heading;
};

// Codes the instrument family knows; any other code is a 4 m instrument.
constexpr LengthCodeEntry kLengthCodes[] = {
    {1, 1, {1.0f}, {1.1f}, Heading::unchanged},
    {5, 1, {0.5f}, {0.6f}, Heading::unchanged},
    {15, 2, {0.5f, 1.0f}, {0.6f, 1.1f}, Heading::two},
    {2, 1, {2.0f}, {2.1f}, Heading::unchanged},
    {21, 2, {1.0f, 2.0f}, {1.1f, 2.1f}, Heading::unchanged},
    {215, 3, {0.5f, 1.0f, 2.0f}, {0.6f, 1.1f, 2.1f}, Heading::three},
    {42, 2, {2.0f, 4.0f}, {2.1f, 4.1f}, Heading::unchanged},
    {62, 2, {2.0f, 6.0f}, {2.1f, 6.1f}, Heading::unchanged},
    {620, 2, {2.0f, 6.0f}, {2.1f, 6.1f}, Heading::unchanged},
    {421, 3, {1.0f, 2.0f, 4.0f}, {1.1f, 2.1f, 4.1f}, Heading::unchanged},
    {621, 3, {1.0f, 2.0f, 6.0f}, {1.1f, 2.1f, 6.1f}, Heading::unchanged},
    {642, 3, {2.0f, 4.0f, 6.0f}, {2.1f, 4.1f, 6.1f}, Heading::unchanged},
    {842, 3, {2.0f, 4.0f, 8.0f}, {2.1f, 4.1f, 8.1f}, Heading::unchanged},
};
constexpr LengthCodeEntry kOtherLengthCode = {4, 1, {4.0f}, {4.1f}, Heading::unchanged};

void write_time_line(std::string_view prefix, const Config& config, const Station& station,
                     std::string& out) {
  out.assign(prefix);
  out.append(config.CommentText);
  out.append(" at: ");
  fmt::append(out, "3I3", {station.Hour, station.Minute, station.Second});
}

// Positions after the name prefix of the identification; 0 when none.
int model_position(Config& config, std::string_view line) {
  const std::string_view id = config.InstrumentId;
  if (const int at = position_of(id, "KALVOR-"); at > 0) {
    config.SiblingInstrument = false;
    return at + 7;
  }
  const std::string upper = SHIFTUP(id.substr(0, 16));
  if (const int at = position_of(upper, "PELORS-"); at > 0) {
    config.SiblingInstrument = true;
    return at + 7;
  }
  if (const int at = position_of(upper, "PELOR-"); at > 0) {
    config.SiblingInstrument = true;
    return at + 6;
  }
  config.SiblingInstrument = false;
  put_line(fmt::FreeLine()
               .text("Missing name info in header string")
               .text(trimmed(columns(line, 2, kLineLength)))
               .str());
  return 0;
}

// The model code at position m of the identification: "21HQ" gives 215.
bool read_model_code(Config& config, int m) {
  std::string code = columns(config.InstrumentId, m, m + 2);
  if (const auto h = code.find('H'); h != std::string::npos) code[h] = '5';
  return fmt::read_int(code, config.LengthCode);
}

// Reads the identification into copies of the configuration and the
// station, taken only when the whole record was read.
bool read_identification(const Run& run, Config& config, Station& station) {
  const std::string& line = run.line;
  if (!fmt::read(line, "3X,3I2,1X,A40",
                 {station.Hour, station.Minute, station.Second, config.InstrumentId})) {
    return false;
  }
  station.Millisecond = 0;
  put_line(fmt::FreeLine().text("InstrumentID >").text(config.InstrumentId).str());

  // Without a known name prefix the previous length code stays.
  if (const int m = model_position(config, line); m > 0 && !read_model_code(config, m)) return false;
  if (const int sn = position_of(config.InstrumentId, "SN"); sn > 0) {
    config.SerialNumber = columns(config.InstrumentId, sn + 2, sn + 9);
  }
  if (const int sw = position_of(config.InstrumentId, "SW VERSION"); sw > 0) {
    std::string suffix;
    if (!fmt::read(columns(config.InstrumentId, sw + 10, sw + 14), "F4.1,A1",
                   {config.SoftwareVersion, suffix})) {
      return false;
    }
    config.SoftwareVersionSuffix = suffix.empty() ? ' ' : suffix[0];
  } else {
    config.SoftwareVersion = 0.0f;
    config.SoftwareVersionSuffix = ' ';
  }
  return true;
}

void handle_identification(Run& run) {
  if (run.line.find("USER OFFSETS ENABLED", 8) != std::string::npos) return;
  Config config = run.config;
  Station station = run.station;
  if (!read_identification(run, config, station)) {
    report_read_error(run);
    return;
  }
  run.config = std::move(config);
  run.station = std::move(station);
  apply_length_code(run.config, run.config.LengthCode);
  if (run.type == OutputType::G) write_g_header(run);
  compute_factors(run.config, 1, run.config.GeometryCount);
  if (run.config.LengthCode == 620) set_prototype(run.config);
}

void handle_sampling_frequency(Run& run) {
  const int s = position_of(run.line, "Sample");
  const int h = position_of(run.line, "Hz");
  const std::string rate = columns(columns(run.line, s + 6, h - 1), 1, 5);
  if (!fmt::read_int(rate, run.config.SampleRate)) {
    report_read_error(run);
    return;
  }
  put_line(fmt::FreeLine()
               .text("Sampling frequency is ")
               .i32(run.config.SampleRate)
               .text(" Hz")
               .str());
}

// Number of the comment in the table; a new text takes the next free slot
// (the 100th slot is reused once the table is full) and goes to the file.
void number_comment(Run& run) {
  Config& config = run.config;
  for (int k = 1; k <= kCommentSlots; ++k) {
    std::string& slot = config.CommentTable[static_cast<std::size_t>(k - 1)];
    if (slot == config.CommentText) {
      run.station.CommentNumber = k;
      return;
    }
    if (k == kCommentSlots || slot == std::string(16, '_')) {
      slot = config.CommentText;
      config.has_comments = true;
      run.station.CommentNumber = k;
      if (run.cmt.is_open()) run.cmt.write_line(fmt::write("I5,1X,A16", {k, config.CommentText}));
      return;
    }
  }
}

void handle_comment(Run& run) {
  Config& config = run.config;
  Station& station = run.station;
  run.output_used = true;
  // Read into copies first: a comment that cannot be read changes nothing.
  std::int32_t hour = 0, minute = 0, second = 0;
  std::string text;
  if (!fmt::read(run.line, "3X,3I2,1X,A16", {hour, minute, second, text})) {
    report_read_error(run);
    return;
  }
  station.Hour = hour;
  station.Minute = minute;
  station.Second = second;
  station.Millisecond = 0;
  config.CommentText = text;
  const std::string as_written = text;
  write_time_line("Comment>", config, station, text);
  put_line(text);
  config.CommentText = SHIFTUP(config.CommentText);
  number_comment(run);
  if (run.type == OutputType::G && run.main.is_open()) {
    write_time_line("\\", config, station, text);
    run.main.write_line(text);
  }
  if (run.observer != nullptr) run.observer->comment_read(run, as_written);
}

bool is_identification(std::string_view line) {
  return columns(line, 34, 43) == "SW VERSION" || columns(line, 4, 9) == "000000" ||
         columns(line, 22, 23) == "SN";
}

bool read_two_digit_triple(std::string_view line, int first, std::int32_t& a, std::int32_t& b,
                           std::int32_t& c) {
  return fmt::read(columns(line, first, first + 5), "3I2", {a, b, c});
}

Stop fatal_read_error(const Run& run) {
  put_line(fmt::FreeLine()
               .text("*** Fatal read error in input at ")
               .i32(run.line_no)
               .text(run.line)
               .str());
  return kXlatHeaderField;
}

}  // namespace

float coil_factor(float spacing) {
  const double omega = 2.0 * kPi * 9000.0;
  const double mu0 = static_cast<double>(4.0e-7f) * kPi;
  const double s = static_cast<double>(spacing);
  return static_cast<float>(omega * mu0 * s * s / 4.0);
}

void apply_length_code(Config& config, std::int32_t code) {
  const LengthCodeEntry* entry = &kOtherLengthCode;
  for (const LengthCodeEntry& e : kLengthCodes) {
    if (e.code == code) entry = &e;
  }
  config.GeometryCount = entry->geometries;
  for (int g = 0; g < entry->geometries; ++g) {
    config.HcpSpacing[static_cast<std::size_t>(g)] = entry->hcp[static_cast<std::size_t>(g)];
    config.PrpSpacing[static_cast<std::size_t>(g)] = entry->prp[static_cast<std::size_t>(g)];
  }
  if (entry->heading == Heading::two) config.ColumnHeading = fixed(kTwoGeometryHeading, kLineLength);
  if (entry->heading == Heading::three) {
    config.ColumnHeading = fixed(kThreeGeometryHeading, kLineLength);
  }
}

void compute_factors(Config& config, int first, int last) {
  for (int g = std::max(first, 1); g <= std::min(last, kMaxGeometries); ++g) {
    const auto i = static_cast<std::size_t>(g - 1);
    config.HcpFactor[i] = coil_factor(config.HcpSpacing[i]);
    config.PrpFactor[i] = coil_factor(config.PrpSpacing[i]);
  }
}

void set_prototype(Config& config) {
  put_line("***Prototype K-62 Configuration detected!***");
  config.ProtoScaleA = 0.44444445f;
  config.ProtoScaleB = 0.45176026f;
}

std::string g_column_heading(const Config& config) {
  std::string out = "\\..STN.SP.LINE.LP.";
  out.append(trimmed(config.ColumnHeading));
  out.append(".N.HH.MM.SS.V.......T-K.....CN..Ptch...Roll");
  out.append("......GPS_TIME..Lat..........Lon.........GPS_Alt.DMode");
  return out;
}

// The length code in two columns; a wider code (215, 421, 620, ...) is
// written whole instead of as asterisks, so the file keeps its configuration.
std::string length_code_field(std::int32_t code) {
  std::string field = fmt::I(code, 2);
  if (field.front() == '*') field = fmt::I(code, 0);
  return field;
}

void write_g_header(Run& run) {
  if (!run.main.is_open()) return;
  run.main.write_line("\\Kalvor Filename is " + fixed(run.out_name, std::max<std::size_t>(19, run.out_name.size())));
  run.main.write_line("\\Kalvor Sensor Length Code is " + length_code_field(run.config.LengthCode));
  run.main.write_line(g_column_heading(run.config));
}

void handle_header_record(Run& run) {
  if (is_identification(run.line)) {
    handle_identification(run);
  } else if (run.line.find("Sample") != std::string::npos &&
             run.line.find("Hz") != std::string::npos) {
    handle_sampling_frequency(run);
  } else {
    handle_comment(run);
  }
}

Stop read_file_header(Run& run) {
  const std::string& line = run.line;
  Config& config = run.config;
  Station& station = run.station;

  run.survey_name = std::string(trimmed(columns(line, 11, 18)));
  // Rejected pieces of the upload before the header are no data.
  if (run.line_no - run.rejected_pieces > 2) run.output_used = true;

  if (!read_two_digit_triple(line, 20, config.Date1, config.Date2, config.Date3)) {
    return fatal_read_error(run);
  }
  const std::string length_text(trimmed(columns(line, 27, kLineLength)));
  std::int32_t code = 0;
  if (fmt::read_free_int(length_text, code) != fmt::FreeRead::value || code == 0) code = 4;
  config.LengthCode = code;
  if (!read_two_digit_triple(line, 4, station.Hour, station.Minute, station.Second)) {
    return fatal_read_error(run);
  }
  station.Millisecond = 0;
  station.LineNumber = 1;

  apply_length_code(config, config.LengthCode);
  compute_factors(config, 1, config.GeometryCount);
  if (config.LengthCode == 620) set_prototype(config);
  return std::nullopt;
}

}  // namespace kal::xlat

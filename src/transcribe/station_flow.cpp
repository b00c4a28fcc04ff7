#include "transcribe/station_flow.h"

#include <string>
#include <string_view>

#include "common/format.h"
#include "console/console.h"
#include "transcribe/header.h"
#include "transcribe/records.h"
#include "transcribe/result_codes.h"
#include "transcribe/writers.h"

namespace kal::xlat {
namespace {

void configure_from_prompt(Config& config, std::int32_t code) {
  config.LengthCode = code;
  apply_length_code(config, code);
  compute_factors(config, 1, 1);
  if (code == 620) set_prototype(config);
}

// After the short length-code prompt: the main output takes the name with
// an upper-case extension (X, L, I), unless it already holds lines, which
// are kept and written on.
Stop rename_after_short_prompt(Run& run) {
  // A main output that already holds lines is kept and written on.
  const bool rename = run.main.is_open() && run.main.lines() == 0;
  // The name of the file itself ("Default.xyz" before any file header).
  if (run.main.is_open()) run.out_name = run.main.path().substr(run.dir_prefix.size());
  if (rename) {
    close_output(run, run.main, Disposition::remove);
    // The type's own extension in capitals: an ICE output under the IDF
    // name of type P would overwrite, or be overwritten by, a type P run.
    std::string_view upper;
    if (run.type == OutputType::X) upper = "XYZ";
    if (run.type == OutputType::L) upper = "LOG";
    if (run.type == OutputType::I) upper = "ICE";
    const auto dot = run.out_name.rfind('.');
    if (!upper.empty() && dot != std::string::npos) {
      run.out_name = run.out_name.substr(0, dot + 1) + std::string(upper);
    }
  }
  put_line(fmt::FreeLine().text("Output file: ").text(run.out_name).str());
  put_line(fmt::FreeLine()
               .text("Sensor Length code for this file is ")
               .i32(run.config.LengthCode)
               .str());
  run.station.Voltage = 0.0f;
  run.station.Temperature = 0.0f;
  if (rename) {
    if (!open_output(run, run.main, run.out_name)) return kXlatOutputOpen;
    if (run.type == OutputType::S) run.opening_line_due = true;
  }
  return std::nullopt;
}

}  // namespace

void full_length_code_prompt(Run& run) {
  std::int32_t code = 1;
  do {
    put_line("Enter Kalvor Length Code (1,15,2,4,21,215,42,421,62,621,642 or 842, default=1)");
    put_line("     where 15 and 215 represent the 1HQ and 21HQ instruments");
  } while (!read_reply(code));
  configure_from_prompt(run.config, code);
}

Stop short_length_code_prompt(Run& run) {
  std::int32_t code = 1;
  do {
    put_line("Enter Kalvor Length Code (1, 2, or 4, default=1)");
  } while (!read_reply(code));
  Config& c = run.config;
  c.LengthCode = code;
  c.HcpSpacing[0] = code == 1 ? 1.0f : code == 2 ? 2.0f : 4.0f;
  c.PrpSpacing[0] = code == 1 ? 1.1f : code == 2 ? 2.1f : 4.1f;
  compute_factors(c, 1, 1);
  return rename_after_short_prompt(run);
}


Stop handle_survey_record(Run& run) {
  const SurveyRecord record = read_survey_record(run);
  if (record.gps_read && run.observer != nullptr) run.observer->fix_read(run);
  if (record.stop || !record.station) return record.stop;
  if (record.needs == LengthCodeNeeded::full) full_length_code_prompt(run);
  if (record.needs == LengthCodeNeeded::short_code) {
    if (const Stop stop = short_length_code_prompt(run)) return stop;
  }
  convert_station(run, record);
  if (run.observer != nullptr) run.observer->station_completed(run, *record.station);
  return write_station(run, *record.station);
}

}  // namespace kal::xlat

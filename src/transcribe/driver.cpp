// KALXLATSUB: start-up dialogue, the file set of each output type, the main
// loop over the RAW file, the file switch after each file header and the
// closing sequence.
#include "transcribe/driver.h"

#include <algorithm>

#include "common/file_error.h"
#include "common/fixed_text.h"
#include "common/format.h"
#include "common/rejected_mark.h"
#include "console/console.h"
#include "transcribe/gps_prepass.h"
#include "transcribe/header.h"
#include "transcribe/names.h"
#include "transcribe/station_flow.h"
#include "transcribe/transcribe_state.h"
#include "transcribe/writers.h"

namespace kal {
namespace xlat {
namespace {

// The files each output type opens at start, besides the comment file,
// the reference copy and the GPS file that every type opens.
struct TypeFiles {
  char letter;
  OutputType type;
  const char* main_name;  // nullptr: no main output
  bool xyx;
  bool dat;
};

constexpr TypeFiles kTypeFiles[] = {
    {'X', OutputType::X, "Default.xyz", true, false},
    {'G', OutputType::G, "Default.xyz", true, false},
    {'D', OutputType::D, "Default.G31", false, false},
    {'L', OutputType::L, "Default.LOG", false, false},
    {'S', OutputType::S, "Default.SAN", false, false},
    {'I', OutputType::I, "Default.ICE", false, true},
    {'P', OutputType::P, "Default.IDF", false, false},
    {'R', OutputType::R, nullptr, false, false},
};

const TypeFiles* type_files_of(std::string_view output_type) {
  if (output_type.empty()) return nullptr;
  const char letter = SHIFTUP(output_type.substr(0, 1))[0];
  for (const TypeFiles& t : kTypeFiles) {
    if (t.letter == letter) return &t;
  }
  return nullptr;
}

void ask_sensor_height(Run& run, bool height_set) {
  if (!height_set) run.sensor_height = 0.2f;
  put_line("");
  put_line(fmt::FreeLine()
               .text("Default/user-set instrument height (at axis of sensor) is ")
               .real(run.sensor_height)
               .str());
  do {
    put_line("Enter Sensor height manually or type / followed by <ENTER> to accept this value ");
  } while (!read_reply(run.sensor_height));
}

std::string folder_of(std::string_view raw_name) {
  const auto slash = raw_name.find_last_of("/\\");
  return slash == std::string_view::npos ? std::string() : std::string(raw_name.substr(0, slash + 1));
}

Stop open_start_files(Run& run, const TypeFiles& files) {
  if (files.main_name != nullptr && !open_output(run, run.main, files.main_name)) return kXlatOutputOpen;
  if (files.xyx && !open_output(run, run.xyx, "Default.xyx")) return kXlatOutputOpen;
  if (files.dat && !open_output(run, run.dat, run.dat_name, true)) return kXlatOutputOpen;
  // Every type keeps its comments, so that comments before the first file
  // header are not lost under D and R either.
  if (!open_output(run, run.cmt, run.cmt_name)) return kXlatOutputOpen;
  if (!open_output(run, run.raw_copy, "Default.RAW")) return kXlatOutputOpen;
  run.xyx_count = 0;
  if (run.type == OutputType::P) run.sdf_pending = true;
  run.used_bases.push_back("Default");
  if (!open_output(run, run.gps, "DEFAULT.GPS")) return kXlatOutputOpen;
  return std::nullopt;
}

// The file stem of the survey named by the current file header: made safe,
// unique for a repeated survey name, and distinct from every stem of this
// call so that no output overwrites another.
std::string stem_for_file_header(Run& run) {
  bool unsafe = false;
  std::string stem = run.survey_name.empty() ? "Default" : safe_file_stem(run.survey_name, unsafe);
  if (unsafe) put_line("*** Warning: unsafe characters of survey name replaced by _: " + stem);
  const std::string survey_stem = stem;

  ++run.h_count;
  run.keep.out_name_len = 12;
  const bool repeated =
      std::find(run.used_names.begin(), run.used_names.end(), run.survey_name) != run.used_names.end();
  if (run.h_count > 1 && repeated) {
    stem += time_suffix(run.station.Hour, run.station.Minute, run.station.Second);
    run.keep.out_name_len = 19;
  }
  run.used_names.push_back(run.survey_name);

  const std::string wanted = stem;
  stem = distinct_stem(run.used_bases, stem);
  if (stem != wanted) {
    put_line("*** Warning: output name " + wanted + " already used in this run; writing " + stem);
  }
  run.used_bases.push_back(stem);

  if (run.type == OutputType::P) {
    run.sdf_name = survey_stem + ".SDF";
    run.sdf_pending = run.sdf_name != run.last_sdf_written;
  }
  return stem;
}

Stop switch_files(Run& run) {
  const std::string stem = stem_for_file_header(run);
  const std::string_view extension = extension_of(run.type);
  run.base_name = stem;
  run.out_name = extension.empty() ? stem : stem + "." + std::string(extension);
  run.dat_name = stem + ".DAT";
  if (run.type == OutputType::I) run.ice_first_record = true;

  // The previous main output goes unless something worth keeping is in it.
  close_output(run, run.main, keep_if(run.output_used));
  close_output(run, run.dat, keep_if(run.output_used));

  put_line(fmt::FreeLine()
               .text("   Output file: ")
               .text(fixed(run.out_name, std::max<std::size_t>(19, run.out_name.size())))
               .str());
  put_line(fmt::FreeLine()
               .text("   Sensor Length code for this file is ")
               .i32(run.config.LengthCode)
               .str());
  run.station.Voltage = 0.0f;
  run.station.Temperature = 0.0f;

  // Type R keeps no main output, only its side files.
  if (run.type != OutputType::R && !open_output(run, run.main, run.out_name)) return kXlatOutputOpen;

  close_output(run, run.xyx, keep_if(run.xyx_count > 0));
  if (!open_output(run, run.xyx, stem + ".XYX")) return kXlatOutputOpen;
  run.xyx_count = 0;

  if (run.type == OutputType::I && !open_output(run, run.dat, run.dat_name, true)) {
    return kXlatOutputOpen;
  }
  if (run.type == OutputType::S) run.opening_line_due = true;

  close_output(run, run.gps, keep_if(run.gps_count > 0));
  if (!open_output(run, run.gps, stem + ".GPS")) return kXlatOutputOpen;
  run.gps_count = 0;

  close_output(run, run.cmt, keep_if(run.config.has_comments));
  run.cmt_name = stem + ".CMT";
  if (!open_output(run, run.cmt, run.cmt_name)) return kXlatOutputOpen;
  run.config.clear_comments();
  run.station.CommentNumber = 0;

  if (run.type == OutputType::D) {
    run.output_used = true;
    write_dat31_file_header(run);
  }
  if (run.type == OutputType::G) write_g_header(run);

  for (auto& offsets : run.station.RtmOffsets) offsets.fill(0.0f);
  if (run.observer != nullptr) run.observer->survey_file_started(run);
  return std::nullopt;
}

std::int32_t main_loop(Run& run) {
  std::string_view raw_line;
  for (;;) {
    ++run.line_no;
    switch (run.raw.next(raw_line)) {
      case RawInput::Read::line:
        break;
      case RawInput::Read::end:
        put_line("End of file reached.  Exiting...");
        run.keep.end_of_input = true;
        return kXlatOk;
      case RawInput::Read::error:
        return *report_raw_read_error(run, run.line_no);
    }
    // A rejected piece of the upload is no record, whatever it holds: it
    // is passed over as silently as a line of no known kind.
    if (is_rejected_piece(raw_line)) {
      ++run.rejected_pieces;
      if (run.observer != nullptr) run.observer->rejected_piece_read(run);
      continue;
    }
    load_record(run.line, raw_line);
    if (run.line[1] == 'C' && run.line[2] == '$') {
      handle_header_record(run);
    } else if (run.line.find("H$") != std::string::npos) {
      if (const Stop stop = read_file_header(run)) return *stop;
      if (const Stop stop = switch_files(run)) return *stop;
    } else if (const Stop stop = handle_survey_record(run)) {
      return *stop;
    }
  }
}

// The closing sequence of every exit.
std::int32_t finish(Run& run, std::int32_t result) {
  close_output(run, run.main, Disposition::keep);
  close_output(run, run.xyx, keep_if(run.xyx_count > 0));
  close_output(run, run.dat, Disposition::keep);
  run.raw.close();
  close_output(run, run.raw_copy, keep_if(run.keep.ref_seen));
  close_output(run, run.gps, keep_if(run.gps_count > 0));
  close_output(run, run.cmt, keep_if(run.config.has_comments));
  // Data lost on the way to a kept file is no success.
  if (run.write_failed && result == kXlatOk) result = kXlatOutputOpen;
  if (run.observer != nullptr) run.observer->run_ended(run, result);
  return result;
}

std::int32_t transcribe(Run& run, std::string_view output_type, bool height_set) {
  put_line("");
  put_line("*** Transcription v1.22 ***");
  run.dir_prefix = folder_of(run.raw_name);
  if (!run.raw.open(run.raw_name)) {  // before the prompt: a wrong name is told at once
    put_line(fmt::FreeLine().text("*** Open error for input file=").text(run.raw_name).str());
    put_line(file_error_line("open", run.raw_name, run.raw.error_number()));
    return finish(run, kXlatNoRawFile);
  }
  ask_sensor_height(run, height_set);
  const TypeFiles* files = type_files_of(output_type);
  if (files == nullptr) {
    put_line("*** Error:  not an allowed output type ");
    put_line("  You must use X, G, D or L as second command-line argument.");
    return finish(run, kXlatBadType);
  }
  run.type = files->type;
  if (const Stop stop = open_start_files(run, *files)) return finish(run, *stop);

  if (!run.keep.end_of_input) {
    if (const Stop stop = gps_prepass(run)) return finish(run, *stop);
  }
  run.gps_count = 0;
  run.keep.end_of_input = false;
  run.line_no = 0;
  run.rejected_pieces = 0;
  run.h_count = 0;
  if (run.observer != nullptr) run.observer->records_begin(run);
  return finish(run, main_loop(run));
}

}  // namespace
}  // namespace xlat

void KALXLATSUB(std::string_view raw_name, std::string_view output_type, float& sensor_height,
                bool& height_set, std::int32_t& result_code, xlat::Persistent& kept,
                xlat::RunObserver* observer) {
  xlat::Run run(kept, sensor_height);
  run.raw_name = std::string(trimmed(raw_name));
  run.observer = observer;
  result_code = xlat::transcribe(run, output_type, height_set);
}

}  // namespace kal

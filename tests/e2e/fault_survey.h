// A sensor memory for the fault sessions: identification, a comment, one
// survey file of single-geometry T$ stations with GGA sentences, and "Z$".
// Every line is one the session accepts when it arrives clean.
#pragma once

#include <filesystem>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "e2e/fault_harness.h"
#include "e2e/xlat_records.h"
#include "common/rejected_mark.h"
#include "support/quick_look_report.h"
#include "support/sim_harness.h"

namespace kal::faulttest {

// Identification (46 characters, at most 50), comment, file header (26).
inline const std::string kIdentification = "C$000000 KALVOR-1   SN12345678 SW VERSION 5.1a";
inline const std::string kComment = "C$100000 FIRST COMMENT";
inline const std::string kFileHeader = "H$100001 LINE0001 261208 1";

// hhmmss of second `s` after 10:00:00.
inline std::string clock_text(int s) {
  const int h = 10 + s / 3600, m = (s / 60) % 60, sec = s % 60;
  auto two = [](int v) { return std::string(1, static_cast<char>('0' + v / 10)) + static_cast<char>('0' + v % 10); };
  return two(h) + two(m) + two(sec);
}

// `stations` T$ records (station numbers 1..stations), a GGA sentence
// after every fifth.
inline Lines survey_memory(int stations) {
  Lines lines = {kIdentification, kComment, kFileHeader};
  for (int i = 1; i <= stations; ++i) {
    lines.push_back(xtest::t58(clock_text(i + 1), i, "CONV", {0, 0, 100 + i, 20, 300 + i, 40}));
    if (i % 5 == 0) {
      lines.push_back(xtest::g_rec("GPGGA," + clock_text(i + 1) +
                                   ",4500.0000,N,07500.0000,W,1,08,0.9,100.0,M,0.0,M,,"));
    }
  }
  lines.push_back("Z$");
  return lines;
}

using test::joined;

// Lines with their trailing blanks removed (fixed-length texts compare so).
inline Lines trimmed_lines(Lines lines) {
  for (std::string& l : lines) {
    const auto end = l.find_last_not_of(' ');
    l.erase(end == std::string::npos ? 0 : end + 1);
  }
  return lines;
}

inline int count_containing(const Lines& lines, std::string_view text) {
  int n = 0;
  for (const std::string& l : lines)
    if (l.find(text) != std::string::npos) ++n;
  return n;
}

inline bool has_line(const Lines& lines, std::string_view line) {
  return std::find(lines.begin(), lines.end(), line) != lines.end();
}

// The sensor on COM3, with its memory file and trace in `ports`.
struct Sensor {
  Folder ports;
  test::SimProcess sim;
  std::string memory_file;
  std::string trace_file;

  bool start(const Lines& memory, std::vector<std::string> options) {
    memory_file = (ports.path() / "memory.txt").string();
    trace_file = (ports.path() / "trace.txt").string();
    write_file(memory_file, joined(memory));
    std::vector<std::string> args = {"--port", "3", "--memory", memory_file, "--trace", trace_file};
    args.insert(args.end(), options.begin(), options.end());
    return sim.start((ports.path() / "dev").string(), args);
  }
  fs::path port_dir() const { return sim.port_dir(); }
  // Trace lines holding `text` (e.g. "H> 38400 AA 91 19 55").
  int heard(std::string_view text) const { return test::trace_count(trace_file, text); }
};


// ---- the outputs a crew gets from a session ---------------------------------------------------

inline std::string kalxlat_path() { return std::string(KAL_BIN_DIR) + "/kalxlat"; }

inline std::string replaced(std::string text, std::string_view from, std::string_view to) {
  for (std::size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size())) {
    text.replace(at, from.size(), to);
  }
  return text;
}

using Outputs = std::map<std::string, std::string>;  // file name -> bytes

// Every file in `dir` but the RAW file, under `prefix` + its name, with the
// time-stamped RAW stem replaced by "RAW" in names and contents (two
// sessions may start in different seconds).
inline void collect_outputs(const fs::path& dir, const std::string& raw_stem, const std::string& prefix,
                            Outputs& outputs) {
  for (const std::string& name : list_files(dir)) {
    if (name == raw_stem + ".RAW") continue;
    outputs[prefix + replaced(name, raw_stem, "RAW")] = replaced(read_file(dir / name), raw_stem, "RAW");
  }
}

// What a session of types XGDLSP in `dir` left, then what kalxlat adds when
// the crew transcribes the session's RAW file once more as I and R (the
// types a session does not make) with the CSV, GeoJSON and report. Empty,
// with `problem` set, when kalxlat did not end well.
inline Outputs crew_outputs(const fs::path& dir, const std::string& raw_name, std::string& problem) {
  const std::string stem = raw_name.substr(0, raw_name.size() - 4);
  Outputs outputs;
  collect_outputs(dir, stem, "session/", outputs);
  Kalfetch xlat;
  if (!xlat.start_program(kalxlat_path(), dir, {raw_name, "IR", "--csv", "--geojson", "--report"}, dir)) {
    problem = "kalxlat did not start";
    return {};
  }
  const Finished f = xlat.finish(60000);
  if (f.timed_out || f.status != 0) {
    problem = "kalxlat: status " + std::to_string(f.status) + "\n" + numbered(f.lines);
    return {};
  }
  collect_outputs(dir, stem, "kalxlat/", outputs);
  return outputs;
}

// The memory received clean by a session of types XGDLSP at 38400 baud,
// completed by kalxlat as in crew_outputs().
inline Outputs clean_crew_outputs(const Lines& memory, std::string& problem) {
  Sensor sensor;
  if (!sensor.start(memory, {})) {
    problem = "the simulated sensor did not start";
    return {};
  }
  Folder cwd;
  Kalfetch run;
  if (!run.start(cwd.path(), {"XGDLSP", "COM3", "38400"}, sensor.port_dir(), Input::pipe, "n\n")) {
    problem = "kalfetch5 did not start";
    return {};
  }
  const Finished f = run.finish(150000);
  const std::string raw_name = session_raw_name(cwd.path());
  if (f.timed_out || f.status != 0 || raw_name.empty()) {
    problem = "clean session: status " + std::to_string(f.status) + "\n" + numbered(f.lines);
    return {};
  }
  return crew_outputs(cwd.path(), raw_name, problem);
}

// The noisy session's outputs byte for byte those of the clean one. The
// reports too, once the noisy one's paragraph on damaged transmissions is
// taken out (the clean one has none) and the counts of RAW lines read are
// set aside (the noisy RAW file holds the marked pieces too): they must be
// `noisy_raw_lines` and `clean_raw_lines`. `sentences` receives the
// paragraph of each noisy report.
inline void expect_outputs_as_clean(Outputs noisy, const Outputs& clean, int noisy_raw_lines,
                                    int clean_raw_lines, std::vector<std::string>& sentences) {
  std::vector<std::string> noisy_names, clean_names;
  for (const auto& [name, bytes] : noisy) noisy_names.push_back(name);
  for (const auto& [name, bytes] : clean) clean_names.push_back(name);
  EXPECT_EQ(noisy_names, clean_names);
  for (auto& [name, bytes] : noisy) {
    if (name.ends_with(".html")) {
      sentences.push_back(test::take_damaged_sentence(bytes));
      EXPECT_EQ(test::take_lines_read(bytes), noisy_raw_lines) << name;
    }
    const auto found = clean.find(name);
    if (found == clean.end()) continue;
    std::string want = found->second;
    if (name.ends_with(".html")) {
      EXPECT_EQ(test::take_damaged_sentence(want), "") << name;
      EXPECT_EQ(test::take_lines_read(want), clean_raw_lines) << name;
    }
    EXPECT_TRUE(bytes == want) << name << " differs from the clean session's:\n" << bytes << "\n---- clean:\n"
                               << want;
  }
}

// The RAW file line by line: the memory's lines each once and in order,
// every other line a marked piece of a damaged transmission. `damaged`
// receives the runs of consecutive marked lines (first and last line
// number, from 1).
inline void expect_memory_and_marked_pieces(const Lines& raw, const Lines& memory,
                                            std::vector<std::pair<int, int>>& damaged) {
  Lines unmarked;
  for (std::size_t i = 0; i < raw.size(); ++i) {
    const int number = static_cast<int>(i + 1);
    if (!is_rejected_piece(raw[i])) {
      unmarked.push_back(raw[i]);
      continue;
    }
    if (!damaged.empty() && damaged.back().second == number - 1) {
      damaged.back().second = number;
    } else {
      damaged.push_back({number, number});
    }
  }
  EXPECT_EQ(unmarked, memory) << numbered(raw);
}

}  // namespace kal::faulttest

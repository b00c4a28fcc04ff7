// A sensor memory for the fault sessions: identification, a comment, one
// survey file of single-geometry T$ stations with GGA sentences, and "Z$".
// Every line is one the session accepts when it arrives clean.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "e2e/fault_harness.h"
#include "e2e/sim_harness.h"
#include "e2e/xlat_records.h"

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

inline std::string joined(const Lines& lines) {
  std::string all;
  for (const std::string& l : lines) all += l + "\n";
  return all;
}

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
  simtest::SimProcess sim;
  std::string memory_file;
  std::string trace_file;

  bool start(const Lines& memory, std::vector<std::string> options) {
    memory_file = (ports.path() / "memory.txt").string();
    trace_file = (ports.path() / "trace.txt").string();
    write_text(memory_file, joined(memory));
    std::vector<std::string> args = {"--port", "3", "--memory", memory_file, "--trace", trace_file};
    args.insert(args.end(), options.begin(), options.end());
    return sim.start((ports.path() / "dev").string(), args);
  }
  fs::path port_dir() const { return sim.port_dir(); }
  // Trace lines holding `text` (e.g. "H> 38400 AA 91 19 55").
  int heard(std::string_view text) const {
    int n = 0;
    for (const std::string& l : simtest::trace_lines(trace_file))
      if (l.find(text) != std::string::npos) ++n;
    return n;
  }
};

}  // namespace kal::faulttest

// Test support for the transcription: RAW record builders and a one-call
// runner of KALXLATSUB in a fresh folder.
#pragma once

#include <array>
#include <cstdint>
#include <cstdlib>
#include <deque>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <set>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include <gtest/gtest.h>

#include "common/fixed_text.h"
#include "support/fake_console.h"
#include "support/nmea.h"
#include "support/temp_dir.h"
#include "support/text_files.h"
#include "transcribe/driver.h"
#include "transcribe/transcribe_state.h"

namespace kal::xlat::test {

using kal::test::FakeConsole;
using kal::test::read_file;
using kal::test::read_lines;
using kal::test::TempDir;
using kal::test::write_file;

// A run that reads nothing from files: records are fed to it one by one.
struct RecordBench {
  Persistent keep;
  float height = 0.2f;
  Run run{keep, height};

  // Makes `record` the current RAW line, as the driver's reading loop does.
  void load(const std::string& record) {
    run.line = fixed(record, kLineLength);
    normalise_tag(run.line);
    ++run.line_no;
  }
};

// ---- RAW records (as the sensor writes them: tag from column 1) ----------------------

inline std::string rjust(long long v, std::size_t width) {
  std::string s = std::to_string(v);
  return std::string(width > s.size() ? width - s.size() : 0, ' ') + s;
}
inline std::string ljust(std::string_view s, std::size_t width) {
  std::string out(s);
  out.resize(std::max(width, out.size()), ' ');
  return out;
}
inline std::string ints(std::initializer_list<long long> values, std::size_t width) {
  std::string out;
  for (long long v : values) out += rjust(v, width);
  return out;
}

// File header: time, survey name (8 columns), date, length code text.
inline std::string h_rec(std::string_view time, std::string_view name, std::string_view date,
                         std::string_view code) {
  return "H$" + std::string(time) + " " + ljust(name, 8) + " " + std::string(date) + " " +
         std::string(code);
}
inline std::string c_rec(std::string_view time, std::string_view text) {
  return "C$" + std::string(time) + " " + std::string(text);
}
// T$ of 58 columns: ExtraA, ExtraB, HQ, HI, PQ, PI.
inline std::string t58(std::string_view time, int station, std::string_view type,
                       std::initializer_list<long long> six) {
  return "T$" + std::string(time) + " " + rjust(station, 6) + " " + std::string(type) + " " + ints(six, 6);
}
inline std::string x_rec(std::string_view time, std::initializer_list<long long> groups) {
  return "X$" + std::string(time) + " " + ints(groups, 6);
}
inline std::string g_rec(std::string_view sentence_with_checksum) {
  return "G$" + std::string(sentence_with_checksum);
}

using kal::test::with_checksum;

inline std::string join_lines(const std::vector<std::string>& lines) {
  std::string text;
  for (const auto& l : lines) text += l + "\n";
  return text;
}

// One call of KALXLATSUB on `raw` written to in.RAW of a fresh folder.
struct Transcription {
  TempDir folder{"xlat_unit"};
  std::int32_t result = -1;
  float height = 0.2f;
  Persistent kept;  // what the call leaves for a next one
  std::vector<std::string> console;

  Transcription(const std::vector<std::string>& raw, std::string_view type,
                std::vector<std::string> replies = {}, bool height_set = false, float given = 0.2f) {
    if (!folder.ready()) {
      ADD_FAILURE() << "no temporary folder";
      return;
    }
    write_file(folder.file("in.RAW"), join_lines(raw));
    FakeConsole scripted;
    scripted.typed.assign(replies.begin(), replies.end());
    height = given;
    KALXLATSUB(folder.file("in.RAW"), type, height, height_set, result, kept);
    console = scripted.lines;
  }
  std::vector<std::string> lines(std::string_view name) const { return read_lines(folder.file(name)); }
  bool said(std::string_view line) const {
    for (const auto& l : console) {
      if (l == line) return true;
    }
    return false;
  }
  std::string dump() const {
    std::string out;
    for (const auto& l : console) out += "[" + l + "]\n";
    return out;
  }
};

}  // namespace kal::xlat::test

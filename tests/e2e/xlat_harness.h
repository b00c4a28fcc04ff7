// Runs the kalxlat executable the way a field crew does: in a folder of its
// own, with a RAW file written there, answers on standard input, and the
// console captured. Helpers list and read the files it leaves behind.
#pragma once

#include <filesystem>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "support/nmea.h"
#include "support/temp_dir.h"
#include "support/text_files.h"

namespace kal::xtest {

using test::TempDir;

struct XlatRun {
  int status = -1;         // exit status; -1 when the program did not exit normally
  bool timed_out = false;  // killed after the time limit
  std::string out;         // everything written to standard output
  std::string err;         // everything written to standard error
  std::vector<std::string> lines;  // `out` split at line feeds

  bool has_line(std::string_view line) const;
  bool has_line_containing(std::string_view text) const;
  int count_lines_containing(std::string_view text) const;
  // Index of the first line equal to `line` at or after `from`, -1 if none.
  int index_of(std::string_view line, int from = 0) const;
  int index_containing(std::string_view text, int from = 0) const;
};

// Path of the executable under test.
std::string kalxlat_path();

// Runs kalxlat with `args` in folder `cwd`, feeding `input` on standard input
// (then end of input).
XlatRun run_kalxlat(const std::filesystem::path& cwd, const std::vector<std::string>& args,
                    const std::string& input = "");

// Files (whole files byte for byte: tests/support).
using test::list_files;
using test::numbered;
using test::read_file;
using test::read_lines;
using test::with_checksum;
using test::write_file;
// RAW lines joined with `eol` after every line.
std::string raw_text(const std::vector<std::string>& lines, std::string_view eol = "\n");
bool file_exists(const std::string& path);

// The records of a CSV file (RFC 4180: quoted fields, doubled quotes, CR LF
// or LF line ends), each split into its fields.
std::vector<std::vector<std::string>> read_csv(const std::string& path);


// Left-justified or right-justified padding helpers for building RAW records.
std::string right(std::string_view text, std::size_t width);
std::string left(std::string_view text, std::size_t width);

// Writes `raw` as in.RAW into `dir` and transcribes it with output types
// `type`, answering the prompts with `input`.
XlatRun run_raw(const TempDir& dir, const std::vector<std::string>& raw,
                const std::string& type = "X", const std::string& input = "");

// Expects file `name` in `dir` to hold exactly the lines `want`.
void expect_lines(const TempDir& dir, const std::string& name,
                  const std::vector<std::string>& want);

}  // namespace kal::xtest

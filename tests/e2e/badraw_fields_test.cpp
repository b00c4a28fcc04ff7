// kalxlat on records whose numeric fields hold a letter: for every record
// layout, each numeric field in turn. Measurement, status and header
// records are skipped with the read-error lines and the run goes on, and a
// skipped record changes nothing: every file is as if the record were not
// in the RAW file; an R$ record reports its own error; a file header's date
// or time field is fatal (result 2).
#include <gtest/gtest.h>

#include <cctype>
#include <string>
#include <vector>

#include "e2e/xlat_harness.h"
#include "e2e/xlat_records.h"

namespace kal::xtest {
namespace {

using Lines = std::vector<std::string>;

// Columns of the numeric fields (I and F) of a layout written in the
// record notation ("3X,3I2,1X,F5.3"), counted from 1: first and last.
struct Field {
  int first;
  int last;
};

std::vector<Field> numeric_fields(const std::string& layout) {
  std::vector<Field> fields;
  int col = 1;
  std::size_t at = 0;
  while (at < layout.size()) {
    std::size_t end = layout.find(',', at);
    if (end == std::string::npos) end = layout.size();
    const std::string item = layout.substr(at, end - at);
    at = end + 1;
    std::size_t p = 0;
    int repeat = 0;
    while (p < item.size() && std::isdigit(static_cast<unsigned char>(item[p]))) repeat = repeat * 10 + (item[p++] - '0');
    const char kind = item[p++];
    if (kind == 'X') {
      col += repeat == 0 ? 1 : repeat;
      continue;
    }
    const int width = std::stoi(item.substr(p));  // "5.3" reads 5
    for (int k = 0; k < (repeat == 0 ? 1 : repeat); ++k) {
      if (kind == 'I' || kind == 'F') fields.push_back({col, col + width - 1});
      col += width;
    }
  }
  return fields;
}

const std::string kKalvor40 = c_rec("000000", "KALVOR-1   SNA1234567  SW VERSION 4.0 ");
const std::string kKalvor51 = c_rec("000000", "KALVOR-1   SNA1234567  SW VERSION 5.1 ");
const std::string kCode1 = header_rec("100000", "LINE0001", "261208", "1");
const std::string kCode21 = header_rec("100000", "LINE0021", "261208", "21");
const std::string kStation = t58("100001", 7, "CONV", {0, 0, 10, 20, 30, 40});
const Six kSix = {1, 2, 10, 20, 30, 40};
const std::string kPklvt =
    "$PKLVT,100010,0001500,0020000,-000500,0028000,0000077,0000066,12200,02400,000123,-00045,CONV";

enum class Expect { skipped, r_error, goes_on };

struct Layout {
  const char* name;
  Lines before;         // configuration records
  std::string record;   // a valid record
  std::string fields;   // its layout in the record notation, from column 1
  int shift;            // 1 when the tag is moved one column right when read
  Expect expect;
  Lines after;          // a good record to show the run goes on
  std::size_t stations; // station lines of the good records
};

std::string d76(const std::string& time, int ms, const std::string& d72_rec) {
  return "D$" + time + " " + num(ms, 3) + d72_rec.substr(8);
}

const Layout kLayouts[] = {
    {"T$ 58", {kCode1}, t58("100001", 1, "CONV", kSix), "3X,3I2,1X,I6,1X,A4,1X,6I6", 1,
     Expect::skipped, {kStation}, 1},
    {"T$ 65", {kCode1}, t65("100001", 1, "CONV", kSix, 12, -3), "3X,3I2,1X,I6,1X,A4,1X,6I6,1X,2I3", 1,
     Expect::skipped, {kStation}, 1},
    {"T$ 79", {kCode1}, t79("100001", 1, "CONV", kSix, 12200, 2400, 15, -4),
     "3X,3I2,1X,I6,1X,A4,1X,6I6,1X,I5,1X,I5,1X,2I4", 1, Expect::skipped, {kStation}, 1},
    {"T$ 83", {kCode1}, t83("100001", 250, 1, "CONV", kSix, 12200, 2400, 15, -4),
     "3X,3I2,1X,I3,1X,I6,1X,A4,1X,6I6,1X,I5,1X,I5,1X,2I4", 1, Expect::skipped, {kStation}, 1},
    {"$PKLVT", {kCode1}, kPklvt,
     "7X,3I2,1X,I7,1X,I7,1X,I7,1X,I7,1X,I7,1X,I7,1X,I5,1X,I5,1X,I6,1X,I6,1X,A4", 0,
     Expect::skipped, {kStation}, 1},
    {"D$ 51, no version", {kCode1}, d51("100001", 3, 'A', 12, 'B', 4, {10, 20, 30, 40}),
     "3X,3I2,1X,I6,A1,1X,I6,A1,I1,1X,4I6", 1, Expect::skipped, {kStation}, 1},
    {"D$, version 4.0", {kKalvor40, kCode1},
     d51("100001", 3, 'A', 12, 'B', 4, {10, 20, 30, 40}) + " " + num(12200, 6) + " " + num(2400, 6),
     "3X,3I2,1X,I6,A1,1X,I6,A1,I1,1X,4I6,1X,I6,1X,I6", 1, Expect::skipped, {kStation}, 1},
    {"D$ 72, version 5.1", {kKalvor51, kCode1},
     d72("100001", 3, 'A', 12, 'B', 4, {10, 20, 30, 40}, 12200, 2400, 15, -4),
     "3X,3I2,1X,I6,A1,1X,I6,A1,I1,1X,4I6,1X,I5,1X,I5,1X,2I4", 1, Expect::skipped, {kStation}, 1},
    {"D$ 76, version 5.1", {kKalvor51, kCode1},
     d76("100001", 250, d72("100001", 3, 'A', 12, 'B', 4, {10, 20, 30, 40}, 12200, 2400, 15, -4)),
     "3X,3I2,1X,I3,1X,I6,A1,1X,I6,A1,I1,1X,4I6,1X,I5,1X,I5,1X,2I4", 1, Expect::skipped, {kStation}, 1},
    // X$ completes the station of the T$ before it (two geometries).
    {"X$ 34", {kCode21, kStation}, x_rec("100001", {{11, 21, 31, 41}}), "3X,3I2,1X,4I6", 1,
     Expect::skipped, {kStation, x_rec("100001", {{11, 21, 31, 41}})}, 1},
    {"X$ 38", {kCode21, kStation}, x_rec_ms("100001", 250, {{11, 21, 31, 41}}), "3X,3I2,1X,I3,1X,4I6", 1,
     Expect::skipped, {kStation, x_rec("100001", {{11, 21, 31, 41}})}, 1},
    // Two geometries, so that all six I6 fields are read (one geometry
    // reads only the first pair after the angles).
    {"N$", {kCode21}, n_rec("100001", 12200, 2400, {15, -4, 10, 30, 11, 31}),
     "3X,3I2,1X,I5,1X,I5,1X,6I6", 1, Expect::skipped, {kStation, x_rec("100001", {{11, 21, 31, 41}})},
     1},
    {"I$", {kCode1}, "I$100005   25 -15  35 12345  3 12345   250  7500",
     "3X,3I2,1X,3I4,1X,I5,1X,I2,1X,I5,2I6", 1, Expect::skipped, {kStation}, 1},
    {"AS$ 21", {kCode1}, as21("100001", "12.20", "24.5"), "3X,3I2,1X,F5.3,1X,F5.1", 0,
     Expect::skipped, {kStation}, 1},
    {"AS$ 34", {kCode1}, as34("100001", 12200, 2400, 150, -40), "3X,3I2,1X,I5,1X,I5,1X,2I6", 0,
     Expect::skipped, {kStation}, 1},
    {"C$ comment", {kCode1}, c_rec("113010", "A COMMENT"), "3X,3I2,1X,A16", 1, Expect::skipped,
     {kStation}, 1},
    {"C$ identification", {}, c_rec("120000", "KALVOR-1   SNA1234567  SW VERSION 6.2 "), "3X,3I2", 1,
     Expect::skipped, {kCode1, kStation}, 1},
    {"R$", {kCode1}, r_rec({1, 2, 3, 4, 5, 6, 7}), "3X,7I8", 1, Expect::r_error, {kStation}, 1},
    // No error handling is laid down for A$: the run must simply go on.
    {"A$", {kCode1}, a_rec({1, 2, 3}, {4, 5, 6}, 7), "3X,3I6,1X,3I6,1X,I6", 1, Expect::goes_on,
     {kStation}, 1},
};

// The record with column `col` (normalised) replaced by `letter`.
std::string with_letter(const std::string& record, int col, int shift, char letter) {
  std::string bad = record;
  const int index = col - 1 - shift;
  if (index >= 0 && index < static_cast<int>(bad.size())) bad[static_cast<std::size_t>(index)] = letter;
  return bad;
}

std::string normalised120(const std::string& record, int shift) {
  return left((shift ? " " : "") + record, 120);
}

// Records of a length no layout has: a T$ writes the station from the values
// held (for one geometry) with its first geometry converted again, an X$
// writes it with the further geometries converted again. After a skipped
// record they show every field it might have left behind.
const Lines kHeldStationProbe = {"T$100009", "X$100009"};

TEST(BadRawFields, LetterInEveryNumericFieldOfEveryLayout) {
  int variants_tried = 0;
  for (const Layout& layout : kLayouts) {
    SCOPED_TRACE(layout.name);
    const std::vector<Field> fields = numeric_fields(layout.fields);
    ASSERT_FALSE(fields.empty());
    // Every field lies inside the record.
    ASSERT_LE(fields.back().last, static_cast<int>(layout.record.size()) + layout.shift);
    Lines raw = layout.before;
    Lines without_bad = layout.before;  // the same RAW file, the bad records left out
    std::vector<int> bad_lines;
    std::vector<std::string> bad_records;
    for (const Field& f : fields) {
      const std::string bad = with_letter(layout.record, f.last, layout.shift, 'x');
      ASSERT_NE(bad, layout.record) << "column " << f.last;
      raw.push_back(bad);
      bad_lines.push_back(static_cast<int>(raw.size()));
      bad_records.push_back(bad);
      raw.insert(raw.end(), kHeldStationProbe.begin(), kHeldStationProbe.end());
      without_bad.insert(without_bad.end(), kHeldStationProbe.begin(), kHeldStationProbe.end());
    }
    raw.insert(raw.end(), layout.after.begin(), layout.after.end());
    without_bad.insert(without_bad.end(), layout.after.begin(), layout.after.end());
    variants_tried += static_cast<int>(fields.size());

    TempDir dir;
    write_file(dir.file("in.RAW"), raw_text(raw));
    const XlatRun run = run_kalxlat(dir.path(), {"in.RAW", "X"});
    ASSERT_FALSE(run.timed_out);
    EXPECT_EQ(run.status, 0) << numbered(run.lines);
    EXPECT_TRUE(run.has_line("End of file reached.  Exiting...")) << numbered(run.lines);
    switch (layout.expect) {
      case Expect::skipped:
        for (std::size_t k = 0; k < bad_lines.size(); ++k) {
          // Free-form: a blank, the text, line_no in 12, the 120 columns.
          EXPECT_TRUE(run.has_line(" *** Read error in input buffer at " + num(bad_lines[k], 12) +
                                   normalised120(bad_records[k], layout.shift)))
              << "field " << k + 1 << "\n" << numbered(run.lines);
        }
        EXPECT_EQ(run.count_lines_containing("*** Skipping this packet or station"),
                  static_cast<int>(bad_lines.size()))
            << numbered(run.lines);
        break;
      case Expect::r_error:
        EXPECT_EQ(run.count_lines_containing("Error during read of R$ packet"),
                  static_cast<int>(bad_lines.size()))
            << numbered(run.lines);
        break;
      case Expect::goes_on:
        break;
    }
    // Skipped records write nothing and leave nothing behind: every file is
    // the one made when they are left out. (An R$ record that cannot be read
    // still writes its reference line.)
    if (layout.expect != Expect::r_error) {
      TempDir ref;
      write_file(ref.file("in.RAW"), raw_text(without_bad));
      ASSERT_EQ(run_kalxlat(ref.path(), {"in.RAW", "X"}).status, 0);
      const std::set<std::string> files = list_files(ref.path());
      EXPECT_EQ(list_files(dir.path()), files);
      for (const std::string& f : files) {
        if (f == "in.RAW") continue;
        EXPECT_EQ(read_file(dir.file(f)), read_file(ref.file(f))) << f;
      }
    }
    // The good records after them write their stations.
    std::string main_output;
    for (const auto& f : list_files(dir.path())) {
      if (f.size() > 4 && f.substr(f.size() - 4) == ".xyz") main_output = f;
    }
    ASSERT_FALSE(main_output.empty()) << numbered(run.lines);
    const Lines written = read_lines(dir.file(main_output));
    ASSERT_GE(written.size(), layout.stations) << main_output;
  }
  EXPECT_EQ(variants_tried, 184);  // the numeric fields of the 19 layouts
}

// The identification's model code and software version are read from the
// text: a letter in either skips the record.
TEST(BadRawFields, LetterInModelCodeOrVersionSkipsIdentification) {
  const std::string good_text = "KALVOR-1   SNA1234567  SW VERSION 6.2 ";
  struct Case {
    const char* what;
    std::string text;
  };
  const Case cases[] = {
      {"model", "KALVOR-x   SNA1234567  SW VERSION 6.2 "},
      {"version", "KALVOR-1   SNA1234567  SW VERSION x.2 "},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string bad = c_rec("120000", c.text);
    TempDir dir;
    write_file(dir.file("in.RAW"), raw_text({bad, kCode1, kStation}));
    const XlatRun run = run_kalxlat(dir.path(), {"in.RAW", "X"});
    ASSERT_FALSE(run.timed_out);
    EXPECT_EQ(run.status, 0);
    EXPECT_TRUE(run.has_line(" *** Read error in input buffer at " + num(1, 12) + normalised120(bad, 1)))
        << numbered(run.lines);
    EXPECT_EQ(run.count_lines_containing("*** Skipping this packet or station"), 1);
    EXPECT_EQ(read_lines(dir.file("LINE0001.xyz")).size(), 1u);
  }
}

// A letter in a file header: in the date or the time it is fatal (result 2,
// the line number and the normalised record, nothing after it is read); in
// the length code it gives code 4 and the run goes on.
TEST(BadRawFields, LetterInEveryFileHeaderField) {
  const std::string good = header_rec("100000", "LINE0001", "261208", "21");
  // Normalised columns: time 4-9 (three I2), date 20-25 (three I2).
  const std::vector<Field> fatal = numeric_fields("3X,3I2,1X,8X,1X,3I2");
  ASSERT_EQ(fatal.size(), 6u);
  for (const Field& f : fatal) {
    SCOPED_TRACE(f.last);
    const std::string bad = with_letter(good, f.last, 1, 'x');
    TempDir dir;
    write_file(dir.file("in.RAW"), raw_text({kStation, bad, kStation}));
    const XlatRun run = run_kalxlat(dir.path(), {"in.RAW", "X"});
    ASSERT_FALSE(run.timed_out);
    EXPECT_EQ(run.status, 2) << numbered(run.lines);
    EXPECT_TRUE(run.has_line(" *** Fatal read error in input at " + num(2, 12) + normalised120(bad, 1)))
        << numbered(run.lines);
    EXPECT_FALSE(run.has_line("End of file reached.  Exiting..."));
    // The station before the header was written and kept.
    EXPECT_EQ(read_lines(dir.file("Default.xyz")).size(), 1u);
  }
  // Length code "2x": code 4, one geometry, so the station is written.
  TempDir dir;
  write_file(dir.file("in.RAW"), raw_text({header_rec("100000", "LINE0001", "261208", "2x"), kStation}));
  const XlatRun run = run_kalxlat(dir.path(), {"in.RAW", "X"});
  EXPECT_EQ(run.status, 0) << numbered(run.lines);
  EXPECT_TRUE(run.has_line_containing("Sensor Length code for this file is " + num(4, 12)))
      << numbered(run.lines);
  EXPECT_EQ(read_lines(dir.file("LINE0001.xyz")).size(), 1u);
}

}  // namespace
}  // namespace kal::xtest

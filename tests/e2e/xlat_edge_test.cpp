// kalxlat edge cases beyond the plain layouts: the short length-code prompt
// and its rename, surveys across the equator, several types in one
// process, stations before the first file header, SDF and DAT names of
// later files, records the transcription must reject without harm, and
// values that must never reach a file as wrapped or non-finite numbers.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <set>
#include <string>
#include <vector>

#include "e2e/xlat_harness.h"
#include "e2e/xlat_records.h"

namespace kal::xtest {
namespace {

using Files = std::set<std::string>;
using Lines = std::vector<std::string>;

XlatRun run_with_args(const TempDir& dir, const Lines& raw, const std::vector<std::string>& args,
                const std::string& input = "") {
  write_file(dir.file("in.RAW"), raw_text(raw));
  return run_kalxlat(dir.path(), args, input);
}


const std::string kStation1 = t58("100001", 1, "CONV", {11, 22, 1234, -567, 2345, 89});
const std::string kPklvt =
    "$PKLVT,100010,0001500,0020000,-000500,0028000,0000077,0000066,12200,02400,000123,-00045,CONV";
const std::string kGga45N75W =
    "GPGGA,100002,4500.0000,N,07500.0000,W,1,08,0.9,100.0,M,0.0,M,,";

// $PKLVT with no configuration: the short prompt, answer 2 (2.0 m, 2.1 m):
// HC = 20/0.0710612 = 281.45, PC = 28/0.0783449 = 357.39, HI 1.5, PI -0.5;
// station 0+1; X layout for $PKLVT: 3I3 time, V F7.3, T F7.2, F7.2 angles.
const std::string kPklvtCode2 =
    "   281.45     1.50   357.39    -0.50 0 10  0 10 12.200  24.00    0   1.23  -0.45"
    "            0    0.000000     0.000000     0.0  0";

// An empty main output takes the new name with its extension in capitals.
TEST(XlatEdge, ShortPromptRenamesEmptyMainOutput) {
  TempDir dir;
  const XlatRun run = run_with_args(dir, {kPklvt}, {"in.RAW", "X"}, "/\n2\n");
  EXPECT_EQ(run.status, 0) << run.out;
  EXPECT_EQ(run.count_lines_containing("Enter Kalvor Length Code (1, 2, or 4, default=1)"), 1)
      << numbered(run.lines);
  EXPECT_TRUE(run.has_line_containing("Output file: Default.XYZ")) << numbered(run.lines);
  EXPECT_EQ(list_files(dir.path()), (Files{"in.RAW", "Default.XYZ"}));
  expect_lines(dir, "Default.XYZ", {"     1     0" + kPklvtCode2});
}

// A main output that already holds a station is never deleted by the
// rename: both stations stay in it. The CONV station before any
// configuration has no offsets to divide by zero: HC = 1234/10.
TEST(XlatEdge, ShortPromptKeepsMainOutputWithLines) {
  TempDir dir;
  const XlatRun run = run_with_args(dir, {kStation1, kPklvt}, {"in.RAW", "X"}, "/\n2\n");
  EXPECT_EQ(run.status, 0) << run.out;
  EXPECT_EQ(list_files(dir.path()), (Files{"in.RAW", "Default.xyz"}));
  expect_lines(dir, "Default.xyz", {
      "     1     0   123.40    -5.67   234.50     0.89 0 10  0  1.000  0.000    0.0    0"
      "    0.00    0.00            0    0.000000     0.000000     0.0  0",
      "     2     0" + kPklvtCode2,
  });
}

// The rename after the short prompt under every type: an empty main output
// takes the upper-case extension of its own type (X: XYZ, L: LOG, I: ICE,
// the others keep theirs); one that already holds a station keeps its name
// and every line. Type I writes only EMS records, so its stations come from
// an I$ record.
TEST(XlatEdge, ShortPromptNamesTheMainOutputOfEveryType) {
  const std::string ems = "I$100003   25 -15  35 12345  3 12345   250  7500";
  struct Case {
    const char* type;
    bool holds_lines;  // a station written before the prompt
    Files files;
    const char* main;  // nullptr: the type has no main output
    std::size_t main_lines;
  };
  const Case cases[] = {
      {"X", false, {"in.RAW", "Default.XYZ"}, "Default.XYZ", 1},
      {"X", true, {"in.RAW", "Default.xyz"}, "Default.xyz", 2},
      {"G", false, {"in.RAW", "Default.xyz"}, "Default.xyz", 1},
      {"G", true, {"in.RAW", "Default.xyz"}, "Default.xyz", 2},
      // Dat31: a line header and a time header before the first station of
      // a line, then two lines a station.
      {"D", false, {"in.RAW", "Default.G31"}, "Default.G31", 4},
      {"D", true, {"in.RAW", "Default.G31"}, "Default.G31", 6},
      {"L", false, {"in.RAW", "Default.LOG"}, "Default.LOG", 1},
      {"L", true, {"in.RAW", "Default.LOG"}, "Default.LOG", 2},
      {"S", false, {"in.RAW", "Default.SAN"}, "Default.SAN", 2},  // the SAN header line, then the station
      {"S", true, {"in.RAW", "Default.SAN"}, "Default.SAN", 3},
      {"P", false, {"in.RAW", "Default.IDF", "Default.SDF"}, "Default.IDF", 1},
      {"P", true, {"in.RAW", "Default.IDF", "Default.SDF"}, "Default.IDF", 2},
      {"I", false, {"in.RAW", "Default.ICE", "Default.DAT"}, "Default.ICE", 0},
      {"I", true, {"in.RAW", "Default.ICE", "Default.DAT"}, "Default.ICE", 1},
      {"R", false, {"in.RAW"}, nullptr, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.type) + (c.holds_lines ? " after a station" : " on an empty output"));
    TempDir dir;
    Lines raw;
    if (c.holds_lines) raw.push_back(std::string(c.type) == "I" ? ems : kStation1);
    raw.push_back(kPklvt);
    const XlatRun run = run_with_args(dir, raw, {"in.RAW", c.type}, "/\n2\n");
    EXPECT_EQ(run.status, 0) << run.out;
    EXPECT_EQ(run.count_lines_containing("Enter Kalvor Length Code (1, 2, or 4, default=1)"), 1)
        << numbered(run.lines);
    EXPECT_EQ(list_files(dir.path()), c.files) << numbered(run.lines);
    if (c.main != nullptr) {
      EXPECT_TRUE(run.has_line_containing(std::string("Output file: ") + c.main)) << numbered(run.lines);
      EXPECT_EQ(read_lines(dir.file(c.main)).size(), c.main_lines);
    }
  }
}

// A survey across the equator keeps zone 18 (chosen from the mean 0.33 N,
// 75 W) and projects each station in its own hemisphere. On the central
// meridian easting is 500000 and northing k0*M: 1 N -> 110530.2, 1 S ->
// 10000000 - 110530.2 = 9889469.8.
TEST(XlatEdge, EquatorCrossingKeepsEachHemisphere) {
  const auto gga = [](const char* time, const char* ns) {
    return g_rec(std::string("GPGGA,") + time + ",0100.0000," + ns +
                 ",07500.0000,W,1,08,0.9,10.0,M,0.0,M,,");
  };
  TempDir dir;
  const XlatRun run = run_with_args(dir,
                              {header_rec("100000", "EQUATOR", "261208", "1"),
                               gga("100001", "N"), t58("100002", 1, "CONV", {0, 0, 1234, 0, 2345, 0}),
                               gga("100003", "S"), t58("100004", 2, "CONV", {0, 0, 1234, 0, 2345, 0}),
                               gga("100005", "N"), t58("100006", 3, "CONV", {0, 0, 1234, 0, 2345, 0})},
                              {"in.RAW", "S"});
  EXPECT_EQ(run.status, 0) << run.out;
  expect_lines(dir, "EQUATOR.san", {
      "    -9        0.20",
      "    500000.0     110530.2     0.00   123.40   234.50    1.00000000  -75.00000000    36001000",
      "    500000.0    9889469.8     0.00   123.40   234.50   -1.00000000  -75.00000000    36003000",
      "    500000.0     110530.2     0.00   123.40   234.50    1.00000000  -75.00000000    36005000",
  });
}

// Several letters in one process: each call does what it does alone (the
// later calls skip the pre-pass but keep its zone), and the exit status is
// the first non-zero result while the other letters still run.
TEST(XlatEdge, SeveralTypesInOneProcess) {
  const Lines raw = {header_rec("100000", "LINE0001", "261208", "1"), g_rec(kGga45N75W),
                     kStation1, r_rec({1, 2, 3, 4, 5, 6, 7})};
  TempDir alone_s, alone_x, both;
  EXPECT_EQ(run_with_args(alone_s, raw, {"in.RAW", "S"}).status, 0);
  EXPECT_EQ(run_with_args(alone_x, raw, {"in.RAW", "X"}).status, 0);
  const XlatRun run = run_with_args(both, raw, {"in.RAW", "XS"});
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.count_lines_containing("*** Transcription v1.22 ***"), 2);
  for (const char* f : {"LINE0001.san", "LINE0001.xyz", "LINE0001.GPS", "Default.RAW"}) {
    EXPECT_TRUE(file_exists(both.file(f))) << f;
    const std::string alone = std::string(f) == "LINE0001.san" ? alone_s.file(f) : alone_x.file(f);
    EXPECT_EQ(read_file(both.file(f)), read_file(alone)) << f;
  }
  TempDir bad;
  const XlatRun mixed = run_with_args(bad, raw, {"in.RAW", "XQS"});
  EXPECT_EQ(mixed.status, 5);
  EXPECT_TRUE(file_exists(bad.file("LINE0001.xyz")));
  EXPECT_TRUE(file_exists(bad.file("LINE0001.san")));
}

// A station written before an early file header keeps the Default file.
TEST(XlatEdge, StationBeforeFirstHeaderKeepsDefaultFile) {
  TempDir dir;
  const XlatRun run = run_with_args(dir,
                              {kStation1, header_rec("100000", "LINE0001", "261208", "1"),
                               t58("100002", 2, "CONV", {0, 0, 10, 20, 30, 40})},
                              {"in.RAW", "X"});
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(list_files(dir.path()), (Files{"in.RAW", "Default.xyz", "LINE0001.xyz"}));
  EXPECT_EQ(read_lines(dir.file("Default.xyz")).size(), 1u);
  EXPECT_EQ(read_lines(dir.file("LINE0001.xyz")).size(), 1u);
}

// Type R with a file header keeps only its side files.
TEST(XlatEdge, TypeRWithFileHeaderKeepsSideFiles) {
  TempDir dir;
  const XlatRun run = run_with_args(dir,
                              {header_rec("100000", "LINE0001", "261208", "1"),
                               c_rec("100001", "R COMMENT"), g_rec(kGga45N75W), kStation1,
                               r_rec({1, 2, 3, 4, 5, 6, 7})},
                              {"in.RAW", "R"});
  EXPECT_EQ(run.status, 0) << run.out;
  EXPECT_EQ(list_files(dir.path()),
            (Files{"in.RAW", "Default.RAW", "LINE0001.GPS", "LINE0001.CMT"}));
  expect_lines(dir, "LINE0001.CMT", {"    1 R COMMENT       "});
}

// Type P: survey LINE after LINE0001 gets its own SDF file.
TEST(XlatEdge, TypePWritesSdfForShorterNameToo) {
  TempDir dir;
  const XlatRun run = run_with_args(dir,
                              {header_rec("100000", "LINE0001", "261208", "1"), kStation1,
                               header_rec("100100", "LINE", "261208", "2"),
                               t58("100101", 2, "CONV", {0, 0, 10, 20, 30, 40})},
                              {"in.RAW", "P"});
  EXPECT_EQ(run.status, 0) << run.out;
  EXPECT_EQ(list_files(dir.path()), (Files{"in.RAW", "LINE0001.idf", "LINE0001.SDF", "LINE.idf",
                                           "LINE.SDF"}));
  // Code 2: one geometry, 2.0 m and 2.1 m.
  expect_lines(dir, "LINE.SDF", {
      "            2",
      "  1  1   9000. 2.00   3 0.00 1.00000 0.00000  1.0  1.0",
      "  0  1   9000. 2.10   4 0.00 1.00000 0.00000  1.0  1.0",
  });
}

// Type I with a repeated survey name: the DAT file follows the unique name.
TEST(XlatEdge, TypeIRepeatedNameGivesUniqueDatFile) {
  const std::string ems = "I$100005   25 -15  35 12345  3 12345   250  7500";
  TempDir dir;
  const XlatRun run = run_with_args(dir,
                              {c_rec("120000", "KALVOR-1   SNA1234567  SW VERSION 6.2 "),
                               header_rec("100000", "LINE0001", "261208", "1"), ems,
                               header_rec("101502", "LINE0001", "261208", "1"), ems},
                              {"in.RAW", "I"});
  EXPECT_EQ(run.status, 0) << run.out;
  EXPECT_EQ(list_files(dir.path()), (Files{"in.RAW", "LINE0001.ice", "LINE0001.DAT",
                                           "LINE0001_101502.ice", "LINE0001_101502.DAT"}));
  EXPECT_EQ(read_file(dir.file("LINE0001.DAT")).size(), 35u);
  EXPECT_EQ(read_file(dir.file("LINE0001_101502.DAT")).size(), 35u);
}

// Below version 6.1 an I$ record keeps pitch, roll and height, and the
// console says so once; channels are scaled all the same.
TEST(XlatEdge, OldEmsVersionKeepsAnglesAndHeight) {
  TempDir dir;
  const XlatRun run = run_with_args(dir,
                              {c_rec("120000", "KALVOR-1   SNA1234567  SW VERSION 5.1a"),
                               header_rec("100000", "LINE0001", "261208", "1"), g_rec(kGga45N75W),
                               "I$100005   25 -15  35 12345  3 12345   250  7500"},
                              {"in.RAW", "I"});
  EXPECT_EQ(run.status, 0) << run.out;
  EXPECT_TRUE(run.has_line_containing("EMS software version change")) << numbered(run.lines);
  const Lines ice = read_lines(dir.file("LINE0001.ice"));
  ASSERT_EQ(ice.size(), 1u);
  ASSERT_GE(ice[0].size(), 88u);
  EXPECT_EQ(ice[0].substr(0, 58), "     45.000000    -75.000000  3   1.2345   2.5000   7.5000");
  // I2 1, height 0.2 (F7.2), pitch 0, roll 0: kept.
  EXPECT_EQ(ice[0].substr(65, 23), " 1   0.20   0.00   0.00");
  const std::string dat = read_file(dir.file("LINE0001.DAT"));
  ASSERT_EQ(dat.size(), 35u);
  EXPECT_EQ(dat.substr(12, 4), std::string("\xcd\xcc\x4c\x3e", 4));  // 0.2f
}

// Records the transcription rejects leave the run and the values alone:
// an O$ index outside 1..3, an I$ record with six channels, a G$ record
// without a GGA sentence (its text after the tag follows "$GPG").
TEST(XlatEdge, RejectedRecordsChangeNothing) {
  const std::string plain =
      "     1     1   123.40    -5.67   234.50     0.89 0 10  0  1.000  0.000    0.0    0"
      "    0.00    0.00            0    0.000000     0.000000     0.0  0";
  for (const std::string& o : {std::string("O$ 4    100   200   300   400"),
                               std::string("O$ 0    100   200   300   400")}) {
    TempDir dir;
    const XlatRun run = run_with_args(
        dir, {header_rec("100000", "LINE0001", "261208", "1"), o, kStation1}, {"in.RAW", "X"});
    EXPECT_EQ(run.status, 0) << o;
    expect_lines(dir, "LINE0001.xyz", {plain});
  }
  {
    TempDir dir;
    const XlatRun run = run_with_args(dir,
                                {c_rec("120000", "KALVOR-1   SNA1234567  SW VERSION 6.2 "),
                                 header_rec("100000", "LINE0001", "261208", "1"),
                                 "I$100005   25 -15  35 12345  6 12345   250  7500   100   200   300"},
                                {"in.RAW", "I"});
    EXPECT_EQ(run.status, 0) << run.out;
    EXPECT_TRUE(read_lines(dir.file("LINE0001.ice")).empty());
  }
  {
    TempDir dir;
    const XlatRun run = run_with_args(
        dir, {header_rec("100000", "LINE0001", "261208", "1"), "G$HELLO WORLD", kStation1},
        {"in.RAW", "X"});
    EXPECT_EQ(run.status, 0) << run.out;
    expect_lines(dir, "LINE0001.GPS", {"$GPGHELLO WORLD"});
    expect_lines(dir, "LINE0001.xyz", {plain});
  }
}

// A longitude of 999 degrees (a garbled receiver field with a good
// checksum) gives 9,990,000,000 in 1e-7 degrees: clamped to 2147483647 in
// the DAT record, and no text file gets "nan" or "inf".
TEST(XlatEdge, OutOfRangeValuesAreClampedNotWrapped) {
  TempDir dir;
  const XlatRun run = run_with_args(
      dir,
      {c_rec("120000", "KALVOR-1   SNA1234567  SW VERSION 6.2 "),
       header_rec("100000", "LINE0001", "261208", "1"),
       g_rec("GPGGA,100002,4500.0000,N,99900.0000,E,1,08,0.9,100.0,M,0.0,M,,"),
       "I$100005   25 -15  35 12345  3 12345   250  7500"},
      {"in.RAW", "I"});
  ASSERT_FALSE(run.timed_out);
  EXPECT_EQ(run.status, 0) << run.out << run.err;
  const std::string dat = read_file(dir.file("LINE0001.DAT"));
  ASSERT_EQ(dat.size(), 35u);
  EXPECT_EQ(dat.substr(0, 4), std::string("\x80\x74\xD2\x1A", 4));  // 45 degrees
  EXPECT_EQ(dat.substr(4, 4), std::string("\xFF\xFF\xFF\x7F", 4));  // clamped
  for (const auto& f : list_files(dir.path())) {
    if (f == "LINE0001.DAT" || f == "in.RAW") continue;
    std::string text = read_file(dir.file(f));
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    EXPECT_EQ(text.find("nan"), std::string::npos) << f;
    EXPECT_EQ(text.find("inf"), std::string::npos) << f;
  }
}

// A height reply that is not a number is asked again.
TEST(XlatEdge, NonNumericHeightReplyAsksAgain) {
  TempDir dir;
  const XlatRun run = run_with_args(dir, {kStation1}, {"in.RAW", "S"}, "abc\n0.35\n");
  EXPECT_EQ(run.status, 0);
  const Lines san = read_lines(dir.file("Default.SAN"));
  ASSERT_FALSE(san.empty());
  EXPECT_EQ(san[0], "    -9        0.35");
}

// An output that cannot be opened is result 4: at start-up the message
// names no file yet, at a file switch the first out_name_len (12)
// characters of the new name. A folder in the way makes the open fail.
TEST(XlatEdge, OutputThatCannotBeOpenedIsResultFour) {
  struct Case {
    std::string in_the_way;
    std::string message;
  };
  const Case cases[] = {
      {"Default.xyz", " *** Open error for outfile="},
      {"LINE0001.xyz", " *** Open error for outfile=LINE0001.xyz"},
      {"LINE0001.GPS", ""},
      {"LINE0001.CMT", ""},
  };
  const std::string content =
      raw_text({header_rec("100000", "LINE0001", "261208", "1"), kStation1});
  for (const Case& c : cases) {
    TempDir dir;
    ASSERT_EQ(std::system(("mkdir '" + dir.file(c.in_the_way) + "'").c_str()), 0);
    write_file(dir.file("in.RAW"), content);
    const XlatRun run = run_kalxlat(dir.path(), {"in.RAW", "X"});
    ASSERT_FALSE(run.timed_out) << c.in_the_way;
    EXPECT_EQ(run.status, 4) << c.in_the_way << "\n" << numbered(run.lines);
    if (!c.message.empty()) {
      EXPECT_TRUE(run.has_line_containing(c.message)) << numbered(run.lines);
    }
    EXPECT_EQ(read_file(dir.file("in.RAW")), content);
  }
}

// A RAW path that is a folder cannot be read as a RAW file.
TEST(XlatEdge, RawPathThatIsAFolderFails) {
  TempDir dir;
  ASSERT_EQ(std::system(("mkdir '" + dir.file("folder.RAW") + "'").c_str()), 0);
  const XlatRun run = run_kalxlat(dir.path(), {"folder.RAW", "X"});
  ASSERT_FALSE(run.timed_out);
  EXPECT_TRUE(run.status == 1 || run.status == 3) << run.status << "\n" << numbered(run.lines);
}

// An empty RAW file: end of file at once, the (empty) main output kept.
TEST(XlatEdge, EmptyRawFile) {
  TempDir dir;
  const XlatRun run = run_with_args(dir, {}, {"in.RAW", "X"});
  EXPECT_EQ(run.status, 0);
  EXPECT_TRUE(run.has_line("End of file reached.  Exiting..."));
  EXPECT_EQ(list_files(dir.path()), (Files{"in.RAW", "Default.xyz"}));
  EXPECT_EQ(read_file(dir.file("Default.xyz")), "");
}

// Records written with the tag already in column 2 read like records with
// the tag in column 1; a line is read as its first 120 columns, so a file
// header tag beyond them does not count.
TEST(XlatEdge, TagColumnsAndLineLength) {
  const Lines tag_in_1 = {header_rec("100000", "LINE0001", "261208", "1"), kStation1};
  const Lines tag_in_2 = {" " + tag_in_1[0], " " + kStation1};
  TempDir a, b;
  EXPECT_EQ(run_with_args(a, tag_in_1, {"in.RAW", "X"}).status, 0);
  EXPECT_EQ(run_with_args(b, tag_in_2, {"in.RAW", "X"}).status, 0);
  EXPECT_EQ(list_files(b.path()), list_files(a.path()));
  EXPECT_EQ(read_file(b.file("LINE0001.xyz")), read_file(a.file("LINE0001.xyz")));

  TempDir c;
  const std::string long_station = left(kStation1, 124) + "H$101502 OTHER    261208 1";
  const XlatRun run = run_with_args(c, {tag_in_1[0], long_station}, {"in.RAW", "X"});
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(list_files(c.path()), (Files{"in.RAW", "LINE0001.xyz"}));
  EXPECT_EQ(read_file(c.file("LINE0001.xyz")), read_file(a.file("LINE0001.xyz")));
}

// Sentences with a wrong checksum take no part: the zone comes from the
// good one (45 N 75 W -> 18; with 63 W averaged in it would be 19), the
// station after the bad one keeps the good position, and the GPS file
// still reproduces both sentences.
TEST(XlatEdge, WrongChecksumSentencesAreNotUsed) {
  std::string bad = "G$" + with_checksum("GPGGA,100003,4500.0000,N,06300.0000,W,1,08,0.9,100.0,M,0.0,M,,");
  bad.back() = bad.back() == '0' ? '1' : '0';
  TempDir dir;
  const XlatRun run = run_with_args(dir,
                              {header_rec("100000", "LINE0001", "261208", "1"), g_rec(kGga45N75W),
                               t58("100004", 1, "CONV", {0, 0, 1234, 0, 2345, 0}), bad,
                               t58("100005", 2, "CONV", {0, 0, 1234, 0, 2345, 0})},
                              {"in.RAW", "S"});
  EXPECT_EQ(run.status, 0) << run.out;
  EXPECT_TRUE(run.has_line_containing(" get UTM Zone Number           18")) << numbered(run.lines);
  expect_lines(dir, "LINE0001.san", {
      "    -9        0.20",
      "    500000.0    4982950.4     0.00   123.40   234.50   45.00000000  -75.00000000    36002000",
      "    500000.0    4982950.4     0.00   123.40   234.50   45.00000000  -75.00000000    36002000",
  });
  expect_lines(dir, "LINE0001.GPS", {"$" + with_checksum(kGga45N75W), "$" + bad.substr(2)});
}

// A survey named "Default" must not overwrite the Default files written
// before its file header (main output, comments, reference copy).
TEST(XlatEdge, SurveyNamedDefaultOverwritesNothing) {
  TempDir dir;
  const XlatRun run = run_with_args(dir,
                              {c_rec("095900", "BEFORE"), kStation1, r_rec({1, 2, 3, 4, 5, 6, 7}),
                               header_rec("100000", "Default", "261208", "1"),
                               c_rec("100001", "AFTER"),
                               t58("100002", 2, "CONV", {0, 0, 10, 20, 30, 40}),
                               r_rec({8, 9, 10, 11, 12, 13, 14})},
                              {"in.RAW", "X"});
  EXPECT_EQ(run.status, 0) << run.out;
  const Files files = list_files(dir.path());
  std::vector<std::string> stations, comments;
  for (const auto& f : files) {
    const std::string ext = f.size() > 4 ? f.substr(f.size() - 4) : "";
    for (const auto& l : read_lines(dir.file(f))) {
      if (ext == ".xyz") stations.push_back(l.substr(0, 6));
      if (ext == ".CMT") comments.push_back(l);
    }
  }
  std::sort(stations.begin(), stations.end());
  std::sort(comments.begin(), comments.end());
  EXPECT_EQ(stations, (std::vector<std::string>{"     1", "     2"})) << numbered(run.lines);
  EXPECT_EQ(comments, (std::vector<std::string>{"    1 AFTER           ", "    1 BEFORE          "}));
  const auto first = read_lines(dir.file("Default.xyz"));
  ASSERT_EQ(first.size(), 1u);
  EXPECT_EQ(first[0].substr(0, 6), "     1");
  EXPECT_EQ(read_lines(dir.file("Default.CMT")), std::vector<std::string>{"    1 BEFORE          "});
  EXPECT_EQ(read_lines(dir.file("Default.RAW")).size(), 2u);
}

}  // namespace
}  // namespace kal::xtest

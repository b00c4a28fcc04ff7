// kalxlat as a field crew meets it: start-up dialogue, output file names,
// file switches, keep/delete rules, result codes, and the safety of names
// taken from the RAW file.
#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <string>
#include <vector>

#include "e2e/xlat_harness.h"
#include "e2e/xlat_records.h"

namespace kal::xtest {
namespace {

using Files = std::set<std::string>;

// The start-up lines: empty line, banner, empty line, the height in free
// form (one leading blank; a 32-bit real as G15.7: 0.2 lies in [0.1, 1) so
// F11.7 and four blanks, "  0.2000000    "), the prompt.
const std::vector<std::string> kStartLines = {
    "",
    "*** Transcription v1.22 ***",
    "",
    " Default/user-set instrument height (at axis of sensor) is   0.2000000    ",
    "Enter Sensor height manually or type / followed by <ENTER> to accept this value ",
};

// One single-geometry CONV station at 10:00:01 and its XYZ line after a
// file header (LineNumber 1; Voltage and Temperature zeroed by the switch).
const std::string kStation1 = t58("100001", 1, "CONV", {11, 22, 1234, -567, 2345, 89});
const std::string kXyzStation1 =
    "     1"            // StationNumber I6
    "     1"            // LineNumber I6 (set to 1 by the file header)
    "   123.40"         // HC = 1234/10, F9.2
    "    -5.67"         // HI = -567/100
    "   234.50"         // PC = 2345/10
    "     0.89"         // PI = 89/100
    " 0"                // MarkDigit I2
    " 10  0"            // Hour, Minute I3
    "  1.000"           // seconds 1 + 0/1000, F7.3
    "  0.000"           // Voltage F7.3
    "    0.0"           // Temperature F7.1
    " "                 // 1X
    "   0"              // CommentNumber I4
    "    0.00    0.00"  // Pitch, Roll F8.2 (T$ station)
    " "                 // 1X
    "           0"      // GPS time I12
    "    0.000000"      // latitude F12.6
    " "
    "    0.000000"      // longitude F12.6
    " "
    "    0.0"           // altitude F7.1
    " "
    " 0";               // fix quality I2

// Same readings with the station number and time changed and a comment.
std::string xyz_line(const std::string& station, const std::string& hour_minute,
                     const std::string& seconds, const std::string& comment) {
  return station + "     1" "   123.40    -5.67   234.50     0.89" " 0" + hour_minute + seconds +
         "  0.000    0.0 " + comment + "    0.00    0.00" " " "           0" "    0.000000"
         " " "    0.000000" " " "    0.0" " " " 0";
}

// The UTM example position, 45 N 75 W, as a GGA sentence at 10:00:02.
const std::string kGga45N75W =
    "GPGGA,100002,4500.0000,N,07500.0000,W,1,08,0.9,100.0,M,0.0,M,,";
// kStation1 after that sentence and a comment (slot 1): the GPS fields are
// time 10:00:02 = 36,002,000 ms (I12), 45 + 0/60 and -(75 + 0/60) degrees
// (F12.6), altitude "100.0" read as 100.0 (F7.1), fix 1 (I2).
const std::string kXyzStation1Gps =
    "     1     1   123.40    -5.67   234.50     0.89 0 10  0  1.000  0.000    0.0 "
    "   1"                          // CommentNumber
    "    0.00    0.00"              // Pitch, Roll
    " "
    "    36002000"                  // GPS time I12
    "   45.000000"                  // latitude F12.6
    " "
    "  -75.000000"                  // longitude F12.6
    " "
    "  100.0"                       // altitude F7.1
    " "
    " 1";                           // fix I2

// Lines `want` appear in `run` in this order (other lines may stand between).
void expect_in_order(const XlatRun& run, const std::vector<std::string>& want) {
  int at = 0;
  for (const auto& w : want) {
    const int i = run.index_of(w, at);
    EXPECT_GE(i, 0) << "missing console line [" << w << "] after line " << at << "\n"
                    << numbered(run.lines);
    if (i >= 0) at = i + 1;
  }
}

XlatRun run_in(const TempDir& dir, const std::vector<std::string>& raw,
               const std::vector<std::string>& args, const std::string& input = "") {
  write_file(dir.file("in.RAW"), raw_text(raw));
  return run_kalxlat(dir.path(), args, input);
}

TEST(XlatDriver, ExecutableIsBuilt) {
  ASSERT_TRUE(file_exists(kalxlat_path())) << kalxlat_path();
}

// A first line that is a file header: the Default files go, LINE0001.xyz
// holds the station, empty side files of LINE0001 are deleted at the end.
TEST(XlatDriver, FirstLineFileHeaderTypeX) {
  TempDir dir;
  const XlatRun run = run_in(dir, {header_rec("100000", "LINE0001", "261208", "1"), kStation1},
                             {"in.RAW", "X"});
  ASSERT_FALSE(run.timed_out);
  EXPECT_EQ(run.status, 0) << run.out << run.err;
  EXPECT_EQ(list_files(dir.path()), (Files{"in.RAW", "LINE0001.xyz"}));
  EXPECT_EQ(read_lines(dir.file("LINE0001.xyz")), std::vector<std::string>{kXyzStation1});
  std::vector<std::string> dialogue = kStartLines;
  // Free form: one blank, the text, out_name in 19 characters; the length
  // code as a 32-bit integer in 12.
  dialogue.push_back("    Output file: LINE0001.xyz       ");
  dialogue.push_back("    Sensor Length code for this file is            1");
  dialogue.push_back("End of file reached.  Exiting...");
  expect_in_order(run, dialogue);
}

// Lower-case type letters are the same letters: byte-identical files.
TEST(XlatDriver, LowerCaseTypeLetterSameAsUpper) {
  const std::vector<std::string> raw = {header_rec("100000", "LINE0001", "261208", "1"),
                                        c_rec("100000", "FIRST COMMENT"), kStation1};
  struct Case {
    const char* type;
    const char* main_file;
  };
  for (const Case c : {Case{"x", "LINE0001.xyz"}, Case{"s", "LINE0001.san"},
                       Case{"l", "LINE0001.log"}}) {
    TempDir lower, upper;
    std::string up = c.type;
    up[0] = static_cast<char>(up[0] - 'a' + 'A');
    const XlatRun a = run_in(lower, raw, {"in.RAW", c.type});
    const XlatRun b = run_in(upper, raw, {"in.RAW", up});
    EXPECT_EQ(a.status, 0) << c.type;
    EXPECT_EQ(b.status, 0) << c.type;
    EXPECT_EQ(list_files(lower.path()), list_files(upper.path())) << c.type;
    EXPECT_TRUE(file_exists(lower.file(c.main_file))) << c.type;
    for (const auto& f : list_files(upper.path()))
      EXPECT_EQ(read_file(lower.file(f)), read_file(upper.file(f))) << c.type << " " << f;
  }
}

// A second file header with a survey name already used gets "_" and its
// own time as zero-filled hhmmss; the comment file follows the main name.
TEST(XlatDriver, RepeatedSurveyNameGetsTimeSuffix) {
  TempDir dir;
  const XlatRun run = run_in(dir,
                             {header_rec("100000", "LINE0001", "261208", "1"),
                              c_rec("100000", "FIRST COMMENT"), kStation1,
                              header_rec("101502", "LINE0001", "261208", "1"),
                              c_rec("101505", "SECOND COMMENT"),
                              t58("101510", 2, "CONV", {11, 22, 1234, -567, 2345, 89})},
                             {"in.RAW"});
  EXPECT_EQ(run.status, 0) << run.out;
  EXPECT_EQ(list_files(dir.path()), (Files{"in.RAW", "LINE0001.xyz", "LINE0001.CMT",
                                           "LINE0001_101502.xyz", "LINE0001_101502.CMT"}));
  // Comment number 1 in both files: the table starts empty in each file.
  EXPECT_EQ(read_lines(dir.file("LINE0001.xyz")),
            std::vector<std::string>{xyz_line("     1", " 10  0", "  1.000", "   1")});
  EXPECT_EQ(read_lines(dir.file("LINE0001_101502.xyz")),
            std::vector<std::string>{xyz_line("     2", " 10 15", " 10.000", "   1")});
  // I5 slot number, one blank, the 16 characters of the upper-case text.
  EXPECT_EQ(read_lines(dir.file("LINE0001.CMT")), std::vector<std::string>{"    1 FIRST COMMENT   "});
  EXPECT_EQ(read_lines(dir.file("LINE0001_101502.CMT")),
            std::vector<std::string>{"    1 SECOND COMMENT  "});
  EXPECT_TRUE(run.has_line("    Output file: LINE0001_101502.xyz")) << numbered(run.lines);
}

// A short survey name: every file of the set is named after it, and a
// repeated short name gets the same zero-filled suffix (10:05:02).
TEST(XlatDriver, ShortSurveyNameNamesEveryFile) {
  TempDir dir;
  const std::string gga = kGga45N75W;
  const XlatRun run = run_in(dir,
                             {header_rec("100000", "AB", "261208", "1"),
                              c_rec("100001", "AB COMMENT"), g_rec(gga),
                              a_rec({12345, 0, -10000}, {1, 2, 3}, 250), kStation1,
                              header_rec("100502", "AB", "261208", "1"),
                              t58("100503", 2, "CONV", {11, 22, 1234, -567, 2345, 89})},
                             {"in.RAW", "X"});
  EXPECT_EQ(run.status, 0) << run.out;
  EXPECT_EQ(list_files(dir.path()),
            (Files{"in.RAW", "AB.xyz", "AB.GPS", "AB.XYX", "AB.CMT", "AB_100502.xyz"}));
  EXPECT_EQ(read_lines(dir.file("AB.GPS")), std::vector<std::string>{"$" + with_checksum(gga)});
  EXPECT_EQ(read_lines(dir.file("AB.CMT")), std::vector<std::string>{"    1 AB COMMENT      "});
  EXPECT_EQ(read_lines(dir.file("AB.XYX")).size(), 1u);
  EXPECT_EQ(read_lines(dir.file("AB_100502.xyz")).size(), 1u);
}

// Without any file header the Default main output keeps the stations; the
// empty side files (XYX, CMT, GPS, reference copy) are deleted.
TEST(XlatDriver, NoFileHeaderKeepsDefaultOutput) {
  TempDir dir;
  const XlatRun run = run_in(dir, {kStation1}, {"in.RAW"});
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(list_files(dir.path()), (Files{"in.RAW", "Default.xyz"}));
  // LineNumber 0: no file header set it.
  std::string line = kXyzStation1;
  line.replace(6, 6, "     0");
  EXPECT_EQ(read_lines(dir.file("Default.xyz")), std::vector<std::string>{line});
}

TEST(XlatDriver, EndOfDataRecordStopsTheRun) {
  TempDir dir;
  const XlatRun run = run_in(dir,
                             {header_rec("100000", "LINE0001", "261208", "1"), kStation1, "Z$",
                              t58("100009", 9, "CONV", {1, 2, 3, 4, 5, 6})},
                             {"in.RAW"});
  EXPECT_EQ(run.status, 0);
  EXPECT_TRUE(run.has_line("   Normal end of data encountered.")) << numbered(run.lines);
  EXPECT_FALSE(run.has_line("End of file reached.  Exiting..."));
  EXPECT_EQ(read_lines(dir.file("LINE0001.xyz")), std::vector<std::string>{kXyzStation1});
}

TEST(XlatDriver, UnknownTypeLetterIsResultFive) {
  TempDir dir;
  const XlatRun run = run_in(dir, {kStation1}, {"in.RAW", "Q"});
  EXPECT_EQ(run.status, 5);
  expect_in_order(run, {"*** Error:  not an allowed output type ",
                        "  You must use X, G, D or L as second command-line argument."});
  EXPECT_EQ(list_files(dir.path()), Files{"in.RAW"});
}

TEST(XlatDriver, MissingRawFileIsResultThree) {
  TempDir dir;
  const XlatRun run = run_kalxlat(dir.path(), {"missing.RAW", "X"});
  EXPECT_EQ(run.status, 3);
  // Told before any prompt, with the system's reason, and only that.
  EXPECT_EQ(run.lines, std::vector<std::string>{"cannot open missing.RAW: No such file or directory"})
      << numbered(run.lines);
  EXPECT_TRUE(list_files(dir.path()).empty());
}

// An unreadable date or time field of a file header is fatal: result 2 and
// the line number (I12) followed by the normalised record.
TEST(XlatDriver, UnreadableFileHeaderFieldIsResultTwo) {
  for (const std::string& bad : {header_rec("100000", "LINE0001", "26AB08", "1"),
                                 header_rec("10x000", "LINE0001", "261208", "1")}) {
    TempDir dir;
    const XlatRun run = run_in(dir, {kStation1, bad}, {"in.RAW"});
    EXPECT_EQ(run.status, 2) << bad;
    EXPECT_TRUE(run.has_line_containing(" *** Fatal read error in input at            2 " + bad))
        << numbered(run.lines);
  }
}

// Outputs land beside a RAW file in a sub-folder (folder part up to the
// last "/").
TEST(XlatDriver, OutputsBesideRawInSubFolder) {
  TempDir dir;
  const std::string sub = dir.file("sub/dir");
  ASSERT_EQ(std::system(("mkdir -p '" + sub + "'").c_str()), 0);
  write_file(sub + "/in.RAW",
             raw_text({header_rec("100000", "LINE0001", "261208", "1"), kStation1}));
  const XlatRun run = run_kalxlat(dir.path(), {"sub/dir/in.RAW", "X"});
  EXPECT_EQ(run.status, 0) << run.out;
  EXPECT_EQ(list_files(dir.path()), Files{"sub"});
  EXPECT_EQ(list_files(sub), (Files{"in.RAW", "LINE0001.xyz"}));
  EXPECT_EQ(read_lines(sub + "/LINE0001.xyz"), std::vector<std::string>{kXyzStation1});
}

// Height: command line, prompt answers, and what the SAN header shows
// (-9 as I6, sensor_height as F12.2).
TEST(XlatDriver, SensorHeightFromCommandLineAndPrompt) {
  struct Case {
    std::vector<std::string> args;
    std::string input;
    std::string shown;       // free-form G15.7 of the height before the prompt
    std::string san_header;  // the height used
  };
  const std::string deflt = " Default/user-set instrument height (at axis of sensor) is   0.2000000    ";
  // 1.5 lies in [1, 10): F11.6 and four blanks.
  const std::string given = " Default/user-set instrument height (at axis of sensor) is    1.500000    ";
  const Case cases[] = {
      {{"in.RAW", "S"}, "", deflt, "    -9        0.20"},
      {{"in.RAW", "S"}, "/\n", deflt, "    -9        0.20"},
      {{"in.RAW", "S"}, "\n\n0.35\n", deflt, "    -9        0.35"},
      {{"in.RAW", "S", "1.5"}, "", given, "    -9        1.50"},
      {{"in.RAW", "S", "1.5"}, "/\n", given, "    -9        1.50"},
      {{"in.RAW", "S", "1.5"}, "0.75\n", given, "    -9        0.75"},
  };
  for (const Case& c : cases) {
    TempDir dir;
    const XlatRun run = run_in(dir, {kStation1}, c.args, c.input);
    EXPECT_EQ(run.status, 0) << c.input;
    EXPECT_TRUE(run.has_line(c.shown)) << c.input << "\n" << numbered(run.lines);
    const auto san = read_lines(dir.file("Default.SAN"));
    ASSERT_FALSE(san.empty()) << c.input;
    EXPECT_EQ(san[0], c.san_header) << c.input;
  }
}

// Windows line ends: the CR is not part of the record, so the files are
// the same as from LF lines.
TEST(XlatDriver, CrLfRawLinesReadLikeLf) {
  const std::vector<std::string> raw = {header_rec("100000", "LINE0001", "261208", "1"),
                                        c_rec("100000", "FIRST COMMENT"), kStation1};
  TempDir lf, crlf;
  write_file(lf.file("in.RAW"), raw_text(raw, "\n"));
  write_file(crlf.file("in.RAW"), raw_text(raw, "\r\n"));
  const XlatRun a = run_kalxlat(lf.path(), {"in.RAW"});
  const XlatRun b = run_kalxlat(crlf.path(), {"in.RAW"});
  EXPECT_EQ(a.status, 0);
  EXPECT_EQ(b.status, 0);
  EXPECT_EQ(list_files(crlf.path()), (Files{"in.RAW", "LINE0001.xyz", "LINE0001.CMT"}));
  EXPECT_EQ(read_lines(crlf.file("LINE0001.xyz")),
            std::vector<std::string>{xyz_line("     1", " 10  0", "  1.000", "   1")});
  EXPECT_EQ(read_lines(crlf.file("LINE0001.CMT")),
            std::vector<std::string>{"    1 FIRST COMMENT   "});
  EXPECT_FALSE(b.has_line_containing("packet error")) << numbered(b.lines);
}

// Survey names from the RAW file never reach outside the RAW folder:
// unsafe characters become "_" and one warning line is printed.
TEST(XlatDriver, UnsafeSurveyNamesStayInFolder) {
  struct Case {
    std::string name;      // the 8-character survey name field
    std::string expected;  // stem of the files, "" when not fixed by the rule
  };
  const Case cases[] = {
      {"a/b", "a_b"},     {"a\\b", "a_b"},       {std::string("A\x01") + "B", "A_B"},
      {"C:x", "C_x"},     {"../x", ""},          {"../../..", ""},
      {"..", ""},
  };
  for (const Case& c : cases) {
    // root/a/b/w is the RAW folder: a name climbing out of it would leave a
    // file in one of the three folders above.
    TempDir root;
    const std::string work = root.file("a/b/w");
    ASSERT_EQ(std::system(("mkdir -p '" + work + "'").c_str()), 0);
    const std::vector<std::string> raw = {header_rec("100000", c.name, "261208", "1"),
                                          c_rec("100001", "A COMMENT"), g_rec(kGga45N75W),
                                          kStation1};
    write_file(work + "/in.RAW", raw_text(raw));
    const XlatRun run = run_kalxlat(work, {"in.RAW", "X"});
    EXPECT_EQ(run.status, 0) << c.name;
    EXPECT_EQ(list_files(root.path()), Files{"a"}) << c.name;
    EXPECT_EQ(list_files(root.file("a")), Files{"b"}) << c.name;
    EXPECT_EQ(list_files(root.file("a/b")), Files{"w"}) << c.name;
    const Files files = list_files(work);
    for (const auto& f : files) {
      EXPECT_EQ(f.find(".."), std::string::npos) << c.name << " -> " << f;
      for (char ch : f) {
        EXPECT_FALSE(ch == '\\' || ch == ':' || static_cast<unsigned char>(ch) < 32)
            << c.name << " -> " << f;
      }
    }
    EXPECT_EQ(files.size(), 4u) << c.name;  // RAW, main output, CMT, GPS
    int mains = 0;
    for (const auto& f : files) {
      if (f.size() > 4 && f.substr(f.size() - 4) == ".xyz") {
        ++mains;
        EXPECT_EQ(read_lines(work + "/" + f), std::vector<std::string>{kXyzStation1Gps}) << f;
      }
    }
    EXPECT_EQ(mains, 1) << c.name;
    if (!c.expected.empty()) {
      EXPECT_EQ(files, (Files{"in.RAW", c.expected + ".xyz", c.expected + ".CMT",
                              c.expected + ".GPS"}))
          << c.name;
      // Against the same file with the replaced name already in it: exactly
      // one console line more (the warning).
      TempDir plain;
      std::vector<std::string> safe = raw;
      safe[0] = header_rec("100000", c.expected, "261208", "1");
      write_file(plain.file("in.RAW"), raw_text(safe));
      const XlatRun ref = run_kalxlat(plain.path(), {"in.RAW", "X"});
      EXPECT_EQ(run.lines.size(), ref.lines.size() + 1) << c.name << "\n" << numbered(run.lines);
    }
  }
}

// A RAW file named Default.RAW is the reference copy's own name: the run is
// refused with result 4 and the input stays as it was.
TEST(XlatDriver, RawNamedDefaultRawIsRefusedAndKept) {
  const std::string content =
      raw_text({header_rec("100000", "LINE0001", "261208", "1"),
                r_rec({1, 2, 3, 4, 5, 6, 7}), kStation1});
  for (const char* type : {"X", "R", "S"}) {
    TempDir dir;
    write_file(dir.file("Default.RAW"), content);
    const XlatRun run = run_kalxlat(dir.path(), {"Default.RAW", type});
    EXPECT_EQ(run.status, 4) << type;
    EXPECT_EQ(read_file(dir.file("Default.RAW")), content) << type;
  }
}

// Two hundred file headers with one survey name and one time: two hundred
// distinct files, each holding its own station.
TEST(XlatDriver, ManyHeadersWithOneNameOverwriteNothing) {
  std::vector<std::string> raw;
  for (int i = 1; i <= 200; ++i) {
    raw.push_back(header_rec("100000", "SAME", "261208", "1"));
    raw.push_back(t58("100001", i, "CONV", {0, 0, 10, 20, 30, 40}));
  }
  TempDir dir;
  const XlatRun run = run_in(dir, raw, {"in.RAW"});
  EXPECT_EQ(run.status, 0);
  std::set<int> stations;
  int mains = 0;
  for (const auto& f : list_files(dir.path())) {
    if (f == "in.RAW") continue;
    EXPECT_EQ(f.find(' '), std::string::npos) << f;
    EXPECT_EQ(f.rfind("SAME", 0), 0u) << f;
    ASSERT_GE(f.size(), 4u);
    EXPECT_EQ(f.substr(f.size() - 4), ".xyz") << f;
    ++mains;
    const auto lines = read_lines(dir.file(f));
    ASSERT_EQ(lines.size(), 1u) << f;
    stations.insert(std::stoi(lines[0].substr(0, 6)));
  }
  EXPECT_EQ(mains, 200);
  EXPECT_EQ(stations.size(), 200u);
  if (!stations.empty()) {
    EXPECT_EQ(*stations.begin(), 1);
    EXPECT_EQ(*stations.rbegin(), 200);
  }
}

}  // namespace
}  // namespace kal::xtest

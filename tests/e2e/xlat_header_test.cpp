// kalxlat on the RAW header records: instrument identification (model,
// sibling prefixes, geometries and spacings seen through the written
// stations), sampling frequency, comments and the comment file, file header
// length codes and the K-62 prototype.
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "e2e/xlat_harness.h"
#include "e2e/xlat_records.h"

namespace kal::xtest {
namespace {

using Files = std::set<std::string>;
using Lines = std::vector<std::string>;



// The part of an XYZ line after the seconds for an X$ station before any
// file header and status record: V F7.3, T F7.1, 1X, I4 comment, pitch and
// roll F7.2, 1X, I12 GPS time, F12.6, 1X, F12.6, 1X, F7.1, 1X, I2.
const std::string kXTail =
    "  0.000    0.0    0   0.00   0.00            0    0.000000     0.000000     0.0  0";

// KALVOR-21HQ: model "21H" -> "215", three geometries, 0.5/1.0/2.0 m and
// 0.6/1.1/2.1 m. A T$ station waits for the X$; CONV values are plain
// scalings, NULD ones divide by the factors of those spacings:
// (444/100)/0.0044413 = 999.70, (640/100)/0.0063955 = 1000.70,
// (1778/100)/0.0177653 = 1000.83, (2150/100)/0.021496 = 1000.19,
// (7106/100)/0.0710612 = 999.98, (7834/100)/0.0783449 = 999.94.
TEST(XlatHeader, KalvorTwentyOneHqHasThreeGeometries) {
  TempDir dir;
  const XlatRun run = run_raw(
      dir, {c_rec("120000", "KALVOR-21HQ SNK2100417 SW VERSION 5.1a"),
            t58("120001", 5, "CONV", {0, 0, 1000, -200, 1500, 300}),
            x_rec("120002", {{2000, 400, 2500, -600}, {3210, 123, 4321, -45}}),
            t58("120003", 6, "NULD", {0, 0, 444, 100, 640, -100}),
            x_rec("120004", {{1778, 50, 2150, -50}, {7106, 25, 7834, -25}})});
  EXPECT_EQ(run.status, 0) << run.out;
  EXPECT_TRUE(run.has_line_containing("InstrumentID >KALVOR-21HQ SNK2100417 SW VERSION 5.1a  "))
      << numbered(run.lines);
  EXPECT_FALSE(run.has_line_containing("Missing name info"));
  EXPECT_FALSE(run.has_line_containing("Enter Kalvor Length Code"));
  expect_lines(dir, "Default.xyz", {
      "     5     0"
      "   100.00    -2.00   150.00     3.00"
      "   200.00     4.00   250.00    -6.00"
      "   321.00     1.23   432.10    -0.45"
      " 0 12  0  2.000" + kXTail,
      "     6     0"
      "   999.70     1.00  1000.70    -1.00"
      "  1000.83     0.50  1000.19    -0.50"
      "   999.98     0.25   999.94    -0.25"
      " 0 12  0  4.000" + kXTail,
  });
}

// Sibling prefixes are matched in any case, the main prefix only exactly;
// without a known prefix the length code in force stays.
TEST(XlatHeader, NamePrefixesSelectTheModel) {
  struct Case {
    std::vector<std::string> ids;  // identification texts, in order
    int geometries;                // expected
    bool missing;                  // "Missing name info" expected
  };
  const Case cases[] = {
      {{"pelors-421 SN00000001  SW VERSION 5.1a"}, 3, false},
      {{"PELOR-42   SN00000001  SW VERSION 5.1a"}, 2, false},
      {{"Pelor-15   SN00000001  SW VERSION 5.1a"}, 2, false},
      {{"KALVOR-2   SN00000001  SW VERSION 5.1a"}, 1, false},
      {{"kalvor-421 SN00000001  SW VERSION 5.1a"}, 1, true},
      {{"KALVOR-21  SN00000001  SW VERSION 5.1a", "kalvor-421 SN00000001  SW VERSION 5.1a"}, 2,
       true},
  };
  for (const Case& c : cases) {
    Lines raw;
    for (const auto& id : c.ids) raw.push_back(c_rec("120000", id));
    raw.push_back(t58("120001", 1, "CONV", {0, 0, 1000, -200, 1500, 300}));
    if (c.geometries == 2) raw.push_back(x_rec("120002", {{2000, 400, 2500, -600}}));
    if (c.geometries == 3)
      raw.push_back(x_rec("120002", {{2000, 400, 2500, -600}, {3210, 123, 4321, -45}}));
    TempDir dir;
    const XlatRun run = run_raw(dir, raw);
    const std::string& last = c.ids.back();
    EXPECT_EQ(run.status, 0) << last;
    EXPECT_EQ(run.has_line_containing("Missing name info in header stringC$120000 " + last),
              c.missing)
        << last << "\n" << numbered(run.lines);
    // One station line: 147 characters for one geometry (T$, pitch/roll
    // F8.2), 36 more per further geometry and 2 fewer for an X$ station.
    const Lines xyz = read_lines(dir.file("Default.xyz"));
    ASSERT_EQ(xyz.size(), 1u) << last << "\n" << numbered(xyz);
    const std::size_t want = c.geometries == 1 ? 147u : 147u + 36u * (c.geometries - 1) - 2u;
    EXPECT_EQ(xyz[0].size(), want) << last << "\n" << xyz[0];
  }
}

TEST(XlatHeader, SamplingFrequencyLine) {
  TempDir dir;
  const XlatRun run = run_raw(dir, {c_rec("101000", "Sample 10 Hz"),
                                    t58("101001", 1, "CONV", {0, 0, 0, 0, 0, 0})});
  EXPECT_EQ(run.status, 0);
  // Columns between "Sample" and "Hz" read as I5: " 10  " -> 10, I12.
  EXPECT_TRUE(run.has_line_containing("Sampling frequency is           10 Hz"))
      << numbered(run.lines);
  EXPECT_FALSE(run.has_line_containing("Comment>"));
  EXPECT_EQ(list_files(dir.path()), (Files{"in.RAW", "Default.xyz"}));
}

TEST(XlatHeader, UserOffsetsRecordIsIgnored) {
  TempDir dir;
  const XlatRun run = run_raw(dir, {c_rec("000000", "USER OFFSETS ENABLED"),
                                    t58("101001", 1, "CONV", {0, 0, 0, 0, 0, 0})});
  EXPECT_EQ(run.status, 0);
  EXPECT_FALSE(run.has_line_containing("InstrumentID >"));
  EXPECT_FALSE(run.has_line_containing("Comment>"));
  EXPECT_EQ(list_files(dir.path()), (Files{"in.RAW", "Default.xyz"}));
}

// The comment file holds each text once; stations carry the slot number
// of the latest comment, and 0 after it was written once.
TEST(XlatHeader, RepeatedCommentWrittenOnceAndNumbered) {
  TempDir dir;
  const auto station = [](const char* time, int n) {
    return t58(time, n, "CONV", {0, 0, 10, 20, 30, 40});
  };
  const XlatRun run = run_raw(dir, {header_rec("100000", "LINE0001", "261208", "1"),
                                    c_rec("100001", "SAME TEXT"), station("100002", 1),
                                    c_rec("100003", "other text"), station("100004", 2),
                                    c_rec("100005", "SAME TEXT"), station("100006", 3),
                                    station("100007", 4)});
  EXPECT_EQ(run.status, 0);
  expect_lines(dir, "LINE0001.CMT", {"    1 SAME TEXT       ", "    2 OTHER TEXT      "});
  // The console shows the text as read, before the upper-casing.
  EXPECT_TRUE(run.has_line_containing("Comment>other text       at:  10  0  3"))
      << numbered(run.lines);
  const Lines xyz = read_lines(dir.file("LINE0001.xyz"));
  ASSERT_EQ(xyz.size(), 4u);
  // CommentNumber I4 follows 12 + 36 + 2 + 6 + 7 + 7 + 7 characters and 1X.
  const char* want[] = {"   1", "   2", "   1", "   0"};
  for (int i = 0; i < 4; ++i) EXPECT_EQ(xyz[i].substr(78, 4), want[i]) << xyz[i];
}

// The 101st distinct comment overwrites slot 100 and gets number 100.
TEST(XlatHeader, HundredFirstCommentTakesSlotHundred) {
  Lines raw = {header_rec("100000", "LINE0001", "261208", "1")};
  for (int i = 1; i <= 101; ++i) raw.push_back(c_rec("100001", "COMMENT " + num(i, 3)));
  raw.push_back(t58("100002", 1, "CONV", {0, 0, 10, 20, 30, 40}));
  TempDir dir;
  const XlatRun run = run_raw(dir, raw);
  EXPECT_EQ(run.status, 0);
  const Lines cmt = read_lines(dir.file("LINE0001.CMT"));
  ASSERT_EQ(cmt.size(), 101u);
  EXPECT_EQ(cmt[0], "    1 COMMENT   1     ");
  EXPECT_EQ(cmt[99], "  100 COMMENT 100     ");
  EXPECT_EQ(cmt[100], "  100 COMMENT 101     ");
  const Lines xyz = read_lines(dir.file("LINE0001.xyz"));
  ASSERT_EQ(xyz.size(), 1u);
  EXPECT_EQ(xyz[0].substr(78, 4), " 100");
}

// A blank length field is code 4: one geometry, 4.0 m and 4.1 m, so NULD
// readings need no prompt: (2842/100)/0.28424463 = 99.98,
// (2986/100)/0.29863450 = 99.99.
TEST(XlatHeader, BlankLengthFieldIsCodeFour) {
  TempDir dir;
  const XlatRun run = run_raw(dir, {header_rec("100000", "LINE0001", "261208", ""),
                                    t58("100001", 1, "NULD", {0, 0, 2842, 0, 2986, 0})});
  EXPECT_EQ(run.status, 0) << run.out;
  EXPECT_TRUE(run.has_line("    Sensor Length code for this file is            4"))
      << numbered(run.lines);
  EXPECT_FALSE(run.has_line_containing("Enter Kalvor Length Code"));
  expect_lines(dir, "LINE0001.xyz", {
      "     1     1    99.98     0.00    99.99     0.00 0 10  0  1.000  0.000    0.0    0"
      "    0.00    0.00            0    0.000000     0.000000     0.0  0"});
}

// Code 620 in a file header: the prototype message, two geometries, and
// geometry 2 of CONV X$ records scaled: 1000/10 * 0.44444445 = 44.44,
// 1000/10 * 0.45176026 = 45.18.
TEST(XlatHeader, PrototypeCodeInFileHeaderScalesGeometryTwo) {
  TempDir dir;
  const XlatRun run = run_raw(dir, {header_rec("100000", "LINE0620", "261208", "620"),
                                    t58("100001", 1, "CONV", {11, 22, 1234, -567, 2345, 89}),
                                    x_rec("100002", {{1000, 0, 1000, 0}})});
  EXPECT_EQ(run.status, 0) << run.out;
  EXPECT_TRUE(run.has_line_containing("***Prototype K-62 Configuration detected!***"))
      << numbered(run.lines);
  expect_lines(dir, "LINE0620.xyz", {
      "     1     1   123.40    -5.67   234.50     0.89    44.44     0.00    45.18     0.00"
      " 0 10  0  2.000" + kXTail});
}

// Code 620 answered at the prompt: the prototype factors hold their values,
// so geometry 2 is scaled, not zeroed.
TEST(XlatHeader, PrototypeCodeAtPromptKeepsFactors) {
  TempDir dir;
  const XlatRun run = run_raw(dir,
                              {t58("100001", 1, "NULD", {0, 0, 0, 0, 0, 0}),
                               x_rec("100002", {{0, 0, 0, 0}}),
                               t58("100003", 2, "CONV", {11, 22, 1234, -567, 2345, 89}),
                               x_rec("100004", {{1000, 0, 1000, 0}})},
                              "X", "/\n620\n");
  EXPECT_EQ(run.status, 0) << run.out;
  const Lines xyz = read_lines(dir.file("Default.xyz"));
  ASSERT_EQ(xyz.size(), 2u) << numbered(run.lines);
  // Geometry 2 group starts after 12 + 36 characters.
  EXPECT_EQ(xyz[1].substr(48, 27), "    44.44     0.00    45.18") << xyz[1];
}

}  // namespace
}  // namespace kal::xtest

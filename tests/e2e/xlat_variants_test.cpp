// kalxlat on record variants: D$ layouts by software version and length,
// N$ on several geometries, $PKLVT of a wrong length, G$ records with the
// sentence elsewhere than column 4, several files under type S, and
// records that arrive before the first file header.
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



const std::string kStation1 = t58("100001", 1, "CONV", {11, 22, 1234, -567, 2345, 89});
// After the F7.2 angles: 1X, I12 GPS time, F12.6, 1X, F12.6, 1X, F7.1, 1X, I2.
const std::string kNoGps = "            0    0.000000     0.000000     0.0  0";

std::string id_version(const std::string& version5) {
  return c_rec("120000", "KALVOR-1   SNA1234567  SW VERSION" + version5);
}

// D$ layouts (type X, pitch/roll F7.2). Line 12 N, station 6 E, digit 1;
// HC 4321/10, HI -50/100, PC 5432/10, PI 75/100; 10:00:08.
TEST(XlatVariants, DRecordLayoutsByVersionAndLength) {
  const Four r = {4321, -50, 5432, 75};
  const std::string rec51 = d51("100008", 12, 'N', 6, 'E', 1, r);
  const std::string d65 = rec51 + " " + num(12000, 6) + " " + num(2000, 6);
  const std::string d76 = "D$100008 250 " + num(12, 6) + "N " + num(6, 6) + "E1 " + four(r) + " " +
                          num(12000, 5) + " " + num(2000, 5) + " " + num(-335, 4) + num(15, 4);
  ASSERT_EQ(d76.size() + 1, 76u);
  const std::string d60 = rec51 + "123456789";
  const std::string values = "     6    12   432.10    -0.50   543.20     0.75 1 10  0";
  struct Case {
    const char* what;
    Lines raw;
    std::string line;
  };
  const Case cases[] = {
      // No version: no status fields, V and T from raw 0.
      {"51 columns, no version", {rec51},
       values + "  8.000  0.000    0.0    0   0.00   0.00" + kNoGps},
      // Version 3.0: two I6 status fields, V 12000/1000, T 2000/100.
      {"65 columns, version 3.0", {id_version(" 3.0 "), d65},
       values + "  8.000 12.000   20.0    0   0.00   0.00" + kNoGps},
      // Version 5.1, 76 columns: milliseconds 250, angle rule -335 -> -35,
      // roll 15 -> 1.5.
      {"76 columns, version 5.1", {id_version(" 5.1a"), d76},
       values + "  8.250 12.000   20.0    0 -35.00   1.50" + kNoGps},
      // Version 5.1, 60 columns: nothing read; the held state (time
      // 12:00:00 of the identification, zeros) is written.
      {"60 columns, version 5.1", {id_version(" 5.1a"), d60},
       "     0     0     0.00     0.00     0.00     0.00 0 12  0  0.000  0.000    0.0    0"
       "   0.00   0.00" + kNoGps},
  };
  for (const Case& c : cases) {
    TempDir dir;
    const XlatRun run = run_raw(dir, c.raw, "X");
    EXPECT_EQ(run.status, 0) << c.what;
    const Lines got = read_lines(dir.file("Default.xyz"));
    ASSERT_EQ(got.size(), 1u) << c.what << "\n" << numbered(run.lines);
    EXPECT_EQ(got[0], c.line) << c.what;
  }
}

// N$ on two geometries: the six fields are pitch, roll, HQ1, PQ1, HQ2,
// PQ2 (/10); the in-phase values come from readings held (none: 0). With
// code 620 geometry 2 is scaled: 300*0.44444445 = 133.33,
// 400*0.45176026 = 180.70. X layout for N$: 1X, 3I3, V F7.3, T F7.1.
TEST(XlatVariants, QuadratureOnlyRecordOnTwoGeometries) {
  struct Case {
    const char* code;
    std::string group2;
  };
  for (const Case& c : {Case{"21", "   300.00     0.00   400.00     0.00"},
                        Case{"620", "   133.33     0.00   180.70     0.00"}}) {
    TempDir dir;
    const XlatRun run = run_raw(dir,
                                {header_rec("100000", "LINE0001", "261208", c.code),
                                 n_rec("100009", 12100, 2150, {250, -150, 1500, 2500, 3000, 4000})},
                                "X");
    EXPECT_EQ(run.status, 0) << c.code;
    expect_lines(dir, "LINE0001.xyz", {
        "     0     1   150.00     0.00   250.00     0.00" + c.group2 +
        " 0  10  0  9 12.100   21.5    0   2.50  -1.50" + kNoGps});
  }
}

// $PKLVT of 89 or 102 columns: reported, and a station is still written.
TEST(XlatVariants, PklvtOfWrongLengthStillWritesStation) {
  const std::string pklvt =
      "$PKLVT,100010,0001500,0020000,-000500,0028000,0000077,0000066,12200,02400,000123,-00045,CONV";
  ASSERT_EQ(pklvt.size(), 92u);
  for (const std::string& bad : {pklvt.substr(0, 89), pklvt + "1234567890"}) {
    TempDir dir;
    const XlatRun run =
        run_raw(dir, {header_rec("100000", "LINE0001", "261208", "1"), kStation1, bad}, "X");
    EXPECT_EQ(run.status, 0) << bad.size();
    EXPECT_TRUE(run.has_line_containing("$PKLVT packet error:")) << numbered(run.lines);
    EXPECT_EQ(read_lines(dir.file("LINE0001.xyz")).size(), 2u) << bad.size();
  }
}

// The GGA sentence not in column 4 of the G$ record: the GPS file gets "$"
// and the sentence from its talker ID on, and the reader gets the sentence.
TEST(XlatVariants, GgaSentenceAnywhereInGRecord) {
  const std::string gga =
      with_checksum("GPGGA,100002,4500.0000,N,07500.0000,W,1,08,0.9,100.0,M,0.0,M,,");
  for (const std::string& rec : {"G$ " + gga, "G$$" + gga, "G$  " + gga}) {
    TempDir dir;
    const XlatRun run =
        run_raw(dir, {header_rec("100000", "LINE0001", "261208", "1"), rec, kStation1}, "X");
    EXPECT_EQ(run.status, 0) << rec;
    expect_lines(dir, "LINE0001.GPS", {"$" + gga});
    expect_lines(dir, "LINE0001.xyz", {
        "     1     1   123.40    -5.67   234.50     0.89 0 10  0  1.000  0.000    0.0    0"
        "    0.00    0.00     36002000   45.000000   -75.000000   100.0  1"});
  }
}

// Every SAN file starts with its own header line.
TEST(XlatVariants, TypeSHeaderLineInEveryFile) {
  TempDir dir;
  const XlatRun run = run_raw(dir,
                              {header_rec("100000", "LINE0001", "261208", "1"), kStation1,
                               header_rec("100100", "LINE0002", "261208", "1"),
                               t58("100101", 2, "CONV", {11, 22, 1234, -567, 2345, 89})},
                              "S");
  EXPECT_EQ(run.status, 0);
  expect_lines(dir, "LINE0001.san", {
      "    -9        0.20",
      "         1.0          1.0     0.00   123.40   234.50    0.00000000    0.00000000           0"});
  expect_lines(dir, "LINE0002.san", {
      "    -9        0.20",
      "         1.0          2.0     0.00   123.40   234.50    0.00000000    0.00000000           0"});
}

// Comments before the first file header are kept under every type (D and
// R open the comment file at start too).
TEST(XlatVariants, EarlyCommentKeptUnderEveryType) {
  struct Case {
    const char* type;
    Files files;
  };
  const Case cases[] = {
      {"X", {"in.RAW", "Default.xyz", "Default.CMT"}},
      {"D", {"in.RAW", "Default.G31", "Default.CMT"}},
      {"R", {"in.RAW", "Default.CMT"}},
      {"S", {"in.RAW", "Default.SAN", "Default.CMT"}},
  };
  for (const Case& c : cases) {
    TempDir dir;
    const XlatRun run = run_raw(dir, {c_rec("095900", "EARLY NOTE"), kStation1}, c.type);
    EXPECT_EQ(run.status, 0) << c.type;
    EXPECT_EQ(list_files(dir.path()), c.files) << c.type;
    expect_lines(dir, "Default.CMT", {"    1 EARLY NOTE      "});
  }
}

// Type G writes comment lines into its main output, also before any file
// header; an auxiliary line before the first file header goes to
// Default.xyx under X and G only.
TEST(XlatVariants, EarlyRecordsPerType) {
  const Lines raw = {c_rec("095900", "EARLY NOTE"), a_rec({10000, 0, 0}, {1, 1, 1}, 100),
                     kStation1};
  {
    TempDir dir;
    const XlatRun run = run_raw(dir, raw, "G");
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(list_files(dir.path()), (Files{"in.RAW", "Default.xyz", "Default.xyx", "Default.CMT"}));
    const Lines main = read_lines(dir.file("Default.xyz"));
    ASSERT_EQ(main.size(), 2u) << numbered(main);
    EXPECT_EQ(main[0], "\\EARLY NOTE       at:   9 59  0");
    EXPECT_EQ(read_lines(dir.file("Default.xyx")).size(), 1u);
  }
  {
    TempDir dir;
    const XlatRun run = run_raw(dir, raw, "L");
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(list_files(dir.path()), (Files{"in.RAW", "Default.LOG", "Default.CMT"}));
  }
}

// IDF and SDF on two geometries (code 21): geometry 2 from the X$ record,
// HC 200 * 0.0710612 * 1000 = 14212., PC 250 * 0.0783449 * 1000 = 19586.;
// the SDF lists 2 x 2 coil pairs.
TEST(XlatVariants, TypePTwoGeometries) {
  TempDir dir;
  const XlatRun run = run_raw(dir,
                              {header_rec("100000", "LINE0021", "261208", "21"), kStation1,
                               x_rec("100002", {{2000, 400, 2500, -600}})},
                              "P");
  EXPECT_EQ(run.status, 0) << run.out;
  expect_lines(dir, "LINE0021.idf", {
      "     1  0.20   0.00   0.00   -5670.    2192.     890.    5041."
      "    4000.   14212.   -6000.   19586."
      "    0.000000     0.000000     0.0  0         0 0 0  0    0.000"});
  expect_lines(dir, "LINE0021.SDF", {
      "            4",
      "  1  1   9000. 1.00   3 0.00 1.00000 0.00000  1.0  1.0",
      "  0  1   9000. 1.10   4 0.00 1.00000 0.00000  1.0  1.0",
      "  1  1   9000. 2.00   3 0.00 1.00000 0.00000  1.0  1.0",
      "  0  1   9000. 2.10   4 0.00 1.00000 0.00000  1.0  1.0",
  });
}

// ICE with five channels: scaled by 1/10000, 1/100, 1/1000, 1/100, 1/1000
// (12345, 250, 7500, 1234, 5678 -> 1.2345, 2.5, 7.5, 12.34, 5.678).
TEST(XlatVariants, TypeIFiveChannels) {
  TempDir dir;
  const XlatRun run = run_raw(
      dir,
      {c_rec("120000", "KALVOR-1   SNA1234567  SW VERSION 6.2 "),
       header_rec("100000", "LINE0001", "261208", "1"),
       g_rec("GPGGA,100002,4500.0000,N,07500.0000,W,1,08,0.9,100.0,M,0.0,M,,"),
       "I$100005   25 -15  35 12345  5 12345   250  7500  1234  5678"},
      "I");
  EXPECT_EQ(run.status, 0) << run.out;
  expect_lines(dir, "LINE0001.ice", {
      "     45.000000    -75.000000  5   1.2345   2.5000   7.5000  12.3400   5.6780 1.2345 1"
      "   0.35   2.50  -1.50        36005 0   0      500000.0     4982950.4   1   8    0.900   100.0"});
}

// Code 215 in a file header: the G heading of three geometries.
TEST(XlatVariants, TypeGThreeGeometryHeading) {
  TempDir dir;
  const XlatRun run = run_raw(dir, {header_rec("100000", "LINE0215", "261208", "215")}, "G");
  EXPECT_EQ(run.status, 0);
  const Lines main = read_lines(dir.file("LINE0215.xyz"));
  ASSERT_EQ(main.size(), 3u);
  EXPECT_EQ(main[0], "\\Kalvor Filename is LINE0215.xyz       ");
  // A code wider than its two columns is written whole rather than as "**",
  // which would lose the instrument configuration from the file.
  EXPECT_EQ(main[1], "\\Kalvor Sensor Length Code is 215");
  EXPECT_EQ(main[2],
            "\\..STN.SP.LINE.LP.HC5-mS/m.HI5-ppt.PC5-mS/m..PI5-ppt.HC1-mS/m.HI1-ppt.PC1-mS/m..PI1-"
            "ppt.HC2-mS/m.HI2-ppt.PC2-mS/m..PI2-ppt..N.HH.MM.SS.V.......T-K.....CN..Ptch...Roll"
            "......GPS_TIME..Lat..........Lon.........GPS_Alt.DMode");
}

// Type G without a file header: the identification writes the three
// header lines into the Default file (name "Default" in 19 characters,
// code 1 as I2, blank channel heading).
TEST(XlatVariants, TypeGHeaderLinesFromIdentification) {
  TempDir dir;
  const XlatRun run = run_raw(dir, {id_version(" 5.1a"), kStation1}, "G");
  EXPECT_EQ(run.status, 0);
  expect_lines(dir, "Default.xyz", {
      "\\Kalvor Filename is Default            ",
      "\\Kalvor Sensor Length Code is  1",
      "\\..STN.SP.LINE.LP..N.HH.MM.SS.V.......T-K.....CN..Ptch...Roll......GPS_TIME..Lat..........Lon.........GPS_Alt.DMode",
      // Geosoft T$ station: LineNumber 0, blank marks
      "     1       0     123.40    -5.67   234.50     0.89 0 10  0  1.000  0.000    0.0    0"
      "    0.00    0.00" + kNoGps,
  });
}

}  // namespace
}  // namespace kal::xtest

// Whole RAW files transcribed into a temp folder; the files left behind and
// their bytes are checked against lines worked out field by field.
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <regex>
#ifndef _WIN32
#include <sys/wait.h>
#endif

#include "transcribe/xlat_test_support.h"

namespace kal::xlat {
namespace {

using test::h_rec;
using test::c_rec;
using test::g_rec;
using test::ints;
using test::with_checksum;
using test::rjust;
using test::t58;
using test::Transcription;
using test::x_rec;
using Files = std::set<std::string>;
using Lines = std::vector<std::string>;

// D$ of 51 columns (software version 0): line, marks, station, mark digit, 4 readings.
std::string d51(std::string_view time, int line, char line_mark, int station, char station_mark,
                int digit, std::initializer_list<long long> four) {
  return "D$" + std::string(time) + " " + rjust(line, 6) + line_mark + " " + rjust(station, 6) +
         station_mark + rjust(digit, 1) + " " + ints(four, 6);
}
// N$: voltage (mV), temperature (hundredths), then six I6.
std::string n_rec(std::string_view time, int mv, int temp, std::initializer_list<long long> six) {
  return "N$" + std::string(time) + " " + rjust(mv, 5) + " " + rjust(temp, 5) + " " + ints(six, 6);
}
std::string r_rec(std::initializer_list<long long> seven) { return "R$" + ints(seven, 8); }

// GPS fields of a station without any GGA sentence: I12, F12.6, 1X,
// F12.6, 1X, F7.1, 1X, I2 after the blank column.
const std::string kNoGps =
    " "
    "           0"   // GPS time
    "    0.000000"   // latitude
    " "
    "    0.000000"   // longitude
    " "
    "    0.0"        // altitude
    " "
    " 0";            // fix quality

const std::string kT1 = t58("100002", 1, "CONV", {11, 22, 1234, -567, 2345, 89});

TEST(TranscribeX, SingleGeometryStationsOfEachRecord) {
  const Transcription t({h_rec("100000", "LINE0001", "261208", "1"), c_rec("100001", "FIRST COMMENT"), kT1,
                         d51("100003", 12, 'N', 5, 'E', 1, {500, 100, 600, -200}),
                         n_rec("100004", 12500, 2340, {150, -250, 300, 400, 0, 0}), "Z$"},
                        "X");
  EXPECT_EQ(t.result, 0);
  EXPECT_EQ(t.folder.files(), (Files{"in.RAW", "LINE0001.xyz", "LINE0001.CMT"}));
  const Lines expected = {
      // T$: stn, line (1 from the header), 1234/10, -567/100, 2345/10, 89/100,
      // digit, 10 h 0 min, 2 s, V, T, comment 1, pitch/roll F8.2.
      "     1     1   123.40    -5.67   234.50     0.89 0 10  0  2.000  0.000    0.0    1"
      "    0.00    0.00" + kNoGps,
      // D$: stn 5, line 12, 500/10, 100/100, 600/10, -200/100, digit 1,
      // comment number cleared, pitch/roll F7.2.
      "     5    12    50.00     1.00    60.00    -2.00 1 10  0  3.000  0.000    0.0    0"
      "   0.00   0.00" + kNoGps,
      // N$: 300/10, in-phase held 1.00, 400/10, -2.00; 1X, h m s, 12.5 V,
      // 23.4 (2340/100), pitch 150/100, roll -250/100.
      "     5    12    30.00     1.00    40.00    -2.00 1  10  0  4 12.500   23.4    0"
      "   1.50  -2.50" + kNoGps,
  };
  EXPECT_EQ(t.lines("LINE0001.xyz"), expected);
  EXPECT_EQ(t.lines("LINE0001.CMT"), Lines{"    1 FIRST COMMENT   "});
  EXPECT_TRUE(t.said("   Normal end of data encountered.")) << t.dump();
  EXPECT_TRUE(t.said("    Output file: LINE0001.xyz       ")) << t.dump();
}

// Three geometries: the T$ writes nothing, each X$ writes all three groups;
// the comment before the T$ stays with the station its X$ completes.
TEST(TranscribeX, ThreeGeometriesWaitForTheXRecord) {
  const Transcription t({h_rec("100000", "AB", "261208", "215"), c_rec("100001", "NOTE"),
                         t58("100001", 3, "CONV", {0, 0, 1000, 200, 1100, 300}),
                         x_rec("100001", {2000, 400, 2100, 500, 3000, 600, 3100, 700}),
                         "X$100002 250 " + ints({10, 20, 30, 40, 50, 60, 70, 80}, 6)},
                        "X");
  EXPECT_EQ(t.result, 0);
  EXPECT_EQ(t.folder.files(), (Files{"in.RAW", "AB.xyz", "AB.CMT"}));
  const Lines expected = {
      "     3     1"
      "   100.00     2.00   110.00     3.00"   // T$ geometry 1
      "   200.00     4.00   210.00     5.00"   // 2000/10, 400/100, 2100/10, 500/100
      "   300.00     6.00   310.00     7.00"
      " 0 10  0  1.000  0.000    0.0    1   0.00   0.00" + kNoGps,
      "     3     1"
      "   100.00     2.00   110.00     3.00"
      "     1.00     0.20     3.00     0.40"
      "     5.00     0.60     7.00     0.80"
      " 0 10  0  2.250  0.000    0.0    0   0.00   0.00" + kNoGps,  // 2 s + 250 ms
  };
  EXPECT_EQ(t.lines("AB.xyz"), expected);
}

TEST(TranscribeD, HeadersOncePerLine) {
  const Transcription t({h_rec("100000", "LINE0001", "261208", "1"),
                         d51("100003", 12, 'N', 5, 'E', 1, {500, 100, 600, -200}),
                         d51("100004", 12, 'N', 6, 'E', 1, {510, 110, 610, -210}),
                         x_rec("100004", {1, 2, 3, 4}),  // ignored under D
                         d51("101500", 13, ' ', 7, ' ', 0, {520, 120, 620, -220})},
                        "D");
  EXPECT_EQ(t.result, 0);
  EXPECT_EQ(t.folder.files(), (Files{"in.RAW", "LINE0001.g31"}));
  const Lines expected = {
      "RI31 V1.XXLINE0001     Kalvor-4 Data ",
      "L   12       BB1  N E 1.0",  // L, I5, 7X, BB, I1, A3, A2, F4.1
      "T   10: 0 26-12- 8",         // T, I5 hour, ":", I2 minute, date
      "SV10     5.000    50.000     1.000",
      "SH10     5.000    60.000    -2.000",
      "SV10     6.000    51.000     1.100",
      "SH10     6.000    61.000    -2.100",
      "L   13       BB0      1.0",
      "T   10:15 26-12- 8",
      "SV10     7.000    52.000     1.200",
      "SH10     7.000    62.000    -2.200",
  };
  EXPECT_EQ(t.lines("LINE0001.g31"), expected);
}

TEST(TranscribeG, HeadingCommentAndStation) {
  const Transcription t({h_rec("100000", "LINE0001", "261208", "1"), c_rec("100001", "FIRST COMMENT"),
                         d51("100003", 12, 'N', 5, 'E', 1, {500, 100, 600, -200})},
                        "G");
  EXPECT_EQ(t.result, 0);
  const Lines expected = {
      "\\Kalvor Filename is LINE0001.xyz       ",
      "\\Kalvor Sensor Length Code is  1",
      "\\..STN.SP.LINE.LP..N.HH.MM.SS.V.......T-K.....CN..Ptch...Roll"
      "......GPS_TIME..Lat..........Lon.........GPS_Alt.DMode",
      "\\FIRST COMMENT    at:  10  0  1",
      // stn, 1X, station mark, line, 1X, line mark, then the XYZ fields 3-20.
      "     5 E    12 N    50.00     1.00    60.00    -2.00 1 10  0  3.000  0.000    0.0    1"
      "   0.00   0.00" + kNoGps,
  };
  EXPECT_EQ(t.lines("LINE0001.xyz"), expected);
}

TEST(TranscribeL, TStationWithExtras) {
  const Transcription t({h_rec("100000", "LINE0001", "261208", "1"), kT1}, "L");
  EXPECT_EQ(t.result, 0);
  EXPECT_EQ(t.folder.files(), (Files{"in.RAW", "LINE0001.log"}));
  // stn, group, digit, code of the blank station mark (32), line, code of
  // the line mark, time and status, ExtraA and ExtraB as F8.0.
  EXPECT_EQ(t.lines("LINE0001.log"),
            Lines{"     1   123.40    -5.67   234.50     0.89 0  32     1  32 10  0  2.000  0.000    0.0"
                  "     11.     22.    0    0.00    0.00" + kNoGps});
}

const std::string kGga45N75W = with_checksum("GPGGA,100002,4500.0000,N,07500.0000,W,1,08,0.9,100.0,M,0.0,M,,");

// Before the first GGA sentence the station has no position: line and
// station numbers; after it UTM zone 18 of 45 N 75 W (easting 500000,
// northing 4982950.40).
TEST(TranscribeS, LineAndStationNumbersThenUtm) {
  const Transcription t({h_rec("100000", "LINE0001", "261208", "1"),
                         t58("100001", 1, "CONV", {0, 0, 1234, 0, 2345, 0}),
                         " " + g_rec(kGga45N75W),  // tag already in columns 2-3
                         t58("100003", 2, "CONV", {0, 0, 1000, 0, 2000, 0})},
                        "S");
  EXPECT_EQ(t.result, 0);
  EXPECT_EQ(t.folder.files(), (Files{"in.RAW", "LINE0001.san", "LINE0001.GPS"}));
  const Lines expected = {
      "    -9        0.20",
      "         1.0          1.0     0.00   123.40   234.50    0.00000000    0.00000000           0",
      "    500000.0    4982950.4     0.00   100.00   200.00   45.00000000  -75.00000000    36002000",
  };
  EXPECT_EQ(t.lines("LINE0001.san"), expected);
  EXPECT_EQ(t.lines("LINE0001.GPS"), Lines{"$" + kGga45N75W});
  bool zone_line = false;
  for (const auto& l : t.console) {
    zone_line |= l.find(" get UTM Zone Number " + rjust(18, 12)) != std::string::npos &&
                 l.rfind(" For mean Lat, Lon=", 0) == 0;
  }
  EXPECT_TRUE(zone_line) << t.dump();
}

// A survey crossing the equator: every station keeps zone 18; the northern
// station after the southern one lands where the first northern one did.
TEST(TranscribeS, EquatorCrossingKeepsNorthernStations) {
  const std::string north = with_checksum("GPGGA,100001,0200.0000,N,07500.0000,W,1,08,0.9,10.0,M,0.0,M,,");
  const std::string south = with_checksum("GPGGA,100002,0100.0000,S,07500.0000,W,1,08,0.9,10.0,M,0.0,M,,");
  const Transcription t({h_rec("100000", "EQ", "261208", "1"), g_rec(north),
                         t58("100001", 1, "CONV", {0, 0, 0, 0, 0, 0}), g_rec(south),
                         t58("100002", 2, "CONV", {0, 0, 0, 0, 0, 0}), g_rec(north),
                         t58("100003", 3, "CONV", {0, 0, 0, 0, 0, 0})},
                        "S");
  const Lines san = t.lines("EQ.san");
  ASSERT_EQ(san.size(), 4u);
  // Easting and northing: columns 1-25.
  EXPECT_EQ(san[1].substr(0, 25), san[3].substr(0, 25));
  const double north_northing = std::stod(san[1].substr(13, 12));
  const double south_northing = std::stod(san[2].substr(13, 12));
  EXPECT_GT(north_northing, 200000.0);  // 2 degrees north: about 221 km
  EXPECT_LT(north_northing, 240000.0);
  EXPECT_GT(south_northing, 9880000.0);  // 1 degree south: 10000 km less about 110 km
  EXPECT_LT(south_northing, 9900000.0);
}

TEST(TranscribeP, DescriptionOncePerSurveyAndIdfLine) {
  const Transcription t({h_rec("100000", "LINE0001", "261208", "1"), kT1,
                         h_rec("100100", "LINE", "261208", "1"), kT1},
                        "P");
  EXPECT_EQ(t.result, 0);
  EXPECT_EQ(t.folder.files(),
            (Files{"in.RAW", "LINE0001.idf", "LINE0001.SDF", "LINE.idf", "LINE.SDF"}));
  const Lines sdf = {
      "            2",  // free-form 2 x GeometryCount
      "  1  1   9000. 1.00   3 0.00 1.00000 0.00000  1.0  1.0",
      "  0  1   9000. 1.10   4 0.00 1.00000 0.00000  1.0  1.0",
  };
  EXPECT_EQ(t.lines("LINE0001.SDF"), sdf);
  EXPECT_EQ(t.lines("LINE.SDF"), sdf);
  // -5.67 x 1000; 123.4 x 0.017765289 x 1000 = 2192.2; 0.89 x 1000;
  // 234.5 x 0.021496002 x 1000 = 5040.8.
  const std::string idf =
      "     1  0.20   0.00   0.00   -5670.    2192.     890.    5041."
      "    0.000000     0.000000     0.0  0         0 0 0  0    0.000";
  EXPECT_EQ(t.lines("LINE0001.idf"), Lines{idf});
  EXPECT_EQ(t.lines("LINE.idf"), Lines{idf});
}

std::string le32(std::uint32_t bits) {
  std::string out;
  for (int b = 0; b < 4; ++b) out += static_cast<char>((bits >> (8 * b)) & 0xFF);
  return out;
}
std::string le_float(float f) {
  std::uint32_t bits;
  std::memcpy(&bits, &f, 4);
  return le32(bits);
}

TEST(TranscribeI, IceLineAndBinaryRecord) {
  const std::string ident = "C$100000 " + test::ljust("KALVOR-4", 23) + "SW VERSION 6.1";
  const std::string ems = "I$101010  105 -50 150 12345  2 11111 22222";
  const Transcription t({ident, h_rec("100000", "EMS1", "261208", "4"), ems}, "I");
  EXPECT_EQ(t.result, 0);
  EXPECT_EQ(t.folder.files(), (Files{"in.RAW", "EMS1.ice", "EMS1.DAT"}));
  // No position; channels 11111/10000 and 22222/100; reading 12345/10000;
  // height 150/100; pitch 105/10; roll -50/10; 10:10:10 is 36610 s; easting
  // and northing are line 1 and station 0.
  EXPECT_EQ(t.lines("EMS1.ice"),
            Lines{"      0.000000      0.000000  2   1.1111 222.2200 1.2345 1   1.50  10.50  -5.00"
                  "        36610 0   0           1.0           0.0   0   0    0.000     0.0"});
  const std::string record = le32(0) + le32(0) + le32(36610) + le_float(1.5f) + le_float(222.22f) +
                             le_float(1234.0f) /* trunc(1.2345 x 1000) */ + le_float(1.1111f) +
                             le_float(0.0f) + std::string(3, '\0');
  EXPECT_EQ(test::read_file(t.folder.file("EMS1.DAT")), record);
  EXPECT_TRUE(t.said("    -9        1.50")) << t.dump();
  EXPECT_FALSE(t.said(" EMS software version change")) << t.dump();
  EXPECT_FLOAT_EQ(t.height, 1.5f);
}

// A lone first half gives a 7-value line, then a complete pair 14 values;
// after the first pair only complete pairs are written.
TEST(TranscribeR, ReferencePairs) {
  const Transcription t({t58("100001", 1, "CONV", {0, 0, 0, 0, 0, 0}), r_rec({1, 2, 3, 4, 5, 6, 7}),
                         r_rec({8, 9, 10, 11, 12, 13, 14}), t58("100002", 2, "CONV", {0, 0, 0, 0, 0, 0}),
                         r_rec({15, 16, 17, 18, 19, 20, 21}), r_rec({22, 23, 24, 25, 26, 27, 28})},
                        "R");
  EXPECT_EQ(t.result, 0);
  EXPECT_EQ(t.folder.files(), (Files{"in.RAW", "Default.RAW"}));
  const std::string first = ints({1, 2, 3, 4, 5, 6, 7}, 10);
  EXPECT_EQ(t.lines("Default.RAW"),
            (Lines{"         1 10  0  1.  0" + first,
                   "         1 10  0  1.  0" + first + ints({8, 9, 10, 11, 12, 13, 14}, 10),
                   "         2 10  0  2.  0" + ints({15, 16, 17, 18, 19, 20, 21}, 10) +
                       ints({22, 23, 24, 25, 26, 27, 28}, 10)}));
}

std::string pklvt(int hi, int hq, int pi, int pq) {
  return "$PKLVT,101010" + ints({hi, hq, pi, pq, 5, 6}, 8) + " 12500  2345    150   -250 CONV";
}

// No configuration: the short prompt, "/" keeps code 1, and the empty
// main output takes the upper-case extension.
TEST(TranscribePklvt, ShortPromptRenamesEmptyOutput) {
  const Transcription t({pklvt(1000, 100, 2000, 100), pklvt(1000, 100, 2000, 100)}, "X", {"/", "/"});
  EXPECT_EQ(t.result, 0);
  EXPECT_EQ(t.folder.files(), (Files{"in.RAW", "Default.XYZ"}));
  // 0.1/0.017765289 = 5.63, 1000/1000, 0.1/0.021496002 = 4.65, 2000/1000;
  // h m s; 12500/1000 V; 2345/100 as F7.2; pitch 150/100, roll -250/100.
  const std::string tail = " 0 10 10 10 12.500  23.45    0   1.50  -2.50" + kNoGps;
  EXPECT_EQ(t.lines("Default.XYZ"), (Lines{"     1     0     5.63     1.00     4.65     2.00" + tail,
                                           "     2     0     5.63     1.00     4.65     2.00" + tail}));
  int prompts = 0;
  for (const auto& l : t.console) prompts += l == "Enter Kalvor Length Code (1, 2, or 4, default=1)";
  EXPECT_EQ(prompts, 1);
  EXPECT_TRUE(t.said(" Output file: Default.XYZ")) << t.dump();
  EXPECT_TRUE(t.said(" Sensor Length code for this file is " + rjust(1, 12))) << t.dump();
}

TEST(TranscribePklvt, OutputHoldingLinesIsKept) {
  const Transcription t({t58("100001", 1, "CONV", {0, 0, 10, 0, 20, 0}), pklvt(1000, 100, 2000, 100)}, "X",
                        {"/", "2"});
  EXPECT_EQ(t.result, 0);
  EXPECT_EQ(t.folder.files(), (Files{"in.RAW", "Default.xyz"}));
  EXPECT_EQ(t.lines("Default.xyz").size(), 2u);
  EXPECT_TRUE(t.said(" Output file: Default.xyz")) << t.dump();
}

// NULD readings without a configuration: the full prompt once; "/" is code 1.
TEST(TranscribeX, NuldPromptsOnce) {
  const Transcription t({t58("100001", 1, "NULD", {0, 0, 1777, 100, 2150, 0}),
                         t58("100002", 2, "NULD", {0, 0, 1777, 100, 2150, 0})},
                        "X", {"/", "", "/"});
  EXPECT_EQ(t.result, 0);
  int prompts = 0;
  for (const auto& l : t.console) {
    prompts += l == "Enter Kalvor Length Code (1,15,2,4,21,215,42,421,62,621,642 or 842, default=1)";
  }
  EXPECT_EQ(prompts, 1);
  // 17.77/0.017765289 = 1000.27; 21.5/0.021496002 = 1000.19.
  EXPECT_EQ(t.lines("Default.xyz"),
            (Lines{"     1     0  1000.27     1.00  1000.19     0.00 0 10  0  1.000  0.000    0.0    0"
                   "    0.00    0.00" + kNoGps,
                   "     2     0  1000.27     1.00  1000.19     0.00 0 10  0  2.000  0.000    0.0    0"
                   "    0.00    0.00" + kNoGps}));
}

// Length code 620 at the prompt: geometry 2 of CONV data is scaled by the
// prototype factors, not zeroed.
TEST(TranscribeX, PrototypeCodeAtThePrompt) {
  const Transcription t({t58("100001", 1, "NULD", {0, 0, 0, 0, 0, 0}),  // prompts; G = 2: no line
                         t58("100002", 2, "CONV", {0, 0, 500, 50, 600, 60}),
                         x_rec("100002", {1000, 0, 1000, 0})},
                        "X", {"/", "620"});
  EXPECT_TRUE(t.said("***Prototype K-62 Configuration detected!***")) << t.dump();
  // Geometry 2: 1000/10 x 0.44444445 = 44.44 and 1000/10 x 0.45176026 = 45.18.
  EXPECT_EQ(t.lines("Default.xyz"),
            Lines{"     2     0    50.00     0.50    60.00     0.60    44.44     0.00    45.18     0.00"
                  " 0 10  0  2.000  0.000    0.0    0   0.00   0.00" + kNoGps});
}

// A station before an early file header keeps the Default output.
TEST(TranscribeX, StationBeforeEarlyHeaderIsKept) {
  const Transcription t({kT1, h_rec("100000", "LINE0001", "261208", "1"), kT1}, "X");
  EXPECT_EQ(t.result, 0);
  EXPECT_EQ(t.folder.files(), (Files{"in.RAW", "Default.xyz", "LINE0001.xyz"}));
  EXPECT_EQ(t.lines("Default.xyz").size(), 1u);
}

// A G$ record without a GGA sentence, and GGA sentences of other talkers.
TEST(TranscribeGps, SentenceLinesOfEveryTalker) {
  const std::string gn = with_checksum("GNGGA,100002,4500.0000,N,07500.0000,W,1,08,0.9,100.0,M,0.0,M,,");
  const Transcription t({g_rec("HELLO WORLD"), g_rec(gn), kT1}, "X");
  EXPECT_EQ(t.lines("DEFAULT.GPS"), (Lines{"$GPGHELLO WORLD", "$" + gn}));
  const Lines xyz = t.lines("Default.xyz");
  ASSERT_EQ(xyz.size(), 1u);
  EXPECT_EQ(xyz[0].substr(98), "     36002000   45.000000   -75.000000   100.0  1");
}

// The receivers' own sentences go through the G$ path: each is reproduced in
// the GPS file and its position agrees with a plain reading of its fields.
TEST(TranscribeGps, RealReceiverSentences) {
  std::ifstream in(std::string(KAL_SHARED_DIR) + "/data/nmea/gga_real.txt");
  if (!in) GTEST_SKIP() << "no gga_real.txt";
  std::vector<std::string> sentences;
  for (std::string s; std::getline(in, s);) sentences.push_back(s);
  std::vector<std::string> raw;
  for (std::size_t i = 0; i < sentences.size(); ++i) {
    raw.push_back("G$" + sentences[i].substr(1));
    raw.push_back(t58("100000", static_cast<int>(i + 1), "CONV", {0, 0, 0, 0, 0, 0}));
  }
  const Transcription t(raw, "X");
  EXPECT_EQ(t.result, 0);
  EXPECT_EQ(t.lines("DEFAULT.GPS"), sentences);
  const Lines xyz = t.lines("Default.xyz");
  ASSERT_EQ(xyz.size(), sentences.size());

  const std::regex plain(R"(\$[A-Z]{2}GGA,([0-9.]*),([0-9.]*),([NS]?),([0-9.]*),([EW]?),[^*]*\*([0-9A-F]{2}))");
  int compared = 0;
  for (std::size_t i = 0; i < sentences.size(); ++i) {
    const std::string& s = sentences[i];
    std::smatch m;
    if (!std::regex_match(s, m, plain)) continue;
    const std::string body = s.substr(1, s.find('*') - 1);
    unsigned sum = 0;
    for (char c : body) sum ^= static_cast<unsigned char>(c);
    if (sum != std::stoul(m[6].str(), nullptr, 16)) continue;
    if (std::count(body.begin(), body.end(), ',') < 10) continue;
    const std::string lat = m[2].str(), lon = m[4].str();
    double want_lat = lat.size() >= 5 ? std::stod(lat.substr(0, 2)) + std::stod(lat.substr(2)) / 60.0 : 0.0;
    double want_lon = lon.size() >= 5 ? std::stod(lon.substr(0, 3)) + std::stod(lon.substr(3)) / 60.0 : 0.0;
    if (m[3].str() == "S") want_lat = -want_lat;
    if (m[5].str() == "W") want_lon = -want_lon;
    // Latitude F12.6 in columns 112-123, longitude in 125-136.
    EXPECT_NEAR(std::stod(xyz[i].substr(111, 12)), want_lat, 1e-4) << s;
    EXPECT_NEAR(std::stod(xyz[i].substr(124, 12)), want_lon, 1e-4) << s;
    ++compared;
  }
  EXPECT_GT(compared, 2500);
}

TEST(TranscribeDriver, RepeatedSurveyNamesNeverOverwrite) {
  const Transcription t({h_rec("101502", "LINE0001", "261208", "1"), kT1, h_rec("101502", "LINE0001", "261208", "1"),
                         kT1, h_rec("101502", "LINE0001", "261208", "1"), kT1, h_rec("101503", "Default", "261208", "1"),
                         kT1},
                        "X");
  EXPECT_EQ(t.result, 0);
  EXPECT_EQ(t.folder.files(), (Files{"in.RAW", "LINE0001.xyz", "LINE0001_101502.xyz", "LINE0001_101502_2.xyz",
                                     "Default_2.xyz"}));
  EXPECT_TRUE(t.said("*** Warning: output name LINE0001_101502 already used in this run; writing LINE0001_101502_2"))
      << t.dump();
}

TEST(TranscribeDriver, ResultCodes) {
  {
    test::FakeConsole console;
    Persistent kept;
    float height = 0.2f;
    bool set = false;
    std::int32_t result = -1;
    KALXLATSUB("/nonexistent/folder/x.RAW", "X", height, set, result, kept);
    EXPECT_EQ(result, 3);
    // The file is tried before the height prompt; the reason follows the open-error line.
    EXPECT_EQ(console.lines, (std::vector<std::string>{
                                 "", "*** Transcription v1.22 ***",
                                 " *** Open error for input file=/nonexistent/folder/x.RAW",
                                 "cannot open /nonexistent/folder/x.RAW: No such file or directory"}))
        << console.dump();
  }
  const Transcription bad_type({kT1}, "q");
  EXPECT_EQ(bad_type.result, 5);
  EXPECT_EQ(bad_type.folder.files(), Files{"in.RAW"});
  const Transcription fatal({kT1, h_rec("10:502", "LINE0001", "261208", "1")}, "X");
  EXPECT_EQ(fatal.result, 2);
  {
    // A folder opens but cannot be read: result 1 with the line and the
    // error number of the system.
    test::FakeConsole console;
    test::TempDir folder;
    ASSERT_TRUE(folder.ready());
    std::filesystem::create_directory(folder.file("sub"));
    Persistent kept;
    float height = 0.2f;
    bool set = true;
    std::int32_t result = -1;
    KALXLATSUB(folder.file("sub/"), "X", height, set, result, kept);
#ifdef _WIN32
    EXPECT_EQ(result, 3);  // Windows does not open a folder as a file at all
#else
    EXPECT_EQ(result, 1);
    EXPECT_TRUE(console.has(" *** Read error in input file at line " + rjust(1, 12))) << console.dump();
    bool iostat = false;
    for (const auto& l : console.lines) iostat |= l.rfind(" IOSTAT=", 0) == 0;
    EXPECT_TRUE(iostat) << console.dump();
#endif
  }
  // A kept output that cannot be written (a full device): result 4 and the
  // write-error line, whether the loss shows at the close or in a write
  // while the run goes on (far more than one 64 KB buffer of stations).
  // Windows has no full device, and Wine cannot always make the link to it.
#ifndef _WIN32
  for (const int stations : {1, 3000}) {
    SCOPED_TRACE(stations);
    test::FakeConsole console;
    test::TempDir folder;
    ASSERT_TRUE(folder.ready());
    test::write_file(folder.file("in.RAW"),
                     test::join_lines(std::vector<std::string>(static_cast<std::size_t>(stations), kT1)));
    std::filesystem::create_symlink("/dev/full", folder.file("Default.xyz"));
    Persistent kept;
    float height = 0.2f;
    bool set = true;
    std::int32_t result = -1;
    KALXLATSUB(folder.file("in.RAW"), "X", height, set, result, kept);
    EXPECT_EQ(result, 4);
    EXPECT_EQ(console.count("*** Write error on output file=" + folder.file("Default.xyz")), 1) << console.dump();
    EXPECT_EQ(console.count("cannot write " + folder.file("Default.xyz") + ": No space left on device"), 1)
        << console.dump();
  }
  // An output name taken by a folder: the open-error line names the file
  // (no survey name is known yet) and the reason follows.
  {
    test::FakeConsole console;
    test::TempDir folder;
    ASSERT_TRUE(folder.ready());
    test::write_file(folder.file("in.RAW"), test::join_lines({kT1}));
    std::filesystem::create_directory(folder.file("Default.xyz"));
    Persistent kept;
    float height = 0.2f;
    bool set = true;
    std::int32_t result = -1;
    KALXLATSUB(folder.file("in.RAW"), "X", height, set, result, kept);
    EXPECT_EQ(result, 4);
    const int at = console.index_of(" *** Open error for outfile=" + folder.file("Default.xyz"));
    ASSERT_GE(at, 0) << console.dump();
    ASSERT_LT(static_cast<std::size_t>(at) + 1, console.lines.size());
    EXPECT_EQ(console.lines[static_cast<std::size_t>(at) + 1],
              "cannot create " + folder.file("Default.xyz") + ": Is a directory");
  }
#endif
}

// A non-numeric height reply asks again; the given height is kept on "/".
TEST(TranscribeDriver, HeightPrompt) {
  const Transcription asked({kT1}, "S", {"abc", "", "0.35"});
  EXPECT_EQ(asked.lines("Default.SAN")[0], "    -9        0.35");
  int prompts = 0;
  for (const auto& l : asked.console) {
    prompts += l == "Enter Sensor height manually or type / followed by <ENTER> to accept this value ";
  }
  EXPECT_EQ(prompts, 2);
  const Transcription given({kT1}, "S", {"/"}, true, 1.25f);
  EXPECT_EQ(given.lines("Default.SAN")[0], "    -9        1.25");
  EXPECT_FLOAT_EQ(given.height, 1.25f);
}

#ifndef _WIN32  // the Windows kalxlat.exe is run under Wine by the Linux build's tests
TEST(Kalxlat, UsageAndFirstFailure) {
  const std::string bin = std::string(KAL_BIN_DIR) + "/kalxlat";
  const int usage = std::system((bin + " > /dev/null 2>&1").c_str());
  ASSERT_TRUE(WIFEXITED(usage));
  EXPECT_EQ(WEXITSTATUS(usage), 64);
  test::TempDir folder;
  ASSERT_TRUE(folder.ready());
  const int missing =
      std::system(("cd '" + folder.file("") + "' && " + bin + " missing.RAW XQ < /dev/null > /dev/null 2>&1").c_str());
  ASSERT_TRUE(WIFEXITED(missing));
  EXPECT_EQ(WEXITSTATUS(missing), 3);  // X gives 3 first, Q would give 5
}
#endif

}  // namespace
}  // namespace kal::xlat

namespace kal::xlat {
namespace {

std::string a_rec(std::initializer_list<long long> a, std::initializer_list<long long> b, long long c) {
  return "A$" + ints(a, 6) + " " + ints(b, 6) + " " + rjust(c, 6);
}

// A$ lines: the Geosoft fields of the current station, then AuxA/10000
// (F9.5), AuxB x 10 (F9.0) and AuxC/100 (F7.2). Before the first file header
// only X and G have an auxiliary file.
TEST(TranscribeAux, AuxiliaryLines) {
  const std::string aux = a_rec({1, 2, 3}, {4, 5, 6}, 7);
  const Transcription x({h_rec("100000", "LINE0001", "261208", "1"), aux}, "X");
  EXPECT_EQ(x.folder.files(), (Files{"in.RAW", "LINE0001.xyz", "LINE0001.XYX"}));
  EXPECT_EQ(x.lines("LINE0001.XYX"),
            Lines{"     0" " " " "  // station, 1X, blank station mark
                  "     1" " " " "  // line (from the header), 1X, blank line mark
                  "     0.00     0.00     0.00     0.00 0 10  0  0.000  0.000    0.0    0"
                  "    0.00    0.00" + kNoGps + "  0.00010  0.00020  0.00030      40.      50.      60.   0.07"});
  const Transcription d({aux, h_rec("100000", "LINE0001", "261208", "1")}, "D");
  EXPECT_EQ(d.folder.files(), (Files{"in.RAW", "LINE0001.g31"}));
}

// The second call of a process skips the pre-pass and keeps the zone.
TEST(TranscribeGps, SecondCallKeepsTheZone) {
  Persistent kept;
  test::TempDir folder;
  ASSERT_TRUE(folder.ready());
  test::write_file(folder.file("in.RAW"), test::join_lines({g_rec(kGga45N75W), kT1}));
  test::FakeConsole console;
  float height = 0.2f;
  bool set = true;
  std::int32_t result = -1;
  KALXLATSUB(folder.file("in.RAW"), "X", height, set, result, kept);
  EXPECT_EQ(result, 0);
  const auto mean_lines = [&] {
    int n = 0;
    for (const auto& l : console.lines) n += l.rfind(" For mean Lat, Lon=", 0) == 0;
    return n;
  };
  EXPECT_EQ(mean_lines(), 1);
  KALXLATSUB(folder.file("in.RAW"), "S", height, set, result, kept);
  EXPECT_EQ(result, 0);
  EXPECT_EQ(mean_lines(), 1);
  EXPECT_EQ(kept.utm_zone, 18);
  const Lines san = test::read_lines(folder.file("Default.SAN"));
  ASSERT_EQ(san.size(), 2u);
  EXPECT_EQ(san[1].substr(0, 25), "    500000.0    4982950.4");
}

// Only the first 50,000 GGA fixes are averaged; every sentence still
// reaches the GPS file.
TEST(TranscribeGps, FixArraysHoldTheFirst50000) {
  const std::string far = with_checksum("GPGGA,100003,1000.0000,N,00100.0000,E,1,08,0.9,100.0,M,0.0,M,,");
  std::vector<std::string> raw(kMaxFixes, g_rec(kGga45N75W));
  for (int i = 0; i < 10; ++i) raw.push_back(g_rec(far));
  const Transcription t(raw, "R");
  EXPECT_EQ(t.result, 0);
  EXPECT_EQ(t.kept.utm_zone, 18);  // 45 N 75 W, not pulled towards 10 N 1 E
  EXPECT_EQ(t.lines("DEFAULT.GPS").size(), static_cast<std::size_t>(kMaxFixes + 10));
}

}  // namespace
}  // namespace kal::xlat

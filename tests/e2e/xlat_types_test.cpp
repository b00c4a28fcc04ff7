// Every output type of kalxlat on one survey: each station record layout
// (T$ of 58/65/79/83 columns, D$, N$, $PKLVT), the status, auxiliary and GPS
// records, and the line each writer makes of them. Expected lines are
// worked out field by field; the station values are listed once with the
// RAW file and the per-type comments give the edit descriptors.
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "common/rejected_mark.h"
#include "e2e/xlat_harness.h"
#include "e2e/xlat_records.h"
#include "support/quick_look_report.h"

namespace kal::xtest {
namespace {

using Files = std::set<std::string>;
using Lines = std::vector<std::string>;

const std::string kGgaGP = "GPGGA,100011,4500.0000,N,07500.0000,W,1,08,0.9,100.0,M,0.0,M,,";
const std::string kGgaGN = "GNGGA,100013,4530.0000,N,07515.0000,W,2,10,1.2,50.5,M,0.0,M,,";
const std::string kPklvt =
    "$PKLVT,100010,0001500,0020000,-000500,0028000,0000077,0000066,12200,02400,000123,-00045,CONV";

// The survey. Conversion factors for length code 1 (1.0 m / 1.1 m):
// HcpFactor = 2pi*9000 * 4e-7*pi * 1.0^2 / 4 = 0.017765289 (float),
// PrpFactor = the same * 1.21 = 0.021496. CONV readings: HC = HQ/10,
// HI = HI/100, PC = PQ/10, PI = PI/100 (no offsets).
Lines survey(bool with_gps) {
  Lines raw = {
      // Identification: model "1  " -> code 1, one geometry; version 5.1.
      c_rec("120000", "KALVOR-1   SNA1234567  SW VERSION 5.1a"),
      // LINE0001, date 26-12-8, code 1; LineNumber 1, Voltage/Temperature 0.
      header_rec("100000", "LINE0001", "261208", "1"),
      c_rec("100001", "FIRST COMMENT"),  // slot 1
      // AS$ 34: V 12500/1000 = 12.5, T 2361/100 = 23.61, pitch 1.5, roll -2.5.
      as34("100002", 12500, 2361, 150, -250),
      // S1 T$58 10:00:03: HC 123.4 HI -5.67 PC 234.5 PI 0.89; keeps pitch/roll.
      t58("100003", 1, "CONV", {11, 22, 1234, -567, 2345, 89}),
      // S2 T$65 10:00:04: HC 50 HI 1.5 PC 60 PI -1.5; pitch 12/10, roll -34/10.
      t65("100004", 2, "CONV", {33, 44, 500, 150, 600, -150}, 12, -34),
      // S3 T$79 10:00:05: HC 250 HI -10 PC 300 PI 10; V 12.34, T 25.12,
      // pitch 4.5, roll -6.7.
      t79("100005", 3, "CONV", {-1, 7, 2500, -1000, 3000, 1000}, 12340, 2512, 45, -67),
      // S4 T$83 10:00:06.250: HC 10 HI 2 PC 30 PI 4; V 11.9, T 18.5; angle
      // rule: 321 -> 321-300 = 21, -321 -> -21.
      t83("100006", 250, 4, "CONV", {5, 6, 100, 200, 300, 400}, 11900, 1850, 321, -321),
      // S5 T$83 10:00:07.000: all zero; V 11.8, T 17; 320 -> 32.0, -320 -> -32.0.
      t83("100007", 0, 5, "CONV", {0, 0, 0, 0, 0, 0}, 11800, 1700, 320, -320),
      // S6 D$72 (version 5.1): line 12 mark N, station 6 mark E, digit 1;
      // HC 432.1 HI -0.5 PC 543.2 PI 0.75; V 12, T 20; pitch -335 -> -35,
      // roll 15 -> 1.5; the millisecond keeps 0.
      d72("100008", 12, 'N', 6, 'E', 1, {4321, -50, 5432, 75}, 12000, 2000, -335, 15),
      // S7 N$: V 12.1, T 21.5, pitch 2.5, roll -1.5, HC 1500/10 = 150,
      // PC 250; HI, PI from the held in-phase readings: -0.5, 0.75.
      n_rec("100009", 12100, 2150, {250, -150, 1500, 2500, 0, 0}),
      // Auxiliary line from the S7 state.
      a_rec({12345, -500, 0}, {7, -8, 9}, 2575),
      // S8 $PKLVT: station 6+1 = 7; HI 1500/1000 = 1.5; HC = (20000/1000) /
      // 0.017765289 = 1125.791; PI -0.5; PC = 28 / 0.021496 = 1302.568;
      // ExtraB 77, ExtraA 66; V 12.2, T 24.0; pitch 1.23, roll -0.45.
      kPklvt,
      g_rec(kGgaGP),  // 10:00:11 = 36,011,000 ms, 45 N, 75 W, alt 100.0, fix 1, 8 sats, HDOP 0.9
      // S9 T$58 10:00:12 station 8: HC 0.3 HI 0.04 PC 0.5 PI 0.06.
      t58("100012", 8, "CONV", {1, 2, 3, 4, 5, 6}),
      g_rec(kGgaGN),  // 36,013,000 ms, 45.5 N, 75.25 W, alt 50.5, fix 2, 10 sats, HDOP 1.2
      // S10 T$58 10:00:14 station 9: all zero.
      t58("100014", 9, "CONV", {0, 0, 0, 0, 0, 0}),
  };
  if (!with_gps) {
    std::erase(raw, g_rec(kGgaGP));
    std::erase(raw, g_rec(kGgaGN));
  }
  return raw;
}

const std::string kGpsLineGP = "$" + with_checksum(kGgaGP);
const std::string kGpsLineGN = "$" + with_checksum(kGgaGN);

// Auxiliary line: the Geosoft layout of the S7 state with pitch/roll F8.2
// (seconds 9.000 F7.3, V F7.3, T F7.1), then AuxA/10000 F9.5 (1.2345,
// -0.05, 0), AuxB*10 F9.0 (70, -80, 90), AuxC/100 F7.2 (25.75).
const std::string kAuxLine =
    "     6 E    12 N   150.00    -0.50   250.00     0.75 1 10  0  9.000 12.100   21.5    0"
    "    2.50   -1.50            0    0.000000     0.000000     0.0  0"
    "  1.23450 -0.05000  0.00000      70.     -80.      90.  25.75";

const std::string kComment = "    1 FIRST COMMENT   ";


// XYZ: I6 station, I6 line, F9.2 group, I2 digit, then by record:
// T$/D$/X$: I3 hour, I3 minute, F7.3 seconds, F7.3 V, F7.1 T;
// N$: 1X, 3I3, F7.3, F7.1; $PKLVT: 3I3, F7.3, F7.2 T. Then 1X, I4 comment,
// pitch/roll F8.2 (T$) or F7.2, 1X, I12 GPS time, F12.6 lat, 1X, F12.6 lon,
// 1X, F7.1 alt, 1X, I2 fix.
TEST(XlatTypes, TypeXEveryRecordLayout) {
  TempDir dir;
  const XlatRun run = run_raw(dir, survey(true), "X");
  ASSERT_FALSE(run.timed_out);
  EXPECT_EQ(run.status, 0) << run.out;
  EXPECT_EQ(list_files(dir.path()),
            (Files{"in.RAW", "LINE0001.xyz", "LINE0001.XYX", "LINE0001.GPS", "LINE0001.CMT"}));
  expect_lines(dir, "LINE0001.xyz", {
      "     1     1   123.40    -5.67   234.50     0.89 0 10  0  3.000 12.500   23.6    1    1.50   -2.50            0    0.000000     0.000000     0.0  0",
      "     2     1    50.00     1.50    60.00    -1.50 0 10  0  4.000 12.500   23.6    0    1.20   -3.40            0    0.000000     0.000000     0.0  0",
      "     3     1   250.00   -10.00   300.00    10.00 0 10  0  5.000 12.340   25.1    0    4.50   -6.70            0    0.000000     0.000000     0.0  0",
      "     4     1    10.00     2.00    30.00     4.00 0 10  0  6.250 11.900   18.5    0   21.00  -21.00            0    0.000000     0.000000     0.0  0",
      "     5     1     0.00     0.00     0.00     0.00 0 10  0  7.000 11.800   17.0    0   32.00  -32.00            0    0.000000     0.000000     0.0  0",
      // D$: pitch/roll F7.2
      "     6    12   432.10    -0.50   543.20     0.75 1 10  0  8.000 12.000   20.0    0 -35.00   1.50            0    0.000000     0.000000     0.0  0",
      // N$: 1X, hour minute second I3
      "     6    12   150.00    -0.50   250.00     0.75 1  10  0  9 12.100   21.5    0   2.50  -1.50            0    0.000000     0.000000     0.0  0",
      // $PKLVT: second I3, temperature F7.2
      "     7    12  1125.79     1.50  1302.57    -0.50 1 10  0 10 12.200  24.00    0   1.23  -0.45            0    0.000000     0.000000     0.0  0",
      // after the GP sentence
      "     8    12     0.30     0.04     0.50     0.06 1 10  0 12.000 12.200   24.0    0    1.23   -0.45     36011000   45.000000   -75.000000   100.0  1",
      // after the GN sentence: 45 + 30/60, -(75 + 15/60)
      "     9    12     0.00     0.00     0.00     0.00 1 10  0 14.000 12.200   24.0    0    1.23   -0.45     36013000   45.500000   -75.250000    50.5  2",
  });
  expect_lines(dir, "LINE0001.XYX", {kAuxLine});
  expect_lines(dir, "LINE0001.GPS", {kGpsLineGP, kGpsLineGN});
  expect_lines(dir, "LINE0001.CMT", {kComment});
  // Mean of 45/-75 and 45.5/-75.25 lies in zone 18 (I12 in free form).
  EXPECT_TRUE(run.has_line_containing(" get UTM Zone Number           18")) << numbered(run.lines);
  EXPECT_TRUE(run.has_line_containing("InstrumentID >KALVOR-1   SNA1234567  SW VERSION 5.1a  "));
  EXPECT_TRUE(run.has_line_containing("Comment>FIRST COMMENT    at:  10  0  1"));
}

// Geosoft: three header lines at the file switch, the comment line, then
// I6 station, 1X, A1 station mark, I6 line, 1X, A1 line mark and fields 3-20
// of the XYZ line; T$ and $PKLVT as the X T$ variant (F8.2), D$ F7.2, N$:
// 1X, 3I3, V F9.3, T F8.2, F7.2.
TEST(XlatTypes, TypeGEveryRecordLayout) {
  TempDir dir;
  const XlatRun run = run_raw(dir, survey(true), "G");
  EXPECT_EQ(run.status, 0) << run.out;
  EXPECT_EQ(list_files(dir.path()),
            (Files{"in.RAW", "LINE0001.xyz", "LINE0001.XYX", "LINE0001.GPS", "LINE0001.CMT"}));
  expect_lines(dir, "LINE0001.xyz", {
      "\\Kalvor Filename is LINE0001.xyz       ",  // out_name in 19 characters
      "\\Kalvor Sensor Length Code is  1",         // I2
      // code 1 leaves the channel heading blank
      "\\..STN.SP.LINE.LP..N.HH.MM.SS.V.......T-K.....CN..Ptch...Roll......GPS_TIME..Lat..........Lon.........GPS_Alt.DMode",
      "\\FIRST COMMENT    at:  10  0  1",
      "     1       1     123.40    -5.67   234.50     0.89 0 10  0  3.000 12.500   23.6    1    1.50   -2.50            0    0.000000     0.000000     0.0  0",
      "     2       1      50.00     1.50    60.00    -1.50 0 10  0  4.000 12.500   23.6    0    1.20   -3.40            0    0.000000     0.000000     0.0  0",
      "     3       1     250.00   -10.00   300.00    10.00 0 10  0  5.000 12.340   25.1    0    4.50   -6.70            0    0.000000     0.000000     0.0  0",
      "     4       1      10.00     2.00    30.00     4.00 0 10  0  6.250 11.900   18.5    0   21.00  -21.00            0    0.000000     0.000000     0.0  0",
      "     5       1       0.00     0.00     0.00     0.00 0 10  0  7.000 11.800   17.0    0   32.00  -32.00            0    0.000000     0.000000     0.0  0",
      "     6 E    12 N   432.10    -0.50   543.20     0.75 1 10  0  8.000 12.000   20.0    0 -35.00   1.50            0    0.000000     0.000000     0.0  0",
      "     6 E    12 N   150.00    -0.50   250.00     0.75 1  10  0  9   12.100   21.50    0   2.50  -1.50            0    0.000000     0.000000     0.0  0",
      "     7 E    12 N  1125.79     1.50  1302.57    -0.50 1 10  0 10.000 12.200   24.0    0    1.23   -0.45            0    0.000000     0.000000     0.0  0",
      "     8 E    12 N     0.30     0.04     0.50     0.06 1 10  0 12.000 12.200   24.0    0    1.23   -0.45     36011000   45.000000   -75.000000   100.0  1",
      "     9 E    12 N     0.00     0.00     0.00     0.00 1 10  0 14.000 12.200   24.0    0    1.23   -0.45     36013000   45.500000   -75.250000    50.5  2",
  });
  expect_lines(dir, "LINE0001.XYX", {kAuxLine});
  expect_lines(dir, "LINE0001.GPS", {kGpsLineGP, kGpsLineGN});
}

// A file header with code 15 gives the G heading of two geometries.
TEST(XlatTypes, TypeGTwoGeometryHeading) {
  TempDir dir;
  const XlatRun run = run_raw(dir, {header_rec("100000", "LINE0015", "261208", "15")}, "G");
  EXPECT_EQ(run.status, 0) << run.out;
  expect_lines(dir, "LINE0015.xyz", {
      "\\Kalvor Filename is LINE0015.xyz       ",
      "\\Kalvor Sensor Length Code is 15",
      "\\..STN.SP.LINE.LP.HC5-mS/m.HI5-ppt.PC5-mS/m..PI5-ppt.HC1-mS/m.HI1-ppt.PC1-mS/m..PI1-ppt."
      ".N.HH.MM.SS.V.......T-K.....CN..Ptch...Roll......GPS_TIME..Lat..........Lon.........GPS_Alt.DMode",
  });
}

// Log: I6 station, F9.2 group, I2 digit, I4 code of the station mark
// (blank 32, E 69), I6 line, I4 code of the line mark (N 78), then fields
// 5-20; T$ adds ExtraA, ExtraB F8.0 after T; N$: 3I3 (no leading blank);
// $PKLVT as X plus ExtraA, ExtraB F10.0.
TEST(XlatTypes, TypeLEveryRecordLayout) {
  TempDir dir;
  const XlatRun run = run_raw(dir, survey(true), "L");
  EXPECT_EQ(run.status, 0) << run.out;
  EXPECT_EQ(list_files(dir.path()),
            (Files{"in.RAW", "LINE0001.log", "LINE0001.XYX", "LINE0001.GPS", "LINE0001.CMT"}));
  expect_lines(dir, "LINE0001.log", {
      "     1   123.40    -5.67   234.50     0.89 0  32     1  32 10  0  3.000 12.500   23.6     11.     22.    1    1.50   -2.50            0    0.000000     0.000000     0.0  0",
      "     2    50.00     1.50    60.00    -1.50 0  32     1  32 10  0  4.000 12.500   23.6     33.     44.    0    1.20   -3.40            0    0.000000     0.000000     0.0  0",
      "     3   250.00   -10.00   300.00    10.00 0  32     1  32 10  0  5.000 12.340   25.1     -1.      7.    0    4.50   -6.70            0    0.000000     0.000000     0.0  0",
      "     4    10.00     2.00    30.00     4.00 0  32     1  32 10  0  6.250 11.900   18.5      5.      6.    0   21.00  -21.00            0    0.000000     0.000000     0.0  0",
      "     5     0.00     0.00     0.00     0.00 0  32     1  32 10  0  7.000 11.800   17.0      0.      0.    0   32.00  -32.00            0    0.000000     0.000000     0.0  0",
      "     6   432.10    -0.50   543.20     0.75 1  69    12  78 10  0  8.000 12.000   20.0    0 -35.00   1.50            0    0.000000     0.000000     0.0  0",
      "     6   150.00    -0.50   250.00     0.75 1  69    12  78 10  0  9 12.100   21.5    0   2.50  -1.50            0    0.000000     0.000000     0.0  0",
      "     7  1125.79     1.50  1302.57    -0.50 1  69    12  78 10  0 10 12.200  24.00       66.       77.    0   1.23  -0.45            0    0.000000     0.000000     0.0  0",
      "     8     0.30     0.04     0.50     0.06 1  69    12  78 10  0 12.000 12.200   24.0      1.      2.    0    1.23   -0.45     36011000   45.000000   -75.000000   100.0  1",
      "     9     0.00     0.00     0.00     0.00 1  69    12  78 10  0 14.000 12.200   24.0      0.      0.    0    1.23   -0.45     36013000   45.500000   -75.250000    50.5  2",
  });
  expect_lines(dir, "LINE0001.XYX", {kAuxLine});
}

// Dat31: the file header line, then per change of line number the L and T
// headers, and two S lines per station (HCP pair on V, PRP pair on H,
// F10.3 each).
TEST(XlatTypes, TypeDLineAndTimeHeadersOncePerLine) {
  TempDir dir;
  const XlatRun run = run_raw(dir, survey(true), "D");
  EXPECT_EQ(run.status, 0) << run.out;
  EXPECT_EQ(list_files(dir.path()),
            (Files{"in.RAW", "LINE0001.g31", "LINE0001.XYX", "LINE0001.GPS", "LINE0001.CMT"}));
  expect_lines(dir, "LINE0001.g31", {
      // "RI31", 1X, "V1.XX", name A8, 5X, "Kalvor-4 Data "
      "RI31 V1.XXLINE0001     Kalvor-4 Data ",
      // "L", I5 line, 7X, "BB", I1 digit, A3 line mark, A2 station mark, F4.1 1.0
      "L    1       BB0      1.0",
      // "T", I5 hour, ":", I2 minute, I3 26, "-", I2 12, "-", I2 8
      "T   10: 0 26-12- 8",
      "SV10     1.000   123.400    -5.670",
      "SH10     1.000   234.500     0.890",
      "SV10     2.000    50.000     1.500",
      "SH10     2.000    60.000    -1.500",
      "SV10     3.000   250.000   -10.000",
      "SH10     3.000   300.000    10.000",
      "SV10     4.000    10.000     2.000",
      "SH10     4.000    30.000     4.000",
      "SV10     5.000     0.000     0.000",
      "SH10     5.000     0.000     0.000",
      "L   12       BB1  N E 1.0",
      "T   10: 0 26-12- 8",
      "SV10     6.000   432.100    -0.500",
      "SH10     6.000   543.200     0.750",
      "SV10     6.000   150.000    -0.500",  // N$: same line, no headers
      "SH10     6.000   250.000     0.750",
      "SV10     7.000  1125.791     1.500",
      "SH10     7.000  1302.568    -0.500",
      "SV10     8.000     0.300     0.040",
      "SH10     8.000     0.500     0.060",
      "SV10     9.000     0.000     0.000",
      "SH10     9.000     0.000     0.000",
  });
}

// SAN without positions: header -9 I6 and the height F12.2, then easting =
// line number and northing = station number (F12.1), 1X each, 0.0 F8.2,
// HC and PC F9.2, latitude and longitude F14.8, GPS time I12.
TEST(XlatTypes, TypeSWithoutGpsUsesLineAndStation) {
  TempDir dir;
  const XlatRun run = run_raw(dir, survey(false), "S");
  EXPECT_EQ(run.status, 0) << run.out;
  EXPECT_EQ(list_files(dir.path()),
            (Files{"in.RAW", "LINE0001.san", "LINE0001.XYX", "LINE0001.CMT"}));
  expect_lines(dir, "LINE0001.san", {
      "    -9        0.20",
      "         1.0          1.0     0.00   123.40   234.50    0.00000000    0.00000000           0",
      "         1.0          2.0     0.00    50.00    60.00    0.00000000    0.00000000           0",
      "         1.0          3.0     0.00   250.00   300.00    0.00000000    0.00000000           0",
      "         1.0          4.0     0.00    10.00    30.00    0.00000000    0.00000000           0",
      "         1.0          5.0     0.00     0.00     0.00    0.00000000    0.00000000           0",
      "        12.0          6.0     0.00   432.10   543.20    0.00000000    0.00000000           0",
      "        12.0          6.0     0.00   150.00   250.00    0.00000000    0.00000000           0",
      "        12.0          7.0     0.00  1125.79  1302.57    0.00000000    0.00000000           0",
      "        12.0          8.0     0.00     0.30     0.50    0.00000000    0.00000000           0",
      "        12.0          9.0     0.00     0.00     0.00    0.00000000    0.00000000           0",
  });
}

// SAN with a position: 45 N 75 W lies on the central meridian of zone 18,
// so easting is 500000.0 and northing 4982950.4 (GRS 80).
TEST(XlatTypes, TypeSWithGpsProjectsToUtm) {
  TempDir dir;
  const std::string gga = "GPGGA,100002,4500.0000,N,07500.0000,W,1,08,0.9,100.0,M,0.0,M,,";
  const XlatRun run = run_raw(dir,
                               {header_rec("100000", "LINE0001", "261208", "1"), g_rec(gga),
                                t58("100003", 1, "CONV", {11, 22, 1234, -567, 2345, 89})},
                               "S");
  EXPECT_EQ(run.status, 0) << run.out;
  EXPECT_EQ(list_files(dir.path()), (Files{"in.RAW", "LINE0001.san", "LINE0001.GPS"}));
  expect_lines(dir, "LINE0001.san", {
      "    -9        0.20",
      "    500000.0    4982950.4     0.00   123.40   234.50   45.00000000  -75.00000000    36002000",
  });
  expect_lines(dir, "LINE0001.GPS", {"$" + with_checksum(gga)});
}

// IDF: I6 station, F6.2 height, F7.2 pitch and roll, per geometry F9.0 of
// HI*1000, HC*HcpFactor*1000, PI*1000, PC*PrpFactor*1000 (e.g. S1:
// 123.4*0.017765289*1000 = 2192.2 -> 2192., 234.5*0.021496*1000 = 5040.8
// -> 5041.), then F12.6 lat, 1X, F12.6 lon, 1X, F7.1 alt, 1X, I2 fix, I10
// GPS time, two I2 zeros, I3 satellites, F9.3 HDOP. The SDF goes first.
TEST(XlatTypes, TypePIdfLinesAndSdf) {
  TempDir dir;
  const XlatRun run = run_raw(dir, survey(true), "P");
  EXPECT_EQ(run.status, 0) << run.out;
  EXPECT_EQ(list_files(dir.path()), (Files{"in.RAW", "LINE0001.idf", "LINE0001.SDF", "LINE0001.XYX",
                                           "LINE0001.GPS", "LINE0001.CMT"}));
  expect_lines(dir, "LINE0001.idf", {
      "     1  0.20   1.50  -2.50   -5670.    2192.     890.    5041.    0.000000     0.000000     0.0  0         0 0 0  0    0.000",
      "     2  0.20   1.20  -3.40    1500.     888.   -1500.    1290.    0.000000     0.000000     0.0  0         0 0 0  0    0.000",
      "     3  0.20   4.50  -6.70  -10000.    4441.   10000.    6449.    0.000000     0.000000     0.0  0         0 0 0  0    0.000",
      "     4  0.20  21.00 -21.00    2000.     178.    4000.     645.    0.000000     0.000000     0.0  0         0 0 0  0    0.000",
      "     5  0.20  32.00 -32.00       0.       0.       0.       0.    0.000000     0.000000     0.0  0         0 0 0  0    0.000",
      "     6  0.20 -35.00   1.50    -500.    7676.     750.   11677.    0.000000     0.000000     0.0  0         0 0 0  0    0.000",
      "     6  0.20   2.50  -1.50    -500.    2665.     750.    5374.    0.000000     0.000000     0.0  0         0 0 0  0    0.000",
      // $PKLVT: (20000/1000)/f*f*1000 and 28/f*f*1000 give back the raw quadratures
      "     7  0.20   1.23  -0.45    1500.   20000.    -500.   28000.    0.000000     0.000000     0.0  0         0 0 0  0    0.000",
      "     8  0.20   1.23  -0.45      40.       5.      60.      11.   45.000000   -75.000000   100.0  1  36011000 0 0  8    0.900",
      "     9  0.20   1.23  -0.45       0.       0.       0.       0.   45.500000   -75.250000    50.5  2  36013000 0 0 10    1.200",
  });
  expect_lines(dir, "LINE0001.SDF", {
      "            2",  // free form: 2 x GeometryCount as I12 after one blank
      // 2I3, F8.0, F5.2, I4, F5.2, 2F8.5, 2F5.1
      "  1  1   9000. 1.00   3 0.00 1.00000 0.00000  1.0  1.0",
      "  0  1   9000. 1.10   4 0.00 1.00000 0.00000  1.0  1.0",
  });
}

// A sibling instrument's IDF station number is the second of the day.
TEST(XlatTypes, TypePSiblingStationIsSecondOfDay) {
  TempDir dir;
  const XlatRun run = run_raw(dir,
                               {c_rec("120000", "PELOR-1    SNA1234567  SW VERSION 5.1a"),
                                header_rec("100000", "LINE0001", "261208", "1"),
                                t58("101503", 1, "CONV", {11, 22, 1234, -567, 2345, 89})},
                               "P");
  EXPECT_EQ(run.status, 0) << run.out;
  // (10*60 + 15)*60 + 3 = 36903 as I6.
  expect_lines(dir, "LINE0001.idf", {
      " 36903  0.20   0.00   0.00   -5670.    2192.     890.    5041.    0.000000     0.000000     0.0  0         0 0 0  0    0.000",
  });
}

// ICE and DAT: one I$ record (version 6.2: pitch 25/10, roll -15/10,
// height 35/100 m, reading 12345/10000; channels 12345/10000, 250/100,
// 7500/1000) after a position at 45 N 75 W.
TEST(XlatTypes, TypeIIceLineAndDatRecord) {
  TempDir dir;
  const std::string gga = "GPGGA,100002,4500.0000,N,07500.0000,W,1,08,0.9,100.0,M,0.0,M,,";
  const XlatRun run = run_raw(
      dir,
      {c_rec("120000", "KALVOR-1   SNA1234567  SW VERSION 6.2 "),
       header_rec("100000", "LINE0001", "261208", "1"), g_rec(gga),
       // 3X, 3I2, 1X, I4 pitch, I4 roll, I4 height, 1X, I5, 1X, I2 n, 1X, I5, 2I6
       "I$100005   25 -15  35 12345  3 12345   250  7500"},
      "I");
  EXPECT_EQ(run.status, 0) << run.out;
  EXPECT_EQ(list_files(dir.path()),
            (Files{"in.RAW", "LINE0001.ice", "LINE0001.DAT", "LINE0001.GPS"}));
  expect_lines(dir, "LINE0001.ice", {
      // F14.6 lat, F14.6 lon, I3 n, 3F9.4 channels, F7.4 reading, I2 1,
      // F7.2 height, pitch, roll, 1X, I12 (10*60+0)*60+5 = 36005, I2 0, I4 0,
      // F14.1 easting, F14.1 northing, I4 fix, I4 sats, F9.3 HDOP, F8.1 alt
      "     45.000000    -75.000000  3   1.2345   2.5000   7.5000 1.2345 1   0.35   2.50  -1.50"
      "        36005 0   0      500000.0     4982950.4   1   8    0.900   100.0",
  });
  EXPECT_FALSE(run.has_line_containing("EMS software version change"));
  EXPECT_TRUE(run.has_line("     Ellipsoid used is            9 zone           18"))
      << numbered(run.lines);
  EXPECT_TRUE(run.has_line("    -9        0.35"));
  // 35 bytes, little-endian: 450000000 = 0x1AD27480; -750000000 =
  // 0xD34BE880; 36005 = 0x8CA5; 0.35f = 0x3EB33333; 2.5f = 0x40200000;
  // trunc(1.2345*1000) = 1234 -> 1234.0f = 0x449A4000; 1.2345f =
  // 0x3F9E0419; 0.0f; three zero bytes.
  const unsigned char want[35] = {0x80, 0x74, 0xD2, 0x1A, 0x80, 0xE8, 0x4B, 0xD3, 0xA5,
                                  0x8C, 0x00, 0x00, 0x33, 0x33, 0xB3, 0x3E, 0x00, 0x00,
                                  0x20, 0x40, 0x00, 0x40, 0x9A, 0x44, 0x19, 0x04, 0x9E,
                                  0x3F, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00};
  EXPECT_EQ(read_file(dir.file("LINE0001.DAT")),
            std::string(reinterpret_cast<const char*>(want), sizeof want));
}

// Reference lines: 1X, I9 pair count, 3I3 time, ".", I3 ms, then 7 or 14
// I10. A lone first half before any pair gives a 7-value line; after the
// first pair only complete pairs are written.
TEST(XlatTypes, ReferencePairsGoToDefaultRaw) {
  const Lines raw = {
      t58("100001", 1, "CONV", {0, 0, 10, 20, 30, 40}),  // time 10:00:01.000
      r_rec({1, 2, 3, 4, 5, 6, 7}),                       // first half, count 1
      r_rec({-1, -2, -3, -4, -5, -6, -7}),                // same time: second half
      t83("100002", 500, 2, "CONV", {0, 0, 10, 20, 30, 40}, 12000, 2000, 0, 0),
      r_rec({10, 20, 30, 40, 50, 60, 70}),  // first half, count 2: nothing yet
      r_rec({11, 21, 31, 41, 51, 61, 71}),  // pair 2
  };
  const Lines want = {
      "         1 10  0  1.  0         1         2         3         4         5         6         7",
      "         1 10  0  1.  0         1         2         3         4         5         6         7"
      "        -1        -2        -3        -4        -5        -6        -7",
      "         2 10  0  2.500        10        20        30        40        50        60        70"
      "        11        21        31        41        51        61        71",
  };
  struct Case {
    const char* type;
    Files files;
  };
  for (const Case& c : {Case{"R", {"in.RAW", "Default.RAW"}},
                        Case{"X", {"in.RAW", "Default.RAW", "Default.xyz"}}}) {
    TempDir dir;
    const XlatRun run = run_raw(dir, raw, c.type);
    EXPECT_EQ(run.status, 0) << c.type << run.out;
    EXPECT_EQ(list_files(dir.path()), c.files) << c.type;
    expect_lines(dir, "Default.RAW", want);
  }
}

// Two geometries (code 21): T$ writes nothing under X, L, S, P; the X$
// that follows writes both groups (pitch/roll F7.2); D writes the T$ and
// ignores the X$. X$ g2 CONV: 2000/10, 400/100, 2500/10, -600/100; then
// 1500/10, -250/100, 1600/10, 350/100 with 125 ms.
TEST(XlatTypes, TwoGeometryStationWaitsForX) {
  const Lines raw = {header_rec("100000", "LINE0021", "261208", "21"),
                     t58("100001", 1, "CONV", {11, 22, 1234, -567, 2345, 89}),
                     x_rec("100002", {{2000, 400, 2500, -600}}),
                     x_rec_ms("100003", 125, {{1500, -250, 1600, 350}})};
  const std::string g1 = "   123.40    -5.67   234.50     0.89";
  const std::string tail = "   0   0.00   0.00            0    0.000000     0.000000     0.0  0";
  {
    TempDir dir;
    const XlatRun run = run_raw(dir, raw, "X");
    EXPECT_EQ(run.status, 0) << run.out;
    expect_lines(dir, "LINE0021.xyz", {
        "     1     1" + g1 + "   200.00     4.00   250.00    -6.00 0 10  0  2.000  0.000    0.0 " + tail,
        "     1     1" + g1 + "   150.00    -2.50   160.00     3.50 0 10  0  3.125  0.000    0.0 " + tail,
    });
  }
  {
    TempDir dir;
    const XlatRun run = run_raw(dir, raw, "L");
    EXPECT_EQ(run.status, 0) << run.out;
    expect_lines(dir, "LINE0021.log", {
        "     1" + g1 + "   200.00     4.00   250.00    -6.00 0  32     1  32 10  0  2.000  0.000    0.0 " + tail,
        "     1" + g1 + "   150.00    -2.50   160.00     3.50 0  32     1  32 10  0  3.125  0.000    0.0 " + tail,
    });
  }
  {
    TempDir dir;
    const XlatRun run = run_raw(dir, raw, "S");
    EXPECT_EQ(run.status, 0) << run.out;
    expect_lines(dir, "LINE0021.san", {
        "    -9        0.20",
        "         1.0          1.0     0.00   123.40   234.50   200.00   250.00    0.00000000    0.00000000           0",
        "         1.0          1.0     0.00   123.40   234.50   150.00   160.00    0.00000000    0.00000000           0",
    });
  }
  {
    TempDir dir;
    const XlatRun run = run_raw(dir, raw, "D");
    EXPECT_EQ(run.status, 0) << run.out;
    expect_lines(dir, "LINE0021.g31", {
        "RI31 V1.XXLINE0021     Kalvor-4 Data ",
        "L    1       BB0      1.0",
        "T   10: 0 26-12- 8",
        "SV10     1.000   123.400    -5.670",
        "SH10     1.000   234.500     0.890",
    });
  }
}

// A T$ record of 80 columns is reported and the station is written again
// from the values held.
TEST(XlatTypes, BadLengthTRecordWritesHeldStation) {
  TempDir dir;
  const std::string bad =
      t79("100009", 7, "CONV", {9, 9, 9999, 9999, 9999, 9999}, 13000, 3000, 11, 11) + "9";
  ASSERT_EQ(bad.size() + 1, 80u);
  const XlatRun run = run_raw(dir,
                               {header_rec("100000", "LINE0001", "261208", "1"),
                                t58("100001", 1, "CONV", {11, 22, 1234, -567, 2345, 89}), bad},
                               "X");
  EXPECT_EQ(run.status, 0) << run.out;
  EXPECT_TRUE(run.has_line_containing("T$ packet error:")) << numbered(run.lines);
  EXPECT_TRUE(run.has_line_containing(bad)) << numbered(run.lines);
  const std::string held =
      "     1     1   123.40    -5.67   234.50     0.89 0 10  0  1.000  0.000    0.0    0"
      "    0.00    0.00            0    0.000000     0.000000     0.0  0";
  expect_lines(dir, "LINE0001.xyz", {held, held});
}

// NULD data without a known configuration: the full length-code prompt
// once; "/" keeps code 1 (1.0 m, 1.1 m). HC = (1700/100)/0.017765289 =
// 956.92, PC = (2000/100)/0.021496 = 930.41, HI = 2.5, PI = -1.25.
TEST(XlatTypes, NuldPromptsOnceAndSlashSelectsCodeOne) {
  TempDir dir;
  const XlatRun run = run_raw(dir,
                               {t58("100001", 1, "NULD", {0, 0, 1700, 250, 2000, -125}),
                                t58("100002", 2, "NULD", {0, 0, 1700, 250, 2000, -125})},
                               "X", "/\n/\n");
  EXPECT_EQ(run.status, 0) << run.out;
  EXPECT_EQ(run.count_lines_containing(
                "Enter Kalvor Length Code (1,15,2,4,21,215,42,421,62,621,642 or 842, default=1)"),
            1)
      << numbered(run.lines);
  EXPECT_TRUE(run.has_line_containing("     where 15 and 215 represent the 1HQ and 21HQ instruments"));
  const std::string rest =
      "   956.92     2.50   930.41    -1.25 0 10  0";
  const std::string tail =
      "  0.000    0.0    0    0.00    0.00            0    0.000000     0.000000     0.0  0";
  expect_lines(dir, "Default.xyz", {"     1     0" + rest + "  1.000" + tail,
                                    "     2     0" + rest + "  2.000" + tail});
}

// AS$ of 21 columns: V "12500" F5.3 -> 12.5; T "12345" F5.1 -> 1234.5,
// above 1000 so /10 -> 123.45 (as float 123.4499969, F7.1 "  123.4").
TEST(XlatTypes, StatusTemperatureAboveThousandIsDividedByTen) {
  TempDir dir;
  const XlatRun run = run_raw(dir,
                               {header_rec("100000", "LINE0001", "261208", "1"),
                                as21("100002", "12500", "12345"),
                                t58("100003", 1, "CONV", {11, 22, 1234, -567, 2345, 89})},
                               "X");
  EXPECT_EQ(run.status, 0) << run.out;
  expect_lines(dir, "LINE0001.xyz", {
      "     1     1   123.40    -5.67   234.50     0.89 0 10  0  3.000 12.500  123.4    0"
      "    0.00    0.00            0    0.000000     0.000000     0.0  0"});
}

// O$ offsets in millionths: k=1, HCP in-phase 100, PRP in-phase 200, HCP
// quadrature 300, PRP quadrature 400 -> 0.1, 0.2, 0.3, 0.4 ppt. CONV:
// HC = 123.4 - 0.3/0.017765289 = 106.51, HI = -5.67 - 0.1 = -5.77,
// PC = 234.5 - 0.4/0.021496 = 215.89, PI = 0.89 - 0.2 = 0.69.
TEST(XlatTypes, RtmOffsetsCorrectConvReadings) {
  TempDir dir;
  const XlatRun run = run_raw(dir,
                               {header_rec("100000", "LINE0001", "261208", "1"),
                                "O$ 1    100   200   300   400",
                                t58("100001", 1, "CONV", {11, 22, 1234, -567, 2345, 89})},
                               "X");
  EXPECT_EQ(run.status, 0) << run.out;
  EXPECT_TRUE(run.has_line_containing("Applying RTM offsets  1    100   200   300   400"))
      << numbered(run.lines);
  expect_lines(dir, "LINE0001.xyz", {
      "     1     1   106.51    -5.77   215.89     0.69 0 10  0  1.000  0.000    0.0    0"
      "    0.00    0.00            0    0.000000     0.000000     0.0  0"});
}

// The pieces of damaged transmissions that the upload keeps behind the
// rejected mark are no records: a RAW file with a marked copy of every
// record kind (whole, and cut in two), a marked file header under another
// survey name and a marked GGA sentence elsewhere on the globe, gives under
// every type, with every export, the files and console of the RAW file
// without them. Only the report tells them: the RAW lines read, and the
// damaged transmissions (runs of consecutive marked lines).
TEST(XlatTypes, RejectedPiecesChangeNoOutput) {
  Lines plain = survey(true);
  const Lines second_file = {
      "O$ 1    100   200   300   400",
      r_rec({1, 2, 3, 4, 5, 6, 7}),
      as21("100015", "12500", "12345"),
      x_rec("100016", {{11, 21, 31, 41}}),
      header_rec("100020", "LINE0002", "261208", "1"),
      c_rec("100021", "SECOND FILE"),
      g_rec("GPGGA,100022,4500.0000,N,07500.0000,W,1,08,0.9,100.0,M,0.0,M,,"),
      t58("100023", 10, "CONV", {0, 0, 70, 80, 90, 100}),
      "Z$",
  };
  plain.insert(plain.end(), second_file.begin(), second_file.end());
  const std::string mark(kRejectedMark);

  // Before each line of the plain file one damaged transmission: the whole
  // line, or (every other line) the line cut in two pieces. The first one
  // also brings a file header and a GGA sentence of its own.
  Lines marked = {mark + "  " + header_rec("090000", "LINE0009", "010101", "2"),
                  mark + "G$" + with_checksum("GPGGA,090001,1000.0000,S,01000.0000,E,1,08,0.9,5.0,M,0.0,M,,")};
  for (std::size_t i = 0; i < plain.size(); ++i) {
    const std::string& line = plain[i];
    if (i % 2 == 0) {
      marked.push_back(mark + line);
    } else {
      marked.push_back(mark + line.substr(0, line.size() / 2));
      marked.push_back(mark + line.substr(line.size() / 2));
    }
    marked.push_back(line);
  }
  // One transmission per plain line; the last run ends just before "Z$",
  // the last line.
  const std::string sentence = test::damaged_sentence(plain.size(), 1, static_cast<int>(marked.size()) - 1);

  for (const char* type : {"X", "G", "D", "L", "S", "P", "I", "R"}) {
    SCOPED_TRACE(type);
    TempDir clean, noisy;
    write_file(clean.file("in.RAW"), raw_text(plain));
    write_file(noisy.file("in.RAW"), raw_text(marked));
    const std::vector<std::string> args = {"in.RAW", type, "--csv", "--geojson", "--report"};
    const XlatRun want = run_kalxlat(clean.path(), args);
    const XlatRun got = run_kalxlat(noisy.path(), args);
    ASSERT_EQ(want.status, 0) << want.out;
    EXPECT_EQ(got.status, 0) << got.out;
    EXPECT_EQ(got.out, want.out);
    EXPECT_TRUE(list_files(clean.path()).count("LINE0002.csv")) << "the second survey file is exported";
    ASSERT_EQ(list_files(noisy.path()), list_files(clean.path()));
    for (const std::string& name : list_files(clean.path())) {
      if (name == "in.RAW") continue;
      std::string bytes = read_file(noisy.file(name));
      std::string expected = read_file(clean.file(name));
      if (name == "in.html") {
        EXPECT_EQ(test::take_damaged_sentence(bytes), sentence);
        EXPECT_EQ(test::take_damaged_sentence(expected), "");
        EXPECT_EQ(test::take_lines_read(bytes), static_cast<int>(marked.size()));
        EXPECT_EQ(test::take_lines_read(expected), static_cast<int>(plain.size()));
      }
      EXPECT_TRUE(bytes == expected) << name << ":\n" << bytes << "\n---- without the marked lines:\n"
                                     << expected;
    }
  }
}

}  // namespace
}  // namespace kal::xtest

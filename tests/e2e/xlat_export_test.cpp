// The GIS exports and the quick-look report of kalxlat (--csv, --geojson,
// --report) on real RAW files: the CSV holds the stations of the X output in
// its order with the positions of the SAN output, whatever the output types
// are, and no output of the types changes by a byte when exports are asked.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <nlohmann/json.hpp>
#include <set>
#include <string>
#include <vector>

#include "common/rejected_mark.h"
#include "e2e/xlat_harness.h"
#include "e2e/xlat_records.h"
#include "support/quick_look_report.h"

namespace kal::xtest {
namespace {

using Lines = std::vector<std::string>;
using Records = std::vector<std::vector<std::string>>;
using Json = nlohmann::ordered_json;

const std::string kPositionColumns =
    "survey,line,station,line_mark,station_mark,date,time,gps_time_ms,position,latitude,longitude,altitude,fix,"
    "satellites,hdop,easting,northing,utm_zone,fix_latitude,fix_longitude,";
const std::string kHeaderCode1 =
    kPositionColumns + "HC_1.0m,HI_1.0m,PC_1.1m,PI_1.1m,voltage,temperature,pitch,roll,comment";

const std::string kGga45N75W = "GPGGA,100002,4500.0000,N,07500.0000,W,1,08,0.9,100.0,M,0.0,M,,";
const std::string kGga45N75W15 = "GPGGA,100005,4530.0000,N,07515.0000,W,2,10,1.2,50.5,M,0.0,M,,";
const std::string kWetComment = "Gap, \"wet\" spot";

// Two survey files of one instrument (length code 1: 1.0 m / 1.1 m), CONV
// readings: HC = HQ/10, HI = HI/100, PC = PQ/10, PI = PI/100.
Lines survey() {
  return {
      c_rec("120000", "KALVOR-1   SNA1234567  SW VERSION 5.1a"),
      c_rec("095959", "Start of day"),  // before any file header: no station
      header_rec("100000", "LINE0001", "261208", "1"),
      as34("100000", 12500, 2361, 150, -250),  // V 12.5, T 23.61, pitch 1.5, roll -2.5
      // S1, no fix yet: HC 123.4, HI -5.67, PC 234.5, PI 0.89.
      t58("100001", 1, "CONV", {0, 0, 1234, -567, 2345, 89}),
      g_rec(kGga45N75W),  // 36,002,000 ms; on the central meridian of zone 18
      c_rec("100003", kWetComment),
      // S2: line 12 N, station 6 E; HC 432.1 HI -0.5 PC 543.2 PI 0.75; V 12, T 20;
      // pitch -335 -> -35, roll 15 -> 1.5.
      d72("100004", 12, 'N', 6, 'E', 1, {4321, -50, 5432, 75}, 12000, 2000, -335, 15),
      g_rec(kGga45N75W15),
      t58("100006", 8, "CONV", {0, 0, 3, 4, 5, 6}),  // S3: HC 0.3 HI 0.04 PC 0.5 PI 0.06
      // The same survey name again: LINE0001_100010.
      header_rec("100010", "LINE0001", "261208", "1"),
      // S4 at 10:00:11.250: HC 10 HI 2 PC 30 PI 4; V 11.9, T 18.5; angles 21, -21.
      t83("100011", 250, 9, "CONV", {0, 0, 100, 200, 300, 400}, 11900, 1850, 321, -321),
  };
}

// The survey with a station 25 degrees of longitude from the zone's central
// meridian: the S output's projection warnings go to fort.99.
Lines survey_with_far_station() {
  Lines raw = survey();
  raw.push_back(g_rec("GPGGA,100012,4500.0000,N,10000.0000,W,1,08,0.9,10.0,M,0.0,M,,"));
  raw.push_back(t58("100013", 10, "CONV", {0, 0, 7, 8, 9, 10}));
  return raw;
}

std::string field(const std::string& line, std::size_t from, std::size_t width) {
  const std::string f = line.substr(from, width);
  const auto first = f.find_first_not_of(' ');
  return first == std::string::npos ? std::string() : f.substr(first);
}

std::string fixed(const std::string& number, int decimals) {
  char text[64];
  std::snprintf(text, sizeof text, "%.*f", decimals, std::stod(number));
  return text;
}

// Column index by name in the CSV header.
std::size_t column(const Records& csv, const std::string& name) {
  for (std::size_t i = 0; i < csv.at(0).size(); ++i) {
    if (csv[0][i] == name) return i;
  }
  ADD_FAILURE() << "no column " << name;
  return 0;
}

// Every CSV row against the line of the X output and of the SAN output.
void expect_agreement(const TempDir& dir, const std::string& stem, const std::string& san_name = "") {
  const Records csv = read_csv(dir.file(stem + ".csv"));
  const Lines xyz = read_lines(dir.file(stem + ".xyz"));
  Lines san = read_lines(dir.file(san_name.empty() ? stem + ".san" : san_name));
  ASSERT_FALSE(san.empty());
  san.erase(san.begin());  // the "-9 height" line
  ASSERT_EQ(csv.size(), xyz.size() + 1) << stem;
  ASSERT_EQ(san.size(), xyz.size()) << stem;
  const std::size_t lat = column(csv, "fix_latitude"), lon = column(csv, "fix_longitude");
  const std::size_t hc = column(csv, "fix_longitude") + 1;  // the first geometry's HC
  for (std::size_t i = 0; i < xyz.size(); ++i) {
    const auto& row = csv[i + 1];
    const std::string& x = xyz[i];
    const std::string& s = san[i];
    ASSERT_EQ(row.size(), csv[0].size()) << stem << " row " << i + 1;
    EXPECT_EQ(row[column(csv, "station")], field(x, 0, 6)) << x;
    EXPECT_EQ(row[column(csv, "line")], field(x, 6, 6)) << x;
    for (std::size_t k = 0; k < 4; ++k) EXPECT_EQ(fixed(row[hc + k], 2), field(x, 12 + 9 * k, 9)) << x;
    // SAN: easting, northing F12.1; HC, PC F9.2.
    EXPECT_EQ(fixed(row[hc], 2), field(s, 34, 9)) << s;
    EXPECT_EQ(fixed(row[hc + 2], 2), field(s, 43, 9)) << s;
    const std::size_t n = x.size();  // XYZ ends: F12.6 lat, 1X, F12.6 lon, 1X, F7.1, 1X, I2
    // The fix as received is the one the survey formats hold.
    if (field(x, n - 36, 12) == "0.000000") {
      EXPECT_EQ(row[lat] + row[lon], "") << "no fix: " << x;
    } else {
      EXPECT_EQ(fixed(row[lat], 6), field(x, n - 36, 12)) << x;
      EXPECT_EQ(fixed(row[lon], 6), field(x, n - 23, 12)) << x;
    }
  }
}

std::string csv_line(const TempDir& dir, const std::string& name, std::size_t index) {
  const std::string text = read_file(dir.file(name));
  std::size_t from = 0;
  for (std::size_t i = 0; i < index; ++i) from = text.find("\r\n", from) + 2;
  return text.substr(from, text.find("\r\n", from) - from);
}

TEST(XlatExport, CsvAndGeoJsonAgreeWithXAndSan) {
  TempDir dir;
  write_file(dir.file("in.RAW"), raw_text(survey()));
  const XlatRun run = run_kalxlat(dir.path(), {"in.RAW", "--csv", "XS", "--geojson"});
  ASSERT_EQ(run.status, 0) << run.out;
  // The early comment keeps the Default outputs, which hold no station.
  const std::set<std::string> want = {"in.RAW",           "Default.CMT",         "Default.xyz",
                                      "Default.SAN",      "LINE0001.CMT",
                                      "LINE0001.GPS",     "LINE0001.xyz",        "LINE0001.san",
                                      "LINE0001.csv",     "LINE0001.geojson",    "LINE0001_100010.xyz",
                                      "LINE0001_100010.san", "LINE0001_100010.csv", "LINE0001_100010.geojson"};
  EXPECT_EQ(list_files(dir.path()), want);  // no Default.csv
  expect_agreement(dir, "LINE0001");
  expect_agreement(dir, "LINE0001_100010");

  // Worked out by hand. The file header's date 26 12 08 is day, month, year.
  // Fixes at GPS 10:00:02 (45 N 75 W) and 10:00:05 (45.5 N 75.25 W) were
  // logged between S1 (10:00:01) and S2 (10:00:04) and between S2 and S3
  // (10:00:06): the sensor clock is 0 to 0.5 s behind GPS time. So S2 lies
  // between the two fixes and is interpolated; S1 before the first fix and
  // S3 after the last have no position of their own; S4, in a survey file
  // without fixes, neither. The fix columns keep the last fix received.
  EXPECT_EQ(csv_line(dir, "LINE0001.csv", 0), kHeaderCode1);
  EXPECT_EQ(csv_line(dir, "LINE0001.csv", 1), "LINE0001,1,1,,,2008-12-26,10:00:01.000,0,none,,,,0,0,0,,,,,,"
                                              "123.4,-5.67,234.5,0.89,12.5,23.61,1.5,-2.5,");
  const Records rows = read_csv(dir.file("LINE0001.csv"));
  const auto& s2 = rows.at(2);
  EXPECT_EQ(csv_line(dir, "LINE0001.csv", 2).substr(0, 61),
            "LINE0001,12,6,N,E,2008-12-26,10:00:04.000,36002000,interpolat");
  EXPECT_EQ(s2[column(rows, "position")], "interpolated");
  const double s2_lat = std::stod(s2[column(rows, "latitude")]), s2_lon = std::stod(s2[column(rows, "longitude")]);
  EXPECT_TRUE(s2_lat > 45.0 && s2_lat < 45.5) << s2_lat;
  EXPECT_TRUE(s2_lon > -75.25 && s2_lon < -75.0) << s2_lon;
  EXPECT_EQ(s2[column(rows, "utm_zone")], "18N");
  const std::string s2_line = csv_line(dir, "LINE0001.csv", 2);
  EXPECT_EQ(s2_line.substr(s2_line.find(",18N,")),
            ",18N,45,-75,432.1,-0.5,543.2,0.75,12,20,-35,1.5,\"Gap, \"\"wet\"\" spot\"");
  EXPECT_EQ(rows.at(3)[column(rows, "position")], "none");
  EXPECT_EQ(csv_line(dir, "LINE0001_100010.csv", 1),
            "LINE0001,1,9,N,E,2008-12-26,10:00:11.250,36005000,none,,,50.5,2,10,1.2,,,,45.5,-75.25,"
            "10,2,30,4,11.9,18.5,21,-21,");

  // GeoJSON: the stations with a position of their own, [longitude,
  // latitude], the CSV columns.
  const Json doc = Json::parse(read_file(dir.file("LINE0001.geojson")));
  EXPECT_EQ(doc["type"], "FeatureCollection");
  ASSERT_EQ(doc["features"].size(), 1u);
  const Json& f = doc["features"][0];
  EXPECT_EQ(f["type"], "Feature");
  EXPECT_EQ(f["geometry"]["coordinates"], Json::array({s2_lon, s2_lat}));
  std::vector<std::string> keys;
  for (const auto& [key, value] : f["properties"].items()) keys.push_back(key);
  EXPECT_EQ(keys, rows[0]);
  EXPECT_EQ(f["properties"]["station"], 6);
  EXPECT_EQ(f["properties"]["line_mark"], "N");
  EXPECT_EQ(f["properties"]["HC_1.0m"], 432.1);
  EXPECT_EQ(f["properties"]["fix_longitude"], -75.0);
  EXPECT_EQ(f["properties"]["comment"], kWetComment);
  EXPECT_TRUE(run.has_line("   CSV file: LINE0001.csv, 3 stations")) << run.out;
  EXPECT_TRUE(run.has_line("   GeoJSON file: LINE0001.geojson, 1 stations; left out without a position: 2"))
      << run.out;
  EXPECT_TRUE(run.has_line("   GeoJSON file: LINE0001_100010.geojson, 0 stations; left out without a position: 1"))
      << run.out;
}

// The exports answer the prompts as the transcription was answered: here
// length code 2 (2.0 m / 2.1 m) for readings that need a configuration.
TEST(XlatExport, PromptsAnsweredAsTheTranscriptionWas) {
  TempDir dir;
  write_file(dir.file("in.RAW"), raw_text({t58("100001", 1, "NULD", {0, 0, 1234, -567, 2345, 89}),
                                          t58("100002", 2, "NULD", {0, 0, 500, 150, 600, -150})}));
  // Each type asks for the height ("/") and the length code.
  const XlatRun run = run_kalxlat(dir.path(), {"in.RAW", "XS", "--csv"}, "/\n2\n/\n2\n");
  ASSERT_EQ(run.status, 0) << run.out;
  EXPECT_EQ(read_csv(dir.file("Default.csv"))[0][20], "HC_2.0m");
  expect_agreement(dir, "Default", "Default.SAN");
}

// A two-geometry instrument (length code 21): a T$ record completes a
// station that only the X$ record after it puts into the XYZ output, while
// types D and I write other stations (D the T$ ones, I the I$ ones) and so
// clear the comment number at other records. The exports keep the XYZ
// stations with the XYZ output's comments.
TEST(XlatExport, RowsFollowTheXyzOutputWhateverTheTypes) {
  const Lines raw = {
      header_rec("100000", "TWO", "261208", "21"),
      c_rec("100001", "First"),
      t58("100002", 1, "CONV", {0, 0, 100, 200, 300, 400}),
      x_rec("100002", {{500, 600, 700, 800}}),
      "I$100003   25 -15  35 12345  3 12345   250  7500",
      c_rec("100004", "Second"),
      t58("100005", 2, "CONV", {0, 0, 110, 210, 310, 410}),
      x_rec("100005", {{510, 610, 710, 810}}),
  };
  for (const std::string types : {"X", "D", "I", "R", "DX"}) {
    TempDir dir;
    write_file(dir.file("in.RAW"), raw_text(raw));
    ASSERT_EQ(run_kalxlat(dir.path(), {"in.RAW", types, "--csv"}).status, 0) << types;
    const Records csv = read_csv(dir.file("TWO.csv"));
    ASSERT_EQ(csv.size(), 3u) << types;  // the heading and the two X$ stations
    // Station 1: geometry 1 from the T$ record (HC 10, HI 2), geometry 2
    // from the X$ record (HC 50, HI 6).
    EXPECT_EQ(csv[1][column(csv, "station")], "1") << types;
    EXPECT_EQ(csv[1][column(csv, "HC_1.0m")], "10") << types;
    EXPECT_EQ(csv[1][column(csv, "HC_2.0m")], "50") << types;
    EXPECT_EQ(csv[1][column(csv, "HI_2.0m")], "6") << types;
    EXPECT_EQ(csv[1][column(csv, "comment")], "First") << types;
    EXPECT_EQ(csv[2][column(csv, "station")], "2") << types;
    EXPECT_EQ(csv[2][column(csv, "comment")], "Second") << types;
  }
}

// Bytes kalxlat reads from in.RAW in `dir` with `args`, counted by strace;
// -1 when strace cannot trace here.
long raw_bytes_read(const TempDir& dir, const std::string& args) {
  const std::string log = dir.file("strace.txt");
  const std::string command = "cd '" + dir.path().string() + "' && /usr/bin/strace -f -y -e trace=read -o '" + log +
                              "' '" + kalxlat_path() + "' in.RAW " + args + " </dev/null >/dev/null 2>&1";
  if (std::system(command.c_str()) != 0 || !file_exists(log)) return -1;
  long bytes = 0;
  for (const std::string& call : read_lines(log)) {
    if (call.find("/in.RAW>") == std::string::npos) continue;
    const auto equals = call.rfind("= ");
    if (equals != std::string::npos) bytes += std::stol(call.substr(equals + 2));
  }
  std::remove(log.c_str());
  return bytes;
}

// The exports take their stations from the transcription the run makes
// anyway: the RAW file is read exactly as much with them as without.
TEST(XlatExport, ExportsReadNoMoreOfTheRawFile) {
  TempDir dir;
  write_file(dir.file("in.RAW"), raw_text(survey()));
  const long size = static_cast<long>(read_file(dir.file("in.RAW")).size());
  const long plain = raw_bytes_read(dir, "X");
  if (plain < 0) GTEST_SKIP() << "strace cannot trace here";
  EXPECT_EQ(plain, 2 * size);  // the GPS pre-pass, then the main loop
  EXPECT_EQ(raw_bytes_read(dir, "X --csv --geojson --report"), plain);
  EXPECT_EQ(raw_bytes_read(dir, "DS --csv"), raw_bytes_read(dir, "DS"));
}

// The CSV holds the X output's stations whatever the types.
TEST(XlatExport, SameExportsWhateverTheTypes) {
  TempDir with_x;
  write_file(with_x.file("in.RAW"), raw_text(survey()));
  ASSERT_EQ(run_kalxlat(with_x.path(), {"in.RAW", "X", "--csv", "--geojson"}).status, 0);
  for (const std::string types : {"D", "R", "GI", "LSP"}) {
    TempDir dir;
    write_file(dir.file("in.RAW"), raw_text(survey()));
    ASSERT_EQ(run_kalxlat(dir.path(), {"in.RAW", types, "--csv", "--geojson"}).status, 0) << types;
    for (const std::string name : {"LINE0001.csv", "LINE0001_100010.csv", "LINE0001.geojson"}) {
      EXPECT_EQ(read_file(dir.file(name)), read_file(with_x.file(name))) << types << " " << name;
    }
  }
}

// Every file of the types and every console line of their transcriptions are
// the same with the exports as without; the exports only add their files.
void expect_types_unchanged(const Lines& raw, const std::string& types, int status) {
  TempDir plain, exported;
  write_file(plain.file("in.RAW"), raw_text(raw));
  write_file(exported.file("in.RAW"), raw_text(raw));
  const XlatRun a = run_kalxlat(plain.path(), {"in.RAW", types});
  const XlatRun b = run_kalxlat(exported.path(), {"in.RAW", "--report", types, "--csv", "--geojson"});
  EXPECT_EQ(a.status, status) << a.out;
  EXPECT_EQ(b.status, status) << b.out;
  ASSERT_GE(b.out.size(), a.out.size());
  EXPECT_EQ(b.out.substr(0, a.out.size()), a.out);
  std::set<std::string> added = list_files(exported.path());
  for (const std::string& name : list_files(plain.path())) {
    EXPECT_EQ(read_file(exported.file(name)), read_file(plain.file(name))) << name;
    added.erase(name);
  }
  for (const std::string& name : added) {
    const bool export_file = name.ends_with(".csv") || name.ends_with(".geojson") || name == "in.html";
    EXPECT_TRUE(export_file) << "unexpected file " << name;
  }
  EXPECT_TRUE(added.count("in.html")) << b.out;
}

TEST(XlatExport, OutputsOfTheTypesUnchangedByExports) {
  TempDir probe;
  write_file(probe.file("in.RAW"), raw_text(survey_with_far_station()));
  ASSERT_EQ(run_kalxlat(probe.path(), {"in.RAW", "S"}).status, 0);
  ASSERT_TRUE(file_exists(probe.file("fort.99")));  // the projection warned: the case is covered
  expect_types_unchanged(survey_with_far_station(), "XDLSPIR", 0);
  expect_types_unchanged(survey_with_far_station(), "G", 0);
}

// A RAW file whose reading stops early still gives a report of what was read.
TEST(XlatExport, DamagedRawFileStillGivesAReport) {
  Lines raw = survey();
  raw.insert(raw.begin() + 5, "\x01\x02\xff junk \x7f");
  raw.push_back(header_rec("100020", "LINE0002", "26x208", "1"));  // a letter in the date: result 2
  raw.push_back(t58("100021", 11, "CONV", {0, 0, 1, 1, 1, 1}));
  expect_types_unchanged(raw, "X", 2);
  TempDir dir;
  write_file(dir.file("in.RAW"), raw_text(raw));
  const XlatRun run = run_kalxlat(dir.path(), {"in.RAW", "--report"});
  EXPECT_EQ(run.status, 2);
  EXPECT_EQ(run.lines.back(), "   Quick-look report: in.html");
  const std::string html = read_file(dir.file("in.html"));
  EXPECT_NE(html.find("reading stopped at line 14 (a file header field could not be read)"), std::string::npos);
  EXPECT_NE(html.find("<td class=\"text\">Whole RAW file</td><td>4</td>"), std::string::npos);
}

// The report counts the transmissions the upload received damaged: runs of
// consecutive marked lines, with the RAW lines from the first marked line
// to the last. A RAW file without marked lines has no such sentence.
TEST(XlatExport, ReportCountsTransmissionsReceivedDamaged) {
  const std::string mark(kRejectedMark);
  struct Case {
    const char* what;
    std::vector<std::size_t> marked_lines;  // RAW line numbers of the marked pieces, rising
    std::string sentence;
  };
  const Case cases[] = {
      {"none", {}, ""},
      {"one piece", {4}, "1 transmission received damaged and asked again, around RAW line 4."},
      {"one transmission of two pieces", {2, 3},
       "1 transmission received damaged and asked again, around RAW lines 2-3."},
      {"three transmissions", {1, 2, 6, 9, 10, 11},
       "3 transmissions received damaged and asked again, around RAW lines 1-11."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Lines raw = survey();
    for (const std::size_t line : c.marked_lines) {
      raw.insert(raw.begin() + static_cast<std::ptrdiff_t>(line - 1), mark + "T$1005");
    }
    TempDir dir;
    write_file(dir.file("in.RAW"), raw_text(raw));
    ASSERT_EQ(run_kalxlat(dir.path(), {"in.RAW", "--report"}).status, 0);
    std::string html = read_file(dir.file("in.html"));
    EXPECT_EQ(test::take_damaged_sentence(html), c.sentence);
    EXPECT_EQ(test::take_lines_read(html), static_cast<int>(raw.size()));
  }
}

// The report's summary of LINE0001, worked out from the survey: S1-S3 on
// lines 1 and 12 from 10:00:01 to 10:00:06, two of three with a fix, the
// longest gap S1 -> S2, voltage 12.5 then 12, temperature 23.61 then 20.
TEST(XlatExport, ReportSummaryAndComments) {
  TempDir dir;
  write_file(dir.file("in.RAW"), raw_text(survey()));
  ASSERT_EQ(run_kalxlat(dir.path(), {"in.RAW", "--report"}).status, 0);
  const std::string html = read_file(dir.file("in.html"));
  const std::string dash = "\u2013";
  EXPECT_NE(html.find("<tr><td class=\"text\">LINE0001</td><td>3</td><td>2</td><td>10:00:01</td>"
                      "<td>10:00:06</td><td>5 s</td><td>66.7 % (2)</td><td class=\"gap\">3 s, line 1 after station 1</td>"
                      "<td>12 " + dash + " 12.5</td><td>20 " + dash + " 23.6</td></tr>"),
            std::string::npos)
      << html;
  EXPECT_NE(html.find("<td class=\"text\">Default</td><td>09:59:59</td><td class=\"text\">Start of day</td>"),
            std::string::npos);
  EXPECT_NE(html.find("<td>10:00:03</td><td class=\"text\">Gap, &quot;wet&quot; spot</td>"), std::string::npos);
}

struct GeometryCase {
  const char* code;
  Lines stations;
  std::string columns;  // the geometry columns of the header row
};

TEST(XlatExport, ColumnsPerGeometry) {
  const Four g2 = {1000, 200, 1100, 300};  // HC 100, HI 2, PC 110, PI 3
  const Four g3 = {2000, 400, 2200, 600};  // HC 200, HI 4, PC 220, PI 6
  const GeometryCase cases[] = {
      {"1", {t58("100001", 1, "CONV", {0, 0, 10, 20, 30, 40})}, "HC_1.0m,HI_1.0m,PC_1.1m,PI_1.1m"},
      {"21",
       {t58("100001", 1, "CONV", {0, 0, 10, 20, 30, 40}), x_rec("100001", {g2})},
       "HC_1.0m,HI_1.0m,PC_1.1m,PI_1.1m,HC_2.0m,HI_2.0m,PC_2.1m,PI_2.1m"},
      {"215",
       {t58("100001", 1, "CONV", {0, 0, 10, 20, 30, 40}), x_rec("100001", {g2, g3})},
       "HC_0.5m,HI_0.5m,PC_0.6m,PI_0.6m,HC_1.0m,HI_1.0m,PC_1.1m,PI_1.1m,HC_2.0m,HI_2.0m,PC_2.1m,PI_2.1m"},
  };
  for (const GeometryCase& c : cases) {
    TempDir dir;
    Lines raw = {header_rec("100000", "AB", "261208", c.code)};
    raw.insert(raw.end(), c.stations.begin(), c.stations.end());
    write_file(dir.file("in.RAW"), raw_text(raw));
    ASSERT_EQ(run_kalxlat(dir.path(), {"in.RAW", "--csv"}).status, 0) << c.code;
    const Records csv = read_csv(dir.file("AB.csv"));
    ASSERT_EQ(csv.size(), 2u) << c.code;
    const std::string header = csv_line(dir, "AB.csv", 0);
    EXPECT_EQ(header, kPositionColumns + c.columns + ",voltage,temperature,pitch,roll,comment")
        << c.code;
    ASSERT_EQ(csv[1].size(), csv[0].size()) << c.code;
    const std::vector<std::string> first = {csv[1][20], csv[1][21], csv[1][22], csv[1][23]};
    EXPECT_EQ(first, (std::vector<std::string>{"1", "0.2", "3", "0.4"})) << c.code;
    if (c.stations.size() > 1) {
      const std::vector<std::string> second = {csv[1][24], csv[1][25], csv[1][26], csv[1][27]};
      EXPECT_EQ(second, (std::vector<std::string>{"100", "2", "110", "3"})) << c.code;
    }
  }
}

TEST(XlatExport, SurveyWithoutGps) {
  Lines raw = survey();
  std::erase(raw, g_rec(kGga45N75W));
  std::erase(raw, g_rec(kGga45N75W15));
  TempDir dir;
  write_file(dir.file("in.RAW"), raw_text(raw));
  const XlatRun run = run_kalxlat(dir.path(), {"in.RAW", "--geojson", "--csv", "--report"});
  ASSERT_EQ(run.status, 0) << run.out;
  const Records csv = read_csv(dir.file("LINE0001.csv"));
  ASSERT_EQ(csv.size(), 4u);
  for (std::size_t i = 1; i < csv.size(); ++i) {
    EXPECT_EQ(csv[i][column(csv, "position")], "none") << "row " << i;
    for (const char* name : {"latitude", "longitude", "altitude", "easting", "northing", "utm_zone", "fix_latitude",
                             "fix_longitude"}) {
      EXPECT_EQ(csv[i][column(csv, name)], "") << name << " row " << i;
    }
  }
  EXPECT_EQ(Json::parse(read_file(dir.file("LINE0001.geojson"))),
            Json::parse(R"({"type":"FeatureCollection","features":[]})"));
  EXPECT_TRUE(run.has_line("   GeoJSON file: LINE0001.geojson, 0 stations; left out without a position: 3"))
      << run.out;
  const std::string html = read_file(dir.file("in.html"));
  EXPECT_NE(html.find("class=\"map grid\""), std::string::npos);
  EXPECT_EQ(html.find("class=\"map utm\""), std::string::npos);
}

// The Default outputs have exports only when they hold stations.
TEST(XlatExport, DefaultOutputsExportedOnlyWithStations) {
  TempDir dir;
  write_file(dir.file("in.RAW"), raw_text({c_rec("095800", "KALVOR-1   SNA1234567  SW VERSION 5.1a"),
                                          t58("095900", 1, "CONV", {0, 0, 10, 20, 30, 40}),
                                          header_rec("100000", "AB", "261208", "1")}));
  ASSERT_EQ(run_kalxlat(dir.path(), {"in.RAW", "--csv"}).status, 0);
  EXPECT_EQ(csv_line(dir, "Default.csv", 0), kHeaderCode1);
  // Before any file header there is no date.
  EXPECT_EQ(csv_line(dir, "Default.csv", 1),
            "Default,0,1,,,,09:59:00.000,0,none,,,,0,0,0,,,,,,1,0.2,3,0.4,0,0,0,0,");
  // A file header's survey file has its exports even without a station.
  EXPECT_EQ(read_file(dir.file("AB.csv")), kHeaderCode1 + "\r\n");
}

TEST(XlatExport, WrongOptionIsAUsageError) {
  TempDir dir;
  write_file(dir.file("in.RAW"), raw_text(survey()));
  const XlatRun run = run_kalxlat(dir.path(), {"in.RAW", "X", "--svg"});
  EXPECT_EQ(run.status, 64);
  EXPECT_EQ(list_files(dir.path()), std::set<std::string>{"in.RAW"});
}

}  // namespace
}  // namespace kal::xtest

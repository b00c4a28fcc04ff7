// The stations' own positions in the exports, end to end: a walked survey of
// known truth written as a RAW file, transcribed by kalxlat with --csv, and
// every row's position measured against where the sensor really was.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <nlohmann/json.hpp>
#include <set>
#include <string>
#include <vector>

#include "e2e/xlat_harness.h"
#include "e2e/xlat_records.h"
#include "support/walked_survey.h"

namespace kal::xtest {
namespace {

using Records = std::vector<std::vector<std::string>>;
using test::WalkedSurvey;
using test::WalkedSurveyOptions;

std::string hhmmss(std::int64_t time_of_day_ms) {
  const std::int64_t s = time_of_day_ms / 1000;
  char text[16];
  std::snprintf(text, sizeof text, "%02d%02d%02d", static_cast<int>(s / 3600), static_cast<int>(s / 60 % 60),
                static_cast<int>(s % 60));
  return text;
}

// The survey as the sensor logs it: a file header (8 December 2026, day
// first) at the first station's time, then T$ records with milliseconds and
// G$ records in the order of the feed.
std::string raw_of(const WalkedSurvey& survey) {
  std::vector<std::string> lines;
  int station = 0;
  for (const test::FeedEvent& e : survey.feed) {
    if (e.is_fix) {
      lines.push_back("G$" + e.sentence);
      continue;
    }
    const std::int64_t t = e.sensor_time_of_day_ms;
    if (station == 0) lines.push_back(header_rec(hhmmss(t), "WALK", "081226", "1"));
    ++station;
    lines.push_back(t83(hhmmss(t), static_cast<int>(t % 1000), station, "CONV", {0, 0, 1234, 56, 2345, 78}, 12500,
                        2361, 15, -25));
  }
  return raw_text(lines);
}

struct Placed {
  Records csv;
  std::vector<double> errors_m;  // of the stations with a position
  std::size_t none = 0;
};

// Runs kalxlat on `survey` with `options` in `dir` and measures each row.
Placed place(const TempDir& dir, const WalkedSurvey& survey, const std::vector<std::string>& options) {
  write_file(dir.file("in.RAW"), raw_of(survey));
  std::vector<std::string> args = {"in.RAW", "X", "--csv", "--geojson", "--report"};
  args.insert(args.end(), options.begin(), options.end());
  const XlatRun run = run_kalxlat(dir.path(), args);
  EXPECT_EQ(run.status, 0) << run.out;
  Placed placed;
  placed.csv = read_csv(dir.file("WALK.csv"));
  EXPECT_EQ(placed.csv.size(), survey.truth.size() + 1);
  const auto& names = placed.csv.at(0);
  const auto at = [&](const std::string& name) {
    return static_cast<std::size_t>(std::find(names.begin(), names.end(), name) - names.begin());
  };
  for (std::size_t i = 1; i < placed.csv.size() && i <= survey.truth.size(); ++i) {
    const auto& row = placed.csv[i];
    if (row[at("position")] == "none") {
      ++placed.none;
      EXPECT_EQ(row[at("latitude")] + row[at("longitude")] + row[at("easting")], "") << "row " << i;
      continue;
    }
    EXPECT_EQ(row[at("position")], "interpolated") << "row " << i;
    const test::TrueStation& truth = survey.truth[i - 1];
    placed.errors_m.push_back(survey.plane.distance(std::stod(row[at("latitude")]), std::stod(row[at("longitude")]),
                                                    truth.latitude, truth.longitude));
  }
  return placed;
}

double share_within_m(const Placed& placed, double share) { return test::share_within(placed.errors_m, share); }

TEST(XlatPositions, WalkedSurveyAcrossGpsMidnight) {
  // Sensor clock 5 h 0.372 s behind GPS; GPS passes midnight five minutes in.
  const WalkedSurvey survey = test::walk_survey(WalkedSurveyOptions{});
  ASSERT_GT(survey.truth.size(), 4000u);
  TempDir dir;
  const Placed placed = place(dir, survey, {});
  // Only the stations before the first fix and after the last go unplaced.
  EXPECT_LE(placed.none, 30u);
  EXPECT_LT(share_within_m(placed, 0.95), 0.05);
  // At the last fix instead (what the survey formats hold) the error is
  // walking speed times up to a second: well over a metre for many.
  std::vector<double> last_fix;
  for (const test::TrueStation& t : survey.truth) {
    if (t.has_last_fix) {
      last_fix.push_back(
          survey.plane.distance(t.last_fix_latitude, t.last_fix_longitude, t.latitude, t.longitude));
    }
  }
  EXPECT_GT(test::share_within(last_fix, 0.95), 1.2);
  // The report tells the offset found: GPS time is 5 h 0.372 s ahead, known
  // to within half a reading interval (50 ms).
  const std::string html = read_file(dir.file("in.html"));
  const std::size_t offset = html.find("+5 h 00 min 00.");
  ASSERT_NE(offset, std::string::npos);
  const int ms = std::stoi(html.substr(offset + 15, 3));
  EXPECT_NEAR(ms, 372, 50);
  // The sensor clock does not pass midnight: every station on the header's date.
  const std::size_t date = 5;
  ASSERT_EQ(placed.csv[0][date], "date");
  for (std::size_t i = 1; i < placed.csv.size(); ++i) ASSERT_EQ(placed.csv[i][date], "2026-12-08") << i;
}

TEST(XlatPositions, SensorClockPassingMidnightMovesTheDateOn) {
  WalkedSurveyOptions o;
  o.sensor_minus_gps_ms = 250;  // both clocks pass midnight five minutes in
  o.lines = 6;                  // about seven minutes
  const WalkedSurvey survey = test::walk_survey(o);
  TempDir dir;
  const Placed placed = place(dir, survey, {});
  EXPECT_LT(share_within_m(placed, 0.95), 0.05);
  std::size_t before = 0, after = 0;
  for (std::size_t i = 1; i < placed.csv.size(); ++i) {
    const std::string& time = placed.csv[i][6];
    const std::string& date = placed.csv[i][5];
    if (time.compare(0, 2, "23") == 0) {
      EXPECT_EQ(date, "2026-12-08") << time;
      ++before;
    } else {
      EXPECT_EQ(date, "2026-12-09") << time;
      ++after;
    }
  }
  EXPECT_GT(before, 100u);
  EXPECT_GT(after, 100u);
}

TEST(XlatPositions, AntennaOffsetAndLag) {
  struct Case {
    const char* name;
    double along, lag_s;
    std::vector<std::string> options;
    double within_95_m;
  };
  const Case cases[] = {
      {"sensor towed 1 m behind", -1.0, 0.0, {"--antenna-offset", "-1.0"}, 0.10},
      {"the same as ALONG,ACROSS after =", -1.0, 0.0, {"--antenna-offset=-1.0,0"}, 0.10},
      {"fixes logged 0.4 s late", 0.0, 0.4, {"--gps-lag", "0.4"}, 0.05},
  };
  for (const Case& c : cases) {
    WalkedSurveyOptions o;
    o.lines = 4;
    o.antenna_along_m = c.along;
    o.gps_lag_s = c.lag_s;
    const WalkedSurvey survey = test::walk_survey(o);
    TempDir dir;
    EXPECT_LT(share_within_m(place(dir, survey, c.options), 0.95), c.within_95_m) << c.name;
    // Without the option the same survey is placed visibly worse.
    TempDir plain;
    EXPECT_GT(share_within_m(place(plain, survey, {}), 0.95), 2.0 * c.within_95_m) << c.name;
    // The survey formats keep the last fix, whatever the options.
    EXPECT_EQ(read_file(dir.file("WALK.xyz")), read_file(plain.file("WALK.xyz"))) << c.name;
  }
}

TEST(XlatPositions, NoPositionWhereTheFixesDoNotReach) {
  struct Case {
    const char* name;
    std::vector<std::pair<std::int64_t, std::int64_t>> no_fix, quality_zero;
    std::size_t at_least_none;
  };
  const Case cases[] = {
      // 20 s without a fix (over the 5 s limit): about 200 readings at 10 Hz.
      {"a gap of 20 s", {{60'000, 80'000}}, {}, 190},
      {"20 s of quality-0 fixes", {}, {{60'000, 80'000}}, 190},
      {"no fix at all", {{0, 10'000'000}}, {}, 0},
  };
  for (const Case& c : cases) {
    WalkedSurveyOptions o;
    o.lines = 3;
    o.no_fix_ms = c.no_fix;
    o.quality_zero_ms = c.quality_zero;
    const WalkedSurvey survey = test::walk_survey(o);
    TempDir dir;
    const Placed placed = place(dir, survey, {});
    if (c.at_least_none == 0) {
      EXPECT_EQ(placed.none, survey.truth.size()) << c.name;
      EXPECT_EQ(nlohmann::json::parse(read_file(dir.file("WALK.geojson")))["features"].size(), 0u) << c.name;
      continue;
    }
    EXPECT_GE(placed.none, c.at_least_none) << c.name;
    EXPECT_LT(placed.none, c.at_least_none + 80) << c.name;
    // Nothing placed is made up: the placed ones stay as good as without the gap.
    EXPECT_LT(share_within_m(placed, 0.95), 0.05) << c.name;
  }
}

TEST(XlatPositions, MalformedValuesSayWhatWasExpected) {
  struct Case {
    std::vector<std::string> args;
    const char* said;
  };
  const Case cases[] = {
      {{"--antenna-offset", "behind"}, "kalxlat: --antenna-offset expects ALONG[,ACROSS] in metres"},
      {{"--antenna-offset=1,x"}, "kalxlat: --antenna-offset expects ALONG[,ACROSS] in metres"},
      {{"--gps-lag", "-1"}, "kalxlat: --gps-lag expects seconds from 0 to 60"},
      {{"--max-hdop", "0"}, "kalxlat: --max-hdop expects a number above 0"},
      {{"--gps-lag"}, "kalxlat: --gps-lag needs a value"},
  };
  for (const Case& c : cases) {
    TempDir dir;
    write_file(dir.file("in.RAW"), raw_text({header_rec("100000", "AB", "081226", "1")}));
    std::vector<std::string> args = {"in.RAW", "--csv"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    const XlatRun run = run_kalxlat(dir.path(), args);
    EXPECT_EQ(run.status, 64) << c.said;
    EXPECT_TRUE(run.has_line_containing(c.said)) << run.out;
    EXPECT_EQ(list_files(dir.path()), std::set<std::string>{"in.RAW"}) << c.said;
  }
}

}  // namespace
}  // namespace kal::xtest

// kalxlat.exe under Wine on the RAW files of the end-to-end tests, every
// output type one by one and several in one run, against the Linux kalxlat
// on the same files: the same file names, the same bytes after CR LF -> LF
// (CR LF in every Windows text file, the binary DAT file untouched), the
// same console and exit status.
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <utility>
#include <vector>

#include "builtin_survey.h"
#include "e2e/fault_survey.h"
#include "e2e/xlat_records.h"
#include "wine/wine_harness.h"

namespace kal::winetest {
namespace {

using namespace kal::xtest;

// Records of every other kind: a two-geometry instrument with software
// version 5.1 (D$ of 72 columns), N$ and X$, status, auxiliary and
// reference lines, EMS (I$) records and a $PKLVT sentence, a repeated survey
// name and GGA sentences in two hemispheres' worth of places.
Lines mixed_records() {
  const std::string gga = "GPGGA,101500,4500.0000,N,07500.0000,W,1,08,0.9,100.0,M,0.0,M,,";
  return {c_rec("000000", "KALVOR-21   SNA1234567  SW VERSION 5.1 "),
          header_rec("101500", "LINE0001", "261208", "21"),
          c_rec("101501", "START, \"A\""),
          g_rec(gga),
          d72("101502", 3, 'N', 12, 'E', 1, {100, 20, 300, 40}, 12200, 2400, 15, -4),
          x_rec("101502", {{110, 21, 310, 41}}),
          n_rec("101503", 12300, 2410, {15, -4, 100, 300, 110, 310}),
          as34("101504", 12200, 2400, 150, -40),
          a_rec({1, 2, 3}, {4, 5, 6}, 7),
          r_rec({1, 2, 3, 4, 5, 6, 7}),
          r_rec({8, 9, 10, 11, 12, 13, 14}),
          header_rec("101600", "LINE0001", "261208", "1"),
          "I$101601   25 -15  35 12345  3 12345   250  7500",
          "I$101602   20 -10  30 12000  3 12100   260  7400",
          "$PKLVT,101603,0001500,0020000,-000500,0028000,0000077,0000066,12200,02400,000123,-00045,CONV",
          g_rec("GPGGA,101604,3350.0000,S,15110.0000,E,1,07,1.1,20.0,M,0.0,M,,"),
          t58("101605", 9, "CONV", {0, 0, 10, 20, 30, 40}),
          "Z$"};
}

struct RawCase {
  const char* what;
  Lines raw;
};

std::vector<RawCase> raw_files() {
  return {{"single geometry with GPS", faulttest::survey_memory(20)},
          {"three geometries, two survey files", sim::builtin_survey(120)},
          {"every other record kind", mixed_records()}};
}

TEST(WineXlat, SameFilesAndConsoleForEveryType) {
  const std::vector<std::vector<std::string>> runs = {
      {"X"}, {"G"}, {"D"}, {"L"}, {"S"}, {"P"}, {"I"}, {"R"}, {"XDLSPIR", "0.35"}, {"X", "--csv", "--geojson", "--report"}};
  for (const RawCase& raw : raw_files()) {
    for (const auto& types : runs) {
      SCOPED_TRACE(std::string(raw.what) + ", " + ::testing::PrintToString(types));
      TempDir linux_dir("kal-wine-xlat"), windows_dir("kal-wine-xlat");
      std::string text;
      for (const std::string& l : raw.raw) text += l + "\n";
      test::write_file(linux_dir.path() / "in.RAW", text);
      test::write_file(windows_dir.path() / "in.RAW", text);
      std::vector<std::string> args = {"in.RAW"};
      args.insert(args.end(), types.begin(), types.end());
      const ProgramRun on_linux = run_on(Platform::linux_host, "kalxlat", args, linux_dir.path(), "/\n");
      const ProgramRun on_windows = run_on(Platform::windows, "kalxlat", args, windows_dir.path(), "/\n");
      expect_same_console(on_linux, linux_dir.path(), on_windows, windows_dir.path());
      expect_same_files(linux_dir.path(), windows_dir.path(), {"in.RAW"});
    }
  }
}

// The typos and mistakes of a crew's first run: the same lines and status on
// both platforms, and no file made beside the RAW file.
TEST(WineXlat, CommandLineMistakesAnswerAlikeOnBothPlatforms) {
  const std::vector<std::pair<std::string, std::vector<std::string>>> runs = {
      {"kalxlat", {"--help"}},           {"kalxlat", {"-h"}},
      {"kalxlat", {"/?"}},               {"kalxlat", {"--version"}},
      {"kalxlat", {"in.RAW", "-csv"}},   {"kalxlat", {"in.RAW", "--hlep"}},
      {"kalxlat", {"nothere.RAW", "X"}}, {"kalfetch5", {"--hlep"}},
      {"kalfetch5", {"X", "--csv"}},
  };
  for (const auto& [program, args] : runs) {
    SCOPED_TRACE(program + " " + ::testing::PrintToString(args));
    TempDir linux_dir("kal-wine-xlat"), windows_dir("kal-wine-xlat");
    test::write_file(linux_dir.path() / "in.RAW", "Z$\n");
    test::write_file(windows_dir.path() / "in.RAW", "Z$\n");
    const ProgramRun on_linux = run_on(Platform::linux_host, program, args, linux_dir.path(), "");
    const ProgramRun on_windows = run_on(Platform::windows, program, args, windows_dir.path(), "");
    expect_same_console(on_linux, linux_dir.path(), on_windows, windows_dir.path());
    EXPECT_EQ(test::list_files(windows_dir.path()), std::set<std::string>{"in.RAW"});
  }
}

}  // namespace
}  // namespace kal::winetest

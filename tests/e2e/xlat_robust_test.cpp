// kalxlat on RAW files a field laptop really produces now and then:
// truncated and garbled records, huge numbers, very many GPS records and
// survey names, every output type in one process.
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

// Bare tags, cut records, binary bytes and an overlong line: every type
// ends normally, and the station after the rubbish is still written.
TEST(XlatRobust, OddLinesEndNormallyUnderEveryType) {
  Lines raw = {header_rec("100000", "LINE0001", "261208", "1")};
  for (const char* tag : {"T$", "X$", "D$", "N$", "I$", "R$", "A$", "O$", "G$", "C$", "Z",
                          "AS$", "$PKLVT", "$", "$$$$$", "S$", "T", "T$1", "I$100005   25 -15  35 12345 -3",
                          "I$100005   25 -15  35 12345  0", "O$99 1 2 3 4", "O$ 1 x y z w"})
    raw.push_back(tag);
  const char binary[] = "T$\0\x01\x7f\xff garbage";
  raw.push_back(std::string(binary, sizeof binary - 1));
  raw.push_back(std::string(5000, 'x'));
  raw.push_back("G$GPGGA,,,,,,,,,,,,,*00");
  raw.push_back("G$GPGGA");
  raw.push_back("G$GPGGA,*");
  raw.push_back(kStation1);
  for (const char* type : {"X", "G", "D", "L", "S", "P", "I", "R"}) {
    TempDir dir;
    write_file(dir.file("in.RAW"), raw_text(raw));
    const XlatRun run = run_kalxlat(dir.path(), {"in.RAW", type});
    ASSERT_FALSE(run.timed_out) << type;
    EXPECT_EQ(run.status, 0) << type << "\n" << run.err;
    EXPECT_TRUE(run.has_line("End of file reached.  Exiting...")) << type;
  }
}

// A value too wide for its field is written as asterisks: code 5 (0.5 m)
// and NULD HQ 999999: (9999.99)/0.0044413 = 2251546 does not fit F9.2.
TEST(XlatRobust, TooWideValueIsAsterisks) {
  TempDir dir;
  write_file(dir.file("in.RAW"),
             raw_text({header_rec("100000", "LINE0005", "261208", "5"),
                       t58("100001", 1, "NULD", {0, 0, 999999, 100, 0, 0})}));
  const XlatRun run = run_kalxlat(dir.path(), {"in.RAW", "X"});
  EXPECT_EQ(run.status, 0);
  const Lines xyz = read_lines(dir.file("LINE0005.xyz"));
  ASSERT_EQ(xyz.size(), 1u);
  EXPECT_EQ(xyz[0].substr(0, 30), "     1     1*********     1.00");
}

// More G$ records than the fix table holds: all of them reach the GPS
// file and the run ends normally.
TEST(XlatRobust, MoreGpsRecordsThanFixTable) {
  const int n = 50010;
  std::string text = header_rec("100000", "MANYGPS", "261208", "1") + "\n";
  text.reserve(static_cast<std::size_t>(n) * 80);
  const std::string rec = g_rec("GPGGA,100002,4500.0000,N,07500.0000,W,1,08,0.9,100.0,M,0.0,M,,");
  for (int i = 0; i < n; ++i) text += rec + "\n";
  text += kStation1 + "\n";
  TempDir dir;
  write_file(dir.file("in.RAW"), text);
  const XlatRun run = run_kalxlat(dir.path(), {"in.RAW", "S"});
  ASSERT_FALSE(run.timed_out);
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(read_lines(dir.file("MANYGPS.GPS")).size(), static_cast<std::size_t>(n));
  EXPECT_TRUE(run.has_line_containing(" get UTM Zone Number           18"));
  const Lines san = read_lines(dir.file("MANYGPS.san"));
  ASSERT_EQ(san.size(), 2u);
  EXPECT_EQ(san[1].substr(0, 25), "    500000.0    4982950.4");
}

// A survey name seen 120 names earlier is still recognised as repeated.
TEST(XlatRobust, RepeatAfterManyNamesIsStillUnique) {
  Lines raw;
  for (int i = 0; i < 120; ++i) {
    raw.push_back(header_rec("100000", "N" + std::to_string(1000 + i), "261208", "1"));
    raw.push_back(t58("100001", i + 1, "CONV", {0, 0, 10, 20, 30, 40}));
  }
  raw.push_back(header_rec("110000", "N1000", "261208", "1"));
  raw.push_back(t58("110001", 999, "CONV", {0, 0, 10, 20, 30, 40}));
  TempDir dir;
  write_file(dir.file("in.RAW"), raw_text(raw));
  const XlatRun run = run_kalxlat(dir.path(), {"in.RAW", "X"});
  EXPECT_EQ(run.status, 0);
  const Lines first = read_lines(dir.file("N1000.xyz"));
  ASSERT_EQ(first.size(), 1u);
  EXPECT_EQ(first[0].substr(0, 6), "     1");
  const Lines again = read_lines(dir.file("N1000_110000.xyz"));
  ASSERT_EQ(again.size(), 1u);
  EXPECT_EQ(again[0].substr(0, 6), "   999");
  EXPECT_EQ(list_files(dir.path()).size(), 122u);  // RAW, 120 names, the repeat
}

// Every type letter, lower case, in one process.
TEST(XlatRobust, AllTypesInOneProcess) {
  TempDir dir;
  write_file(dir.file("in.RAW"),
             raw_text({c_rec("120000", "KALVOR-1   SNA1234567  SW VERSION 6.2 "),
                       header_rec("100000", "LINE0001", "261208", "1"), kStation1,
                       "I$100005   25 -15  35 12345  3 12345   250  7500",
                       r_rec({1, 2, 3, 4, 5, 6, 7})}));
  const XlatRun run = run_kalxlat(dir.path(), {"in.RAW", "xgdlspir"});
  EXPECT_EQ(run.status, 0) << run.out;
  EXPECT_EQ(run.count_lines_containing("*** Transcription v1.22 ***"), 8);
  EXPECT_EQ(list_files(dir.path()),
            (Files{"in.RAW", "Default.RAW", "LINE0001.xyz", "LINE0001.g31", "LINE0001.log",
                   "LINE0001.san", "LINE0001.idf", "LINE0001.SDF", "LINE0001.ice",
                   "LINE0001.DAT"}));
  EXPECT_EQ(read_lines(dir.file("Default.RAW")).size(), 1u);
}

}  // namespace
}  // namespace kal::xtest

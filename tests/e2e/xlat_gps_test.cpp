// kalxlat and the GPS records: the pre-pass console line, a file without
// positions, and the GGA reader's messages for sentences it cannot read.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "e2e/xlat_harness.h"
#include "e2e/xlat_records.h"

namespace kal::xtest {
namespace {

using Lines = std::vector<std::string>;

const std::string kStation1 = t58("100001", 1, "CONV", {11, 22, 1234, -567, 2345, 89});

// One good sentence at 45 N 75 W: the mean is that position and the zone
// 18. Free form: one blank, the texts, each 64-bit real as G25.16 (45 and
// -75 -> F21.14 and four blanks: "    45.00000000000000    ",
// "   -75.00000000000000    "), the zone as I12.
TEST(XlatGps, PrePassLineShowsMeanAndZone) {
  TempDir dir;
  const XlatRun run =
      run_raw(dir,
              {g_rec("GPGGA,100002,4500.0000,N,07500.0000,W,1,08,0.9,100.0,M,0.0,M,,"), kStation1},
              "X");
  EXPECT_EQ(run.status, 0);
  EXPECT_TRUE(run.has_line(" For mean Lat, Lon=    45.00000000000000       -75.00000000000000    "
                           " get UTM Zone Number           18"))
      << numbered(run.lines);
}

TEST(XlatGps, NoGpsRecordNoPrePassLine) {
  TempDir dir;
  const XlatRun run = run_raw(dir, {kStation1}, "S");
  EXPECT_EQ(run.status, 0);
  EXPECT_FALSE(run.has_line_containing("For mean Lat, Lon="));
  EXPECT_FALSE(run.has_line_containing("UTM Zone"));
}

// Sentences the reader cannot read: its message (with the rest of the
// sentence from the failing field up to the "*") and the stations keep
// what they had: no position.
TEST(XlatGps, ReaderMessagesForUnreadableSentences) {
  struct Case {
    std::string record;
    std::string message;
  };
  const Case cases[] = {
      {"G$GPGGA,100002,4500.0000,N", "Read_GPGGA:  no data in payload"},
      {"G$GPGGA,100002,4500.0000,N,07500.0000,W,1,08,0.9,100.0,M,0.0,M,,*ZZ",
       "Read_GPGGA:  Error reading checksum=ZZ"},
      {g_rec("GPGGA,100002,45x0.0000,N,07500.0000,W,1,08,0.9,100.0,M,0.0,M,,"),
       "Read_GPGGA:  Error reading latitude data=45x0.0000,N,07500.0000,W"},
  };
  for (const Case& c : cases) {
    TempDir dir;
    const XlatRun run = run_raw(dir, {c.record, kStation1}, "X");
    EXPECT_EQ(run.status, 0) << c.record;
    EXPECT_TRUE(run.has_line_containing(c.message)) << c.record << "\n" << numbered(run.lines);
    const Lines xyz = read_lines(dir.file("Default.xyz"));
    ASSERT_EQ(xyz.size(), 1u);
    // latitude and longitude F12.6 after 111 characters
    EXPECT_EQ(xyz[0].substr(111, 25), "    0.000000     0.000000") << c.record;
  }
}

}  // namespace
}  // namespace kal::xtest

// The UTM projection: reference points, zone choice, hemisphere rules and
// the warnings written to fort.99.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "geodesy/ll2utm.h"
#include "support/temp_dir.h"
#include "support/text_files.h"

namespace kal {
namespace {

using test::read_lines;
using test::TempDir;

constexpr std::int32_t kGrs80 = 9;

struct Projected {
  double easting = 0.0;
  double northing = 0.0;
  double latitude = 0.0;  // as written back
  std::int32_t zone = 0;
};

Projected project(double latitude, double longitude, std::int32_t zone,
                  std::int32_t ellipsoid = kGrs80) {
  Projected p;
  p.latitude = latitude;
  p.zone = zone;
  LL2UTM(p.easting, p.northing, p.latitude, longitude, p.zone, ellipsoid);
  return p;
}

class Ll2Utm : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(cwd_.ready()); }
  std::vector<std::string> diagnostics() const { return read_lines(cwd_.file("fort.99")); }
  bool diagnostics_exist() const { return std::filesystem::exists(cwd_.file("fort.99")); }

 private:
  TempDir cwd_{"kal-geodesy", TempDir::Cwd::enter};
};

struct ReferencePoint {
  const char* name;
  double latitude;   // arc-seconds, north positive
  double longitude;  // arc-seconds, west positive
  std::int32_t zone_in;
  std::int32_t zone_out;
  double latitude_out;
  double easting;
  double northing;
};

// Published reference figures, to the centimetre.
const ReferencePoint kReferencePoints[] = {
    // 45 N 75 W: 162,000" and 270,000", on the central meridian of zone 18.
    {"45N 75W", 162000.0, 270000.0, 0, 18, 162000.0, 500000.00, 4982950.40},
    // 48.1173 N = 173,222.28"; 11 deg 31' E = -41,460".
    {"48.1173N 11d31mE", 173222.28, -41460.0, 0, 32, 173222.28, 687299.58, 5332401.25},
    // 33.8688 S = -121,927.68"; 151.2093 E = -544,353.48".
    {"33.8688S 151.2093E", -121927.68, -544353.48, 0, -56, -121927.68, 334368.63, 6250948.35},
    // Zone -18 with a northern latitude: the latitude is made southern and
    // the false northing added; on the meridian the northing mirrors the
    // first point: 10,000,000 - 4,982,950.40.
    {"zone -18, north latitude", 162000.0, 270000.0, -18, -18, -162000.0, 500000.00,
     5017049.60},
    // A southern latitude with a positive zone: the zone turns negative.
    {"zone 18, south latitude", -162000.0, 270000.0, 18, -18, -162000.0, 500000.00, 5017049.60},
    // A given zone is used as given: zone 32 at 11d31'E, as above.
    {"zone 32 given", 173222.28, -41460.0, 32, 32, 173222.28, 687299.58, 5332401.25},
};

TEST_F(Ll2Utm, ReferencePoints) {
  for (const ReferencePoint& r : kReferencePoints) {
    SCOPED_TRACE(r.name);
    const Projected p = project(r.latitude, r.longitude, r.zone_in);
    EXPECT_EQ(p.zone, r.zone_out);
    EXPECT_EQ(p.latitude, r.latitude_out);
    EXPECT_NEAR(p.easting, r.easting, 0.005);
    EXPECT_NEAR(p.northing, r.northing, 0.005);
  }
  EXPECT_FALSE(diagnostics_exist());
}

TEST_F(Ll2Utm, CentralMeridianGivesExactlyTheFalseEasting) {
  EXPECT_EQ(project(162000.0, 270000.0, 0).easting, 500000.0);
}

struct ZoneCase {
  double longitude;  // arc-seconds, west positive
  std::int32_t zone;
};

// 21,600" per zone; a longitude on an edge belongs to the zone farther from
// Greenwich; 180 degrees (648,000") and beyond are taken modulo 360 degrees
// and the 180th meridian itself is zone 1.
const ZoneCase kZoneCases[] = {
    {0.0, 30},          // Greenwich
    {1.0, 30},          // just west
    {-1.0, 31},         // just east
    {21600.0, 29},      // 6 W, the 29/30 edge
    {-21600.0, 32},     // 6 E, the 31/32 edge
    {270000.0, 18},     // 75 W
    {-41460.0, 32},     // 11d31' E
    {-544353.48, 56},   // 151.2093 E
    {647999.0, 1},      // just east of 180 W
    {-647999.0, 60},    // just west of 180 E
    {648000.0, 1},      // 180 W
    {-648000.0, 1},     // 180 E, the same meridian
    {700000.0, 58},     // 194.44 W = 165.56 E: 31 + 27
    {-700000.0, 3},     // 194.44 E = 165.56 W: 30 - 27
    {1566000.0, 18},    // 75 W + 360
    {-1026000.0, 18},   // 285 E = 75 W
};

TEST_F(Ll2Utm, ZoneChoice) {
  for (const ZoneCase& c : kZoneCases) {
    SCOPED_TRACE(c.longitude);
    EXPECT_EQ(project(10.0, c.longitude, 0).zone, c.zone);
    EXPECT_EQ(project(-10.0, c.longitude, 0).zone, -c.zone);
  }
}

TEST_F(Ll2Utm, LongitudeBeyond180IsTheSamePoint) {
  const Projected base = project(162000.0, 270000.0, 0);
  const Projected turned = project(162000.0, 270000.0 + 1296000.0, 0);
  EXPECT_EQ(turned.zone, base.zone);
  EXPECT_NEAR(turned.easting, base.easting, 1e-6);
  EXPECT_NEAR(turned.northing, base.northing, 1e-6);
}

TEST_F(Ll2Utm, ZoneKeptAcrossThe180thMeridian) {
  // 179.5 W (646,200") in zone 60 (central meridian 177 E) lies 3.5 degrees
  // east of that meridian, exactly as 6.5 E (-23,400") lies east of zone
  // 31's central meridian, 3 E.
  const Projected across = project(-60000.0, 646200.0, 60);
  const Projected same_offset = project(-60000.0, -23400.0, 31);
  EXPECT_EQ(across.zone, -60);
  EXPECT_NEAR(across.easting, same_offset.easting, 1e-6);
  EXPECT_NEAR(across.northing, same_offset.northing, 1e-6);
  EXPECT_GT(across.easting, 500000.0);
  EXPECT_FALSE(diagnostics_exist());
}

// The warning lines as they stand in fort.99: each text is a free-form
// record with its leading blank; the degree line holds two G25.16 fields.
const std::vector<std::string> kPolewardLines = {
    "  *************   error exit from utm. ",
    "    latitude value is poleward of 84 degrees",
    "    utm is not valid.",
    "    calculation has continued but values ",
    "    may not be valid.",
};
const std::vector<std::string> kMeridianLines = {
    "  *************   error exit from utm. ",
    "   d lon not within 0.16 radians of central merid.",
    "    calculation has continued but values ",
    "    may not be valid.",
};
// 45.0 as G25.16: F21.14 and four blanks.
const std::string kDegrees45 = "    45.00000000000000    ";
const std::string kDegrees85 = "    85.00000000000000    ";
const std::string kDegrees75 = "    75.00000000000000    ";

std::vector<std::string> joined(std::vector<std::string> a, const std::vector<std::string>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

TEST_F(Ll2Utm, TenDegreesFromTheCentralMeridianIsProjectedAndWarned) {
  // 45 N 85 W in zone 18 (central meridian 75 W): 36,000" = 0.1745 rad.
  const Projected p = project(162000.0, 306000.0, 18);
  EXPECT_EQ(p.zone, 18);
  // About 0.1745 x 6,388,838 m x cos 45 x 0.9996 = 788 km west of the
  // false easting.
  EXPECT_NEAR(p.easting, 500000.0 - 788000.0, 3000.0);
  EXPECT_GT(p.northing, 4982950.40);  // away from the meridian the grid north grows
  EXPECT_EQ(diagnostics(), joined(kMeridianLines, {" " + kDegrees45 + kDegrees85}));
}

TEST_F(Ll2Utm, PolewardOf84DegreesIsProjectedAndWarned) {
  // 85 N 75 W: 306,000" > 302,400".
  const Projected p = project(306000.0, 270000.0, 0);
  EXPECT_EQ(p.zone, 18);
  EXPECT_EQ(p.easting, 500000.0);
  EXPECT_EQ(diagnostics(), joined(kPolewardLines, {" " + kDegrees85 + kDegrees75}));
}

TEST_F(Ll2Utm, BothChecksWarnInOrder) {
  project(306000.0, 306000.0, 18);  // 85 N 85 W in zone 18
  const std::string degrees = " " + kDegrees85 + kDegrees85;
  EXPECT_EQ(diagnostics(), joined(joined(kPolewardLines, {degrees}),
                                   joined(kMeridianLines, {degrees})));
}

TEST_F(Ll2Utm, SouthernWarningShowsTheWrittenBackLatitude) {
  // Zone -18 turns 85 N into 85 S; the degree line shows -85.
  project(306000.0, 270000.0, -18);
  EXPECT_EQ(diagnostics(),
            joined(kPolewardLines, {" " + std::string("   -85.00000000000000    ") + kDegrees75}));
}

TEST_F(Ll2Utm, LaterWarningsExtendTheFile) {
  project(162000.0, 306000.0, 18);
  project(306000.0, 270000.0, 0);
  EXPECT_EQ(diagnostics(), joined(joined(kMeridianLines, {" " + kDegrees45 + kDegrees85}),
                                  joined(kPolewardLines, {" " + kDegrees85 + kDegrees75})));
}

TEST_F(Ll2Utm, NoWarningNoFile) {
  project(162000.0, 270000.0 + 32400.0, 18);  // 9 degrees off: 0.157 rad
  project(-302400.0, 270000.0, 0);            // exactly 84 S
  EXPECT_FALSE(diagnostics_exist());
}

TEST_F(Ll2Utm, EllipsoidOutsideTheTableUsesGrs80AndSaysSo) {
  const Projected grs80 = project(173222.28, -41460.0, 0);
  for (const std::int32_t bad : {0, 20, -3}) {
    SCOPED_TRACE(bad);
    const Projected p = project(173222.28, -41460.0, 0, bad);
    EXPECT_EQ(p.easting, grs80.easting);
    EXPECT_EQ(p.northing, grs80.northing);
    EXPECT_EQ(p.zone, 32);
  }
  // The index as a 32-bit integer in 12 columns.
  const std::vector<std::string> want = {
      "  *************   error exit from utm. ", "    ellipsoid index out of range:           0",
      "    grs 80 used.",
      "  *************   error exit from utm. ", "    ellipsoid index out of range:          20",
      "    grs 80 used.",
      "  *************   error exit from utm. ", "    ellipsoid index out of range:          -3",
      "    grs 80 used.",
  };
  EXPECT_EQ(diagnostics(), want);
}

// The first warning of a process replaces a fort.99 left by an earlier run.
// A fresh process is needed, so the check runs in a child that re-executes
// this test alone and reports through its exit code.
int first_warning_replaces_old_file() {
  TempDir cwd("kal-geodesy", TempDir::Cwd::enter);
  if (!cwd.ready()) return 2;
  {
    std::ofstream old(cwd.file("fort.99"));
    old << "left by an earlier run\n";
  }
  project(162000.0, 306000.0, 18);
  const auto first = joined(kMeridianLines, {" " + kDegrees45 + kDegrees85});
  if (read_lines(cwd.file("fort.99")) != first) return 3;
  project(162000.0, 306000.0, 18);
  if (read_lines(cwd.file("fort.99")) != joined(first, first)) return 4;
  return 0;
}

TEST(Ll2UtmProcess, FirstWarningReplacesAnOldFile) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(std::_Exit(first_warning_replaces_old_file()), ::testing::ExitedWithCode(0), "");
}

}  // namespace
}  // namespace kal

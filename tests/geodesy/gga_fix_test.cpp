// The full-digit GGA fix reader: every decimal of the minutes and of the
// seconds, hemispheres, fixes without position, and sentences it refuses.
#include "geodesy/gga_fix.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "gga_test_support.h"

namespace kal {
namespace {

using testing::with_checksum;

struct FixCase {
  std::string name;
  std::string sentence;
  std::int32_t time_ms;
  bool has_position;
  double latitude;
  double longitude;
  std::int32_t quality;
  std::optional<double> hdop;
};

// Worked by hand: 12:35:19 = 45,319 s; 48 deg 07.038' = 48.1173 deg;
// 011 deg 31.000' = 11.5166... deg. 23:59:59.50 = 86,399,500 ms;
// 30.1234567' / 60 = 0.5020576116...; 36.7654321' / 60 = 0.6127572016...
const FixCase kFixes[] = {
    {"receiver manual example",
     "GPGGA,123519,4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,*47", 45'319'000, true,
     48.1173, 11.0 + 31.0 / 60.0, 1, 0.9},
    {"seven decimals of minutes and decimal seconds",
     with_checksum("GPGGA,235959.50,4530.1234567,S,07336.7654321,W,4,12,0.7,30.1,M,-32.0,M,1.0,0000"),
     86'399'500, true, -45.50205761166667, -73.61275720166667, 4, 0.7},
    {"milliseconds in the time", with_checksum("GPGGA,000000.123,0100.00000,N,00200.00000,E,2,09,1.25,,,,,,"),
     123, true, 1.0, 2.0, 2, 1.25},
    {"one decimal of a second", with_checksum("GPGGA,101010.5,0030.0,N,17930.0,E,1,05,2,,,,,,"),
     36'610'500, true, 0.5, 179.5, 1, 2.0},
    {"leading dollar, other talker, line end", "$" + with_checksum("GNGGA,010203,1000.0,N,00000.6,W,5,07,,,,,,,") + "\r\n",
     3'723'000, true, 10.0, -0.01, 5, std::nullopt},
    {"no checksum (loggers that strip it)", "GPGGA,123519,4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,",
     45'319'000, true, 48.1173, 11.0 + 31.0 / 60.0, 1, 0.9},
    {"no position before the receiver has a fix", with_checksum("GPGGA,000001,,,,,0,00,,,M,,M,,"), 1000,
     false, 0.0, 0.0, 0, std::nullopt},
    {"zeros are no position", with_checksum("GPGGA,000002,0000.0000,N,00000.0000,E,0,00,99.9,,,,,,"),
     2000, false, 0.0, 0.0, 0, 99.9},
    {"a cut sentence without longitude places nothing", with_checksum("GPGGA,000003,4807.038,N"),
     3000, false, 0.0, 0.0, 0, std::nullopt},
};

TEST(GgaFixReader, ReadsEveryDigit) {
  for (const FixCase& c : kFixes) {
    SCOPED_TRACE(c.name);
    const std::optional<GgaFix> fix = read_gga_fix(c.sentence);
    ASSERT_TRUE(fix.has_value());
    EXPECT_EQ(fix->time_ms, c.time_ms);
    EXPECT_EQ(fix->has_position, c.has_position);
    EXPECT_NEAR(fix->latitude, c.latitude, 1e-12);
    EXPECT_NEAR(fix->longitude, c.longitude, 1e-12);
    EXPECT_EQ(fix->quality, c.quality);
    ASSERT_EQ(fix->hdop.has_value(), c.hdop.has_value());
    if (c.hdop) {
      EXPECT_NEAR(*fix->hdop, *c.hdop, 1e-12);
    }
  }
}

// Seven characters of minutes ("30.1234") lose 0.0000567' = 0.105 m of
// latitude; the full reader keeps it.
TEST(GgaFixReader, KeepsTheDecimalsASevenCharacterReadLoses) {
  const auto fix = read_gga_fix(with_checksum("GPGGA,120000,4530.1234567,N,07336.7654321,W,4,12,0.7,,,,,,"));
  ASSERT_TRUE(fix.has_value());
  const double seven_characters = 45.0 + 30.1234 / 60.0;
  EXPECT_NEAR((fix->latitude - seven_characters) * 60.0, 0.0000567, 1e-10);
}

const char* const kRefused[] = {
    // one digit changed, old checksum
    "GPGGA,123519,4807.039,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,*47",
    "GPGGA,123519,4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,*4",
    "GPGGA,123519,4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,*G7",
};

const char* const kRefusedBodies[] = {
    "GPGGA,,4807.038,N,01131.000,E,1,08,0.9,,,,,,",          // no time
    "GPGGA,1235,4807.038,N,01131.000,E,1,08,0.9,,,,,,",      // short time
    "GPGGA,253519,4807.038,N,01131.000,E,1,08,0.9,,,,,,",    // hour 25
    "GPGGA,123519,48O7.038,N,01131.000,E,1,08,0.9,,,,,,",    // letter O in latitude
    "GPGGA,123519,4867.038,N,01131.000,E,1,08,0.9,,,,,,",    // 67 minutes
    "GPGGA,123519,4807.038,,01131.000,E,1,08,0.9,,,,,,",     // no hemisphere
    "GPGGA,123519,4807.038,N,01131.000,X,1,08,0.9,,,,,,",    // unknown hemisphere
    "GPGGA,123519,-4807.038,N,01131.000,E,1,08,0.9,,,,,,",   // sign
    "GPGGA,123519,4807.038,N,01131.000,E,12,08,0.9,,,,,,",   // two-digit quality
    "GPGGA,123519,4807.038,N,01131.000,E,1,08,0.9.1,,,,,,",  // two points in HDOP
    "GPRMC,123519,4807.038,N,01131.000,E,1,08,0.9,,,,,,",    // not a GGA sentence
};

TEST(GgaFixReader, RefusesWhatItCannotTrust) {
  for (const char* sentence : kRefused) {
    SCOPED_TRACE(sentence);
    EXPECT_FALSE(read_gga_fix(sentence).has_value());
  }
  for (const char* body : kRefusedBodies) {
    SCOPED_TRACE(body);
    EXPECT_FALSE(read_gga_fix(with_checksum(body)).has_value());
  }
}

}  // namespace
}  // namespace kal

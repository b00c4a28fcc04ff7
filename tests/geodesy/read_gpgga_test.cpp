// The GGA sentence reader: values, checksum, console messages and which
// outputs a failing field leaves alone.
#include <gtest/gtest.h>

#include <cctype>
#include <string>
#include <vector>

#include "gga_test_support.h"
#include "support/fake_console.h"

namespace kal {
namespace {

using testing::GgaOutputs;
using testing::kUntouched;
using testing::read_gga;
using test::FakeConsole;
using testing::with_checksum;

// The receiver manual's example sentence and its checksum.
constexpr std::string_view kExampleBody =
    "GPGGA,123519,4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,";
constexpr std::string_view kExample =
    "GPGGA,123519,4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,*47";

// 12:35:19 is (12 x 60 + 35) x 60 + 19 = 45,319 s; 48 deg 07.038' and
// 011 deg 31.000'.
const GgaOutputs kExampleValues{45'319'000, 48.0 + 7.038 / 60.0, 11.0 + 31.0 / 60.0, 1, 8,
                                0.9f, 545.4f};

// The example body with field `j` (1 = time ... 9 = altitude) replaced.
std::string example_with(int j, std::string_view text) {
  std::vector<std::string> parts;
  std::string part;
  for (const char c : kExampleBody) {
    if (c == ',') {
      parts.push_back(part);
      part.clear();
    } else {
      part.push_back(c);
    }
  }
  parts.push_back(part);
  parts[static_cast<std::size_t>(j)] = std::string(text);
  std::string body = parts[0];
  for (std::size_t i = 1; i < parts.size(); ++i) body += "," + parts[i];
  return body;
}

std::string sealed_with(int j, std::string_view text) { return with_checksum(example_with(j, text)); }

GgaOutputs example_but(void (*change)(GgaOutputs&)) {
  GgaOutputs values = kExampleValues;
  change(values);
  return values;
}

void expect_outputs(const GgaOutputs& got, const GgaOutputs& want, const std::string& name) {
  SCOPED_TRACE(name);
  EXPECT_EQ(got.time, want.time);
  EXPECT_NEAR(got.latitude, want.latitude, 1e-12);
  EXPECT_NEAR(got.longitude, want.longitude, 1e-12);
  EXPECT_EQ(got.fix, want.fix);
  EXPECT_EQ(got.satellites, want.satellites);
  EXPECT_EQ(got.hdop, want.hdop);
  EXPECT_EQ(got.altitude, want.altitude);
}

TEST(ChecksumHelper, ReproducesTheExampleChecksum) {
  EXPECT_EQ(with_checksum(kExampleBody), kExample);
  // HDOP "1.5" for "0.9": 47 xor 01 xor 0C = 4A, used for the lower-case case.
  EXPECT_TRUE(sealed_with(8, "1.5").ends_with("*4A"));
}

struct GgaCase {
  std::string name;
  std::string payload;
  GgaOutputs want;
  std::string message;  // the console line, empty when none
};

std::vector<GgaCase> value_cases() {
  return {
      {"example", std::string(kExample), kExampleValues, ""},
      {"other talker", with_checksum(example_with(0, "GNGGA")), kExampleValues, ""},
      {"trailing CR LF", std::string(kExample) + "\r\n", kExampleValues, ""},
      {"blank padded to 250", std::string(kExample) + std::string(250 - kExample.size(), ' '),
       kExampleValues, ""},
      {"lower-case checksum digits",
       [] {
         // 47 xor ('0' xor '1') xor ('9' xor '5') = 47 xor 01 xor 0C = 4A.
         std::string s = sealed_with(8, "1.5");
         s.back() = static_cast<char>(std::tolower(static_cast<unsigned char>(s.back())));
         return s;
       }(),
       example_but([](GgaOutputs& v) { v.hdop = 1.5f; }), ""},
      {"south and west",
       with_checksum("GPGGA,123519,4807.038,S,01131.000,W,1,08,0.9,545.4,M,46.9,M,,"),
       example_but([](GgaOutputs& v) {
         v.latitude = -v.latitude;
         v.longitude = -v.longitude;
       }),
       ""},
      {"lower-case hemisphere letters",
       with_checksum("GPGGA,123519,4807.038,s,01131.000,w,1,08,0.9,545.4,M,46.9,M,,"),
       example_but([](GgaOutputs& v) {
         v.latitude = -v.latitude;
         v.longitude = -v.longitude;
       }),
       ""},
      {"empty north/south is north", sealed_with(3, ""), kExampleValues, ""},
      {"empty east/west is east", sealed_with(5, ""), kExampleValues, ""},
      {"west letter", sealed_with(5, "W"),
       example_but([](GgaOutputs& v) { v.longitude = -v.longitude; }), ""},
      {"empty time", sealed_with(1, ""), example_but([](GgaOutputs& v) { v.time = 0; }), ""},
      {"four-character time", sealed_with(1, "1235"),
       example_but([](GgaOutputs& v) { v.time = 0; }), ""},
      // 23:59:59.99 -> (23 x 60 + 59) x 60 + 59 = 86,399 s; decimals ignored.
      {"decimal seconds ignored", sealed_with(1, "235959.99"),
       example_but([](GgaOutputs& v) { v.time = 86'399'000; }), ""},
      // Five characters: the missing sixth reads as blank, 12:35:1 -> 45,301 s.
      {"five-character time", sealed_with(1, "12351"),
       example_but([](GgaOutputs& v) { v.time = 45'301'000; }), ""},
      {"empty latitude", sealed_with(2, ""),
       example_but([](GgaOutputs& v) { v.latitude = 0.0; }), ""},
      {"short latitude", sealed_with(2, "4807"),
       example_but([](GgaOutputs& v) { v.latitude = 0.0; }), ""},
      {"short longitude", sealed_with(4, "0113"),
       example_but([](GgaOutputs& v) { v.longitude = 0.0; }), ""},
      // Seven characters of minutes: "07.0381" of "07.038125".
      {"minutes cut to seven characters", sealed_with(2, "4807.038125"),
       example_but([](GgaOutputs& v) { v.latitude = 48.0 + 7.0381 / 60.0; }), ""},
      {"longitude minutes cut to seven characters", sealed_with(4, "01131.0009999"),
       example_but([](GgaOutputs& v) { v.longitude = 11.0 + 31.0009 / 60.0; }), ""},
      {"empty fix", sealed_with(6, ""), example_but([](GgaOutputs& v) { v.fix = 0; }), ""},
      {"empty satellites", sealed_with(7, ""),
       example_but([](GgaOutputs& v) { v.satellites = 0; }), ""},
      {"twelve satellites", sealed_with(7, "12"),
       example_but([](GgaOutputs& v) { v.satellites = 12; }), ""},
      {"empty hdop", sealed_with(8, ""), example_but([](GgaOutputs& v) { v.hdop = 0.0f; }), ""},
      {"one-character hdop", sealed_with(8, "1"),
       example_but([](GgaOutputs& v) { v.hdop = 0.0f; }), ""},
      // A five-character window would have kept "12.34".
      {"hdop read whole", sealed_with(8, "12.345"),
       example_but([](GgaOutputs& v) { v.hdop = 12.345f; }), ""},
      {"hdop without point", sealed_with(8, "12"),
       example_but([](GgaOutputs& v) { v.hdop = 12.0f; }), ""},
      {"altitude without point", sealed_with(9, "12"),
       example_but([](GgaOutputs& v) { v.altitude = 12.0f; }), ""},
      {"zero-padded altitude", sealed_with(9, "00019"),
       example_but([](GgaOutputs& v) { v.altitude = 19.0f; }), ""},
      {"zero-padded altitude with point", sealed_with(9, "01482.8"),
       example_but([](GgaOutputs& v) { v.altitude = 1482.8f; }), ""},
      {"negative altitude", sealed_with(9, "-5"),
       example_but([](GgaOutputs& v) { v.altitude = -5.0f; }), ""},
      {"one-character altitude", sealed_with(9, "5"),
       example_but([](GgaOutputs& v) { v.altitude = 0.0f; }), ""},
      {"empty altitude", sealed_with(9, ""),
       example_but([](GgaOutputs& v) { v.altitude = 0.0f; }), ""},
  };
}

TEST(ReadGpggaValues, Table) {
  FakeConsole capture;
  for (const GgaCase& c : value_cases()) {
    capture.lines.clear();
    expect_outputs(read_gga(c.payload), c.want, c.name);
    EXPECT_TRUE(capture.lines.empty()) << c.name << ": " << capture.lines.front();
  }
}

// A field that cannot be read: the outputs before it are set, the failing
// one and all later ones keep their values (fix, satellites, hdop and
// altitude become 0 first), and one line names the field and shows the
// sentence from that field up to the "*".
std::vector<GgaCase> failure_cases() {
  const GgaOutputs time_only{45'319'000, kUntouched.latitude, kUntouched.longitude,
                             kUntouched.fix, kUntouched.satellites, kUntouched.hdop,
                             kUntouched.altitude};
  GgaOutputs through_latitude = time_only;
  through_latitude.latitude = kExampleValues.latitude;
  GgaOutputs fix_failed = through_latitude;
  fix_failed.longitude = kExampleValues.longitude;
  fix_failed.fix = 0;
  GgaOutputs satellites_failed = fix_failed;
  satellites_failed.fix = 1;
  satellites_failed.satellites = 0;
  GgaOutputs hdop_failed = satellites_failed;
  hdop_failed.satellites = 8;
  hdop_failed.hdop = 0.0f;
  GgaOutputs altitude_failed = hdop_failed;
  altitude_failed.hdop = 0.9f;
  altitude_failed.altitude = 0.0f;

  return {
      {"no star", std::string(kExampleBody), kUntouched, " Read_GPGGA:  no data in payload"},
      {"one character before the star", "G*47", kUntouched, " Read_GPGGA:  no data in payload"},
      {"empty payload", "", kUntouched, " Read_GPGGA:  no data in payload"},
      {"checksum not hexadecimal", std::string(kExampleBody) + "*G7", kUntouched,
       " Read_GPGGA:  Error reading checksum=G7"},
      {"time", sealed_with(1, "12a519"), kUntouched,
       " Read_GPGGA:  Error reading GPS time=12a519"},
      {"latitude minutes", sealed_with(2, "48x7.038"), time_only,
       " Read_GPGGA:  Error reading latitude data=48x7.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,"
       "M,,"},
      {"latitude degrees", sealed_with(2, "4a07.038"), time_only,
       " Read_GPGGA:  Error reading latitude data=4a07.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,"
       "M,,"},
      {"longitude", sealed_with(4, "011x1.000"), through_latitude,
       " Read_GPGGA:  Error reading longitude data=011x1.000,E,1,08,0.9,545.4,M,46.9,M,,"},
      {"fix", sealed_with(6, "x"), fix_failed,
       " Read_GPGGA:  Error reading dmode data=x,08,0.9,545.4,M,46.9,M,,"},
      {"satellites", sealed_with(7, "0a"), satellites_failed,
       " Read_GPGGA:  Error reading nsat data=0a,0.9,545.4,M,46.9,M,,"},
      {"hdop", sealed_with(8, "0.x"), hdop_failed,
       " Read_GPGGA:  Error reading hdop data=0.x,545.4,M,46.9,M,,"},
      {"altitude", sealed_with(9, "54a.4"), altitude_failed,
       " Read_GPGGA:  Error reading gps_alt data=54a.4,M,46.9,M,,"},
      {"altitude with two points", sealed_with(9, "1.2.3"), altitude_failed,
       " Read_GPGGA:  Error reading gps_alt data=1.2.3,M,46.9,M,,"},
  };
}

TEST(ReadGpggaFailures, Table) {
  FakeConsole capture;
  for (const GgaCase& c : failure_cases()) {
    capture.lines.clear();
    expect_outputs(read_gga(c.payload), c.want, c.name);
    ASSERT_EQ(capture.lines.size(), 1u) << c.name;
    EXPECT_EQ(capture.lines[0], c.message) << c.name;
  }
}

TEST(ReadGpgga, ChangedDigitWithOldChecksumChangesNothingSilently) {
  FakeConsole capture;
  // "08" satellites became "09"; the checksum is still the example's 47.
  const std::string payload =
      "GPGGA,123519,4807.038,N,01131.000,E,1,09,0.9,545.4,M,46.9,M,,*47";
  expect_outputs(read_gga(payload), kUntouched, "changed digit");
  EXPECT_TRUE(capture.lines.empty());
}

TEST(ReadGpgga, NegativeTimeBecomesZeroAndStops) {
  FakeConsole capture;
  // Hours "-1", minutes "00", seconds "00": -3,600,000 ms.
  GgaOutputs want = kUntouched;
  want.time = 0;
  expect_outputs(read_gga(sealed_with(1, "-10000")), want, "negative time");
  EXPECT_TRUE(capture.lines.empty());
}

TEST(ReadGpgga, CutSentenceReadsMissingFieldsAsAbsent) {
  FakeConsole capture;
  // Commas 1-3 close time and latitude; north/south and everything after it
  // have no closing comma.
  const GgaOutputs want{45'319'000, kExampleValues.latitude, 0.0, 0, 0, 0.0f, 0.0f};
  expect_outputs(read_gga(with_checksum("GPGGA,123519,4807.038,N")), want, "cut sentence");
  EXPECT_TRUE(capture.lines.empty());
}

TEST(ReadGpgga, NoPositionLeaksFromAnEarlierSentence) {
  FakeConsole capture;
  GgaOutputs out = read_gga(kExample);
  expect_outputs(out, kExampleValues, "full sentence first");
  // Same outputs, now a sentence cut after its time field.
  out = read_gga(with_checksum("GPGGA,000001,"), out);
  const GgaOutputs want{1'000, 0.0, 0.0, 0, 0, 0.0f, 0.0f};
  expect_outputs(out, want, "cut after time");
  // And a full southern sentence after it is read in full again.
  out = read_gga(with_checksum("GPGGA,123519,4807.038,S,01131.000,E,1,08,0.9,545.4,M,46.9,M,,"), out);
  expect_outputs(out, example_but([](GgaOutputs& v) { v.latitude = -v.latitude; }),
                 "south after cut");
  EXPECT_TRUE(capture.lines.empty());
}

TEST(ReadGpgga, HemisphereLetterDoesNotCarryOver) {
  FakeConsole capture;
  GgaOutputs out = read_gga(with_checksum("GPGGA,123519,4807.038,S,01131.000,W,1,08,0.9,545.4,M,,M,,"));
  EXPECT_LT(out.latitude, 0.0);
  EXPECT_LT(out.longitude, 0.0);
  // Empty letters: north and east again, not the previous S and W.
  out = read_gga(with_checksum("GPGGA,123519,4807.038,,01131.000,,1,08,0.9,545.4,M,,M,,"), out);
  EXPECT_NEAR(out.latitude, kExampleValues.latitude, 1e-12);
  EXPECT_NEAR(out.longitude, kExampleValues.longitude, 1e-12);
}

}  // namespace
}  // namespace kal

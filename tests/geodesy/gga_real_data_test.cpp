// Real receiver output through the GGA reader, compared with a plain
// reading of each sentence's fields.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "gga_test_support.h"
#include "support/fake_console.h"

namespace kal {
namespace {

using testing::GgaOutputs;
using testing::kUntouched;
using testing::nmea_checksum;
using testing::read_gga;
using test::FakeConsole;

const char* const kRealSentences = KAL_SHARED_DIR "/data/nmea/gga_real.txt";

std::vector<std::string> split_fields(std::string_view body) {
  std::vector<std::string> fields(1);
  for (const char c : body) {
    if (c == ',') {
      fields.emplace_back();
    } else {
      fields.back().push_back(c);
    }
  }
  return fields;
}

bool whole_number(const std::string& text, double& value) {
  if (text.empty()) return false;
  char* end = nullptr;
  value = std::strtod(text.c_str(), &end);
  return end == text.c_str() + text.size();
}

// Degrees from the first `degree_digits` characters, minutes from the rest.
bool plain_angle(const std::string& field, std::size_t degree_digits, double& value) {
  double degrees = 0.0;
  double minutes = 0.0;
  if (field.size() <= degree_digits) return false;
  if (!whole_number(field.substr(0, degree_digits), degrees)) return false;
  if (!whole_number(field.substr(degree_digits), minutes)) return false;
  value = degrees + minutes / 60.0;
  return true;
}

// What a sentence says, read without the reader's column rules.
struct PlainReading {
  bool checksum_readable = false;
  bool checksum_matches = false;
  bool has_fix = false;  // fix quality present and not 0, position readable
  double latitude = 0.0;
  double longitude = 0.0;
  bool has_altitude = false;
  double altitude = 0.0;
  bool altitude_unlike_tenths = false;  // a five-character tenths window misreads it
};

PlainReading plain_reading(std::string_view payload) {
  PlainReading r;
  const auto star = payload.find('*');
  if (star == std::string_view::npos || star < 2 || star + 3 > payload.size()) return r;
  const std::string digits(payload.substr(star + 1, 2));
  char* end = nullptr;
  const unsigned long stated = std::strtoul(digits.c_str(), &end, 16);
  r.checksum_readable = end == digits.c_str() + 2;
  const std::string_view body = payload.substr(0, star);
  r.checksum_matches = r.checksum_readable && stated == nmea_checksum(body);

  const std::vector<std::string> f = split_fields(body);
  if (f.size() < 11) return r;  // name, nine fields and the altitude unit
  const bool south = f[3] == "S";
  const bool west = f[5] == "W";
  r.has_fix = !f[6].empty() && f[6] != "0" && plain_angle(f[2], 2, r.latitude) &&
              plain_angle(f[4], 3, r.longitude);
  if (south) r.latitude = -r.latitude;
  if (west) r.longitude = -r.longitude;
  r.has_altitude = f[9].size() >= 2 && whole_number(f[9], r.altitude);
  r.altitude_unlike_tenths =
      r.has_altitude && (f[9].find('.') == std::string::npos || f[9].size() > 5);
  return r;
}

TEST(ReadGpggaRealData, EverySentenceAgreesWithAPlainReading) {
  std::ifstream in(kRealSentences);
  if (!in) GTEST_SKIP() << kRealSentences << " is not present";

  FakeConsole capture;
  int sentences = 0;
  int positions_compared = 0;
  int altitudes_compared = 0;
  int altitudes_unlike_tenths = 0;
  int mismatches_ignored = 0;
  std::string line;
  while (std::getline(in, line)) {
    ++sentences;
    SCOPED_TRACE("line " + std::to_string(sentences) + ": " + line);
    const std::string_view payload = std::string_view(line).substr(line.starts_with('$') ? 1 : 0);
    capture.lines.clear();
    const GgaOutputs got = read_gga(payload);
    const PlainReading plain = plain_reading(payload);

    if (plain.checksum_readable && !plain.checksum_matches) {
      ++mismatches_ignored;
      EXPECT_EQ(got.time, kUntouched.time);
      EXPECT_EQ(got.latitude, kUntouched.latitude);
      EXPECT_EQ(got.longitude, kUntouched.longitude);
      EXPECT_EQ(got.altitude, kUntouched.altitude);
      EXPECT_TRUE(capture.lines.empty());
      continue;
    }
    if (!plain.checksum_matches) continue;  // no or unreadable checksum: a message, no crash
    if (plain.has_fix) {
      ++positions_compared;
      EXPECT_NEAR(got.latitude, plain.latitude, 1e-4);
      EXPECT_NEAR(got.longitude, plain.longitude, 1e-4);
    }
    if (plain.has_altitude) {
      ++altitudes_compared;
      if (plain.altitude_unlike_tenths) ++altitudes_unlike_tenths;
      EXPECT_NEAR(got.altitude, plain.altitude, 1e-6 * std::max(1.0, std::fabs(plain.altitude)));
    }
  }
  // The file holds about 3,000 sentences, most of them fixes; a handful of
  // them have altitudes written without a point or zero-padded.
  EXPECT_GT(sentences, 2500);
  EXPECT_GT(positions_compared, 1000);
  EXPECT_GT(altitudes_compared, 1000);
  EXPECT_GT(altitudes_unlike_tenths, 0);
  EXPECT_GT(mismatches_ignored, 0);
  std::printf("real GGA sentences: %d read, %d positions and %d altitudes compared "
              "(%d not in tenths), %d checksum mismatches ignored\n",
              sentences, positions_compared, altitudes_compared, altitudes_unlike_tenths,
              mismatches_ignored);
}

}  // namespace
}  // namespace kal

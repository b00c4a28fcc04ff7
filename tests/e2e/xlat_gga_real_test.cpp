// GGA sentences recorded from real receivers (GP, GN, GL and IN talkers,
// odd field shapes, bad checksums) carried as G$ records through a whole
// transcription: no crash, the GPS file reproduces every sentence, and each
// station after a sentence with a good checksum and a fix shows the
// sentence's own position.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <regex>
#include <string>
#include <vector>

#include "e2e/xlat_harness.h"
#include "e2e/xlat_records.h"

namespace kal::xtest {
namespace {

const std::string kRealGga = std::string(KAL_SHARED_DIR) + "/data/nmea/gga_real.txt";

std::vector<std::string> split(const std::string& text, char sep) {
  std::vector<std::string> out;
  std::string cur;
  for (char c : text) {
    if (c == sep) {
      out.push_back(cur);
      cur.clear();
    } else {
      cur += c;
    }
  }
  out.push_back(cur);
  return out;
}

std::string trim_right(std::string s) {
  while (!s.empty() && s.back() == ' ') s.pop_back();
  return s;
}

// The position of a sentence read plainly from its fields, when the
// checksum (XOR of the characters between "$" and "*") matches, the fix
// quality is 1-9, and latitude ddmm.m... and longitude dddmm.m... are
// well formed.
struct Plain {
  bool usable = false;
  double lat = 0.0, lon = 0.0;
};

Plain plain_reading(const std::string& sentence) {
  Plain p;
  const auto star = sentence.find('*');
  if (sentence.empty() || sentence[0] != '$' || star == std::string::npos ||
      star + 3 > sentence.size())
    return p;
  const std::string body = sentence.substr(1, star - 1);
  unsigned sum = 0;
  for (char c : body) sum ^= static_cast<unsigned char>(c);
  char hex[3];
  std::snprintf(hex, sizeof hex, "%02X", sum);
  if (sentence.compare(star + 1, 2, hex) != 0) return p;
  const auto f = split(body, ',');
  static const std::regex lat_re(R"(\d{4}\.\d+)"), lon_re(R"(\d{5}\.\d+)"), fix_re("[1-9]"),
      time_re(R"((\d{6}(\.\d*)?)?)");
  if (f.size() < 7 || !std::regex_match(f[1], time_re) || !std::regex_match(f[2], lat_re) ||
      !std::regex_match(f[4], lon_re) || !std::regex_match(f[6], fix_re) ||
      (f[3] != "N" && f[3] != "S") || (f[5] != "E" && f[5] != "W"))
    return p;
  p.lat = std::stod(f[2].substr(0, 2)) + std::stod(f[2].substr(2)) / 60.0;
  p.lon = std::stod(f[4].substr(0, 3)) + std::stod(f[4].substr(3)) / 60.0;
  if (f[3] == "S") p.lat = -p.lat;
  if (f[5] == "W") p.lon = -p.lon;
  p.usable = true;
  return p;
}

TEST(XlatRealGga, SentencesThroughWholeTranscription) {
  if (!file_exists(kRealGga)) GTEST_SKIP() << "no " << kRealGga;
  std::vector<std::string> sentences;
  for (const auto& l : read_lines(kRealGga))
    if (!l.empty() && l[0] == '$') sentences.push_back(l);
  ASSERT_GT(sentences.size(), 1000u);

  // One station after each sentence, so the XYZ line shows the GPS state
  // the sentence left.
  std::vector<std::string> raw = {header_rec("100000", "GGAREAL", "261208", "1")};
  for (std::size_t i = 0; i < sentences.size(); ++i) {
    raw.push_back("G$" + sentences[i].substr(1));
    raw.push_back(t58("100001", static_cast<int>(i + 1), "CONV", {0, 0, 0, 0, 0, 0}));
  }
  TempDir dir;
  write_file(dir.file("in.RAW"), raw_text(raw));
  const XlatRun run = run_kalxlat(dir.path(), {"in.RAW", "X"});
  ASSERT_FALSE(run.timed_out);
  EXPECT_EQ(run.status, 0) << run.err;

  // "$" and the sentence from its talker ID on: the recorded text itself.
  const auto gps = read_lines(dir.file("GGAREAL.GPS"));
  ASSERT_EQ(gps.size(), sentences.size());
  for (std::size_t i = 0; i < sentences.size(); ++i)
    EXPECT_EQ(trim_right(gps[i]), trim_right(sentences[i])) << "sentence " << i + 1;

  // Latitude and longitude are the F12.6 fields at columns 112-123 and
  // 125-136 of a one-geometry T$ line (12 + 36 + 2 + 6 + 7 + 7 + 7 + 1 + 4
  // + 16 + 1 + 12 = 111 characters before them).
  const auto xyz = read_lines(dir.file("GGAREAL.xyz"));
  ASSERT_EQ(xyz.size(), sentences.size());
  int compared = 0;
  for (std::size_t i = 0; i < sentences.size(); ++i) {
    const Plain p = plain_reading(sentences[i]);
    if (!p.usable) continue;
    ASSERT_EQ(xyz[i].size(), 147u) << xyz[i];
    const double lat = std::stod(xyz[i].substr(111, 12));
    const double lon = std::stod(xyz[i].substr(124, 12));
    EXPECT_NEAR(lat, p.lat, 1e-4) << "sentence " << i + 1 << ": " << sentences[i];
    EXPECT_NEAR(lon, p.lon, 1e-4) << "sentence " << i + 1 << ": " << sentences[i];
    ++compared;
  }
  // 2,739 of the 2,979 recorded sentences have a good checksum, a fix and
  // well-formed positions.
  EXPECT_GT(compared, 2000);
}

}  // namespace
}  // namespace kal::xtest

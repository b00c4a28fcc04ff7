// The built-in survey of kalvor-sim: every line uploaded as the host's
// upload classes and the transcription's record layouts expect it.
#include <gtest/gtest.h>

#include <cstdlib>
#include <map>

#include "support/sim_harness.h"

namespace kal::test {
namespace {

// Uploads the whole memory, answering "N"; the lines without CR LF.
std::vector<std::string> upload_builtin(std::vector<std::string> args) {
  TempDir folder;
  SimProcess sim;
  args.insert(args.begin(), {"--port", "5"});
  if (!sim.start(folder.path(), args)) return {};
  SensorLine line;
  if (!line.open(sim.port_path(), 38400)) return {};
  std::vector<std::string> lines;
  line.send(kStartUploadFrame);
  for (int i = 0; i < 5000; ++i) {
    std::string got = line.read_line(2000);
    if (got.size() < 2 || got.substr(got.size() - 2) != "\r\n") break;
    got.resize(got.size() - 2);
    lines.push_back(got);
    if (got.rfind("Z$", 0) == 0) break;
    line.send("N");
  }
  return lines;
}

bool all_digits(std::string_view text) {
  for (char c : text) {
    if (c < '0' || c > '9') return false;
  }
  return !text.empty();
}

// Columns first..last (from 1) of a wire line.
std::string cols(const std::string& line, std::size_t first, std::size_t last) {
  if (line.size() < last) return {};
  return line.substr(first - 1, last - first + 1);
}

int hex_value(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

TEST(SimBuiltinSurvey, HasTheNumberOfLinesAsked) {
  struct Case {
    std::vector<std::string> args;
    std::size_t lines;
  };
  const Case cases[] = {{{}, 200}, {{"--builtin-lines", "57"}, 57}, {{"--builtin-lines", "12"}, 12},
                        {{"--builtin-lines", "3"}, 12}};  // 12 at the least
  for (const auto& c : cases) {
    const auto lines = upload_builtin(c.args);
    EXPECT_EQ(lines.size(), c.lines);
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.back(), "Z$");
  }
}

class SimBuiltinLines : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { lines_ = new std::vector<std::string>(upload_builtin({})); }
  static void TearDownTestSuite() { delete lines_; }
  static const std::vector<std::string>& lines() { return *lines_; }
  static std::vector<std::string>* lines_;
};
std::vector<std::string>* SimBuiltinLines::lines_ = nullptr;

TEST_F(SimBuiltinLines, EveryLineIsAPacketAndOnlyTheLastEndsTheData) {
  ASSERT_EQ(lines().size(), 200u);
  for (std::size_t i = 0; i < lines().size(); ++i) {
    ASSERT_GE(lines()[i].size(), 2u);
    EXPECT_EQ(lines()[i][1], '$') << "line " << i + 1 << ": " << lines()[i];
    EXPECT_EQ(lines()[i].rfind("Z$", 0) == 0, i + 1 == lines().size()) << lines()[i];
  }
}

TEST_F(SimBuiltinLines, StartsWithTheIdentificationOfAThreeGeometryInstrument) {
  const std::string& id = lines().front();
  EXPECT_EQ(cols(id, 1, 8), "C$000000");
  EXPECT_LE(id.size(), 50u);
  // From column 10: KALVOR-21HQ (the H of 21H read as 5: length code 215),
  // SN with 8 serial characters, SW VERSION, a blank and 5.1a.
  const std::string text = id.substr(9);
  ASSERT_EQ(text.rfind("KALVOR-21H", 0), 0u) << text;
  const auto sn = text.find("SN");
  ASSERT_NE(sn, std::string::npos);
  EXPECT_EQ(text.substr(sn + 2, 8).find(' '), std::string::npos);
  const auto sw = text.find("SW VERSION");
  ASSERT_NE(sw, std::string::npos);
  EXPECT_EQ(text.substr(sw + 10, 5), " 5.1a");
}

TEST_F(SimBuiltinLines, HasTwoCommentsAndTwoFileHeaders) {
  std::vector<std::string> headers;
  int comments = 0;
  for (std::size_t i = 1; i < lines().size(); ++i) {
    const std::string& l = lines()[i];
    if (l[0] == 'C') {
      ++comments;
      EXPECT_TRUE(all_digits(cols(l, 3, 8))) << l;
      EXPECT_NE(cols(l, 3, 8), "000000") << l;
      EXPECT_LE(l.size(), 50u) << l;
    }
    if (l[0] == 'H') {
      // 28 characters: time 3-8, survey name 10-17, three two-digit date
      // numbers 19-24, length code 26-28.
      EXPECT_EQ(l.size(), 28u) << l;
      EXPECT_TRUE(all_digits(cols(l, 3, 8))) << l;
      EXPECT_TRUE(all_digits(cols(l, 19, 24))) << l;
      EXPECT_EQ(cols(l, 26, 28), "215") << l;
      headers.push_back(cols(l, 10, 17));
    }
  }
  EXPECT_EQ(comments, 2);
  const std::vector<std::string> names = {"LINE0001", "LINE0002"};
  EXPECT_EQ(headers, names);
}

// The transcription reads these records after shifting a one-letter tag one
// column right, so each wire line is one character shorter than the record
// length the decoder accepts: T$ 83, X$ 62 (three geometries, with
// milliseconds), the status record 34.
TEST_F(SimBuiltinLines, SurveyRecordsHaveTheDecodersLengths) {
  std::map<std::string, std::size_t> length_by_tag = {{"T$", 82}, {"X$", 61}, {"S$", 33}};
  std::map<std::string, int> seen;
  for (std::size_t i = 0; i < lines().size(); ++i) {
    const std::string& l = lines()[i];
    const std::string tag = l.substr(0, 2);
    if (!length_by_tag.count(tag)) continue;
    ++seen[tag];
    EXPECT_EQ(l.size(), length_by_tag[tag]) << l;
    EXPECT_TRUE(all_digits(cols(l, 3, 8))) << l;
    if (tag == "T$") {
      EXPECT_EQ(cols(l, 21, 24), "CONV") << l;
      ASSERT_LT(i + 1, lines().size());
      const std::string& next = lines()[i + 1];
      EXPECT_EQ(next.substr(0, 2), "X$") << "each station: T$ then X$";
      EXPECT_EQ(cols(next, 3, 12), cols(l, 3, 12)) << "same time and milliseconds";
    }
  }
  EXPECT_GT(seen["T$"], 50);
  EXPECT_EQ(seen["T$"], seen["X$"]);
  EXPECT_GE(seen["S$"], 2);
}

TEST_F(SimBuiltinLines, GgaSentencesEveryTenthLineWithRightChecksums) {
  int sentences = 0;
  int opening = 0;
  for (std::size_t i = 0; i < lines().size(); ++i) {
    const std::string& l = lines()[i];
    if (l.rfind("G$", 0) != 0) continue;
    ++sentences;
    // Every tenth line, and one with the starting position of each survey
    // line (after its header and status lines).
    const bool opens_line = i >= 2 && lines()[i - 2][0] == 'H';
    EXPECT_TRUE((i + 1) % 10 == 0 || opens_line) << "line " << i + 1;
    if (opens_line) ++opening;
    ASSERT_EQ(l.rfind("G$GPGGA,", 0), 0u) << l;
    const auto star = l.find('*');
    ASSERT_NE(star, std::string::npos) << l;
    ASSERT_EQ(l.size(), star + 3) << l;
    int sum = 0;
    for (std::size_t k = 2; k < star; ++k) sum ^= static_cast<unsigned char>(l[k]);
    EXPECT_EQ(hex_value(l[star + 1]) * 16 + hex_value(l[star + 2]), sum) << l;

    // Fields: time hhmmss.ss, latitude ddmm.mmmm N, longitude dddmm.mmmm W, fix 1.
    std::vector<std::string> fields;
    std::size_t from = 8;
    for (;;) {
      const auto comma = l.find(',', from);
      if (comma == std::string::npos || comma > star) break;
      fields.push_back(l.substr(from, comma - from));
      from = comma + 1;
    }
    ASSERT_GE(fields.size(), 9u) << l;
    EXPECT_EQ(fields[0].size(), 9u) << l;
    EXPECT_EQ(fields[2], "N");
    EXPECT_EQ(fields[4], "W");
    EXPECT_EQ(fields[5], "1");
    // Near 45 deg 23' N, 75 deg 41' W: a field east of Ottawa.
    const double lat = std::atof(fields[1].substr(0, 2).c_str()) + std::atof(fields[1].substr(2).c_str()) / 60;
    const double lon = std::atof(fields[3].substr(0, 3).c_str()) + std::atof(fields[3].substr(3).c_str()) / 60;
    EXPECT_NEAR(lat, 45.385, 0.01) << l;
    EXPECT_NEAR(lon, 75.693, 0.01) << l;
  }
  EXPECT_GE(sentences, 15);
  EXPECT_EQ(opening, 2);
}

}  // namespace
}  // namespace kal::test

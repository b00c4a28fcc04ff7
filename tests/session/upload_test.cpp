// What one transmission of the sensor is: a clean line to answer "N" to,
// or damage whose pieces go to the RAW file before one "R".
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "session/upload.h"

namespace kal {
namespace {

struct TransmissionCase {
  const char* what;
  std::string bytes;
  bool ended_by_silence;
  std::optional<std::string> clean;  // the line; none when the transmission is damaged
  std::vector<std::string> pieces;
};

TEST(Transmission, CleanLineOrPieces) {
  const std::string t58(57, 'x');
  const TransmissionCase table[] = {
      {"CR LF", "T$1\r\n", false, "T$1", {"T$1"}},
      {"CR, then silence (the LF was lost)", "T$1\r", true, "T$1", {"T$1"}},
      {"CR LF, then silence (the LF came in a read of its own)", "T$1\r\n", true, "T$1", {"T$1"}},
      {"LF alone, then silence (the CR was lost)", "T$1\n", true, std::nullopt, {"T$1"}},
      {"no line end, then silence", "T$1", true, std::nullopt, {"T$1"}},
      {"a CR inside: the line was cut", "T$\r1\r\n", false, std::nullopt, {"T$", "1"}},
      {"a garbage line run together with the line", "junk\r\nT$1\r\n", false, std::nullopt, {"junk", "T$1"}},
      {"a LF inside", "T$\n1\r\n", false, std::nullopt, {"T$", "1"}},
      {"empty pieces are left out", "\r\n\r\nT$1\r\r\n", false, std::nullopt, {"T$1"}},
      {"an empty line", "\r\n", false, "", {}},
      {"256 characters", std::string(256, 'a') + "\r\n", false, std::string(256, 'a'), {std::string(256, 'a')}},
      {"257 characters: longer than a received line", std::string(257, 'a') + "\r\n", false, std::nullopt,
       {std::string(257, 'a')}},
      {"noise after the line end, then silence", t58 + "\r\nzz", true, std::nullopt, {t58, "zz"}},
  };
  for (const TransmissionCase& c : table) {
    SCOPED_TRACE(c.what);
    Transmission t;
    t.keep(c.bytes);
    t.ended_by_silence = c.ended_by_silence;
    const auto line = t.clean_line(256);
    EXPECT_EQ(line ? std::optional<std::string>(*line) : std::nullopt, c.clean);
    const std::vector<std::string_view> pieces = t.pieces();
    EXPECT_EQ(std::vector<std::string>(pieces.begin(), pieces.end()), c.pieces);
  }
}

// An endless burst is kept only up to a bound; the rest is counted, and a
// transmission that lost bytes is never a clean line.
TEST(Transmission, KeepsABoundedPart) {
  Transmission t;
  const std::string chunk(4096, 'n');
  for (int i = 0; i < 40; ++i) t.keep(chunk);
  t.keep("T$1\r\n");
  EXPECT_EQ(t.bytes.size(), Transmission::kMaxTransmissionBytes);
  EXPECT_EQ(t.dropped, 40 * 4096 + 5 - static_cast<std::int64_t>(Transmission::kMaxTransmissionBytes));
  EXPECT_FALSE(t.ends_with_line_end());
  EXPECT_FALSE(t.clean_line(256).has_value());
}

// The reads of one receiver: the transmission's bytes, all arrived, cut
// into reads at `cuts` (offsets, ascending). After each read the rest is
// still waiting; after the last one the line falls quiet. The verdict: the
// clean line, or none for damage; "(not over)" when nothing ended it.
std::optional<std::string> verdict_of(std::string_view bytes, const std::vector<std::size_t>& cuts) {
  Transmission t;
  std::size_t from = 0;
  for (std::size_t i = 0; i <= cuts.size(); ++i) {
    const std::size_t to = i < cuts.size() ? cuts[i] : bytes.size();
    t.keep(bytes.substr(from, to - from));
    from = to;
    if (t.over_at_line_end(static_cast<std::int32_t>(bytes.size() - to))) break;
  }
  if (!t.over_at_line_end(0) && !t.end_by_silence()) return std::string("(not over)");
  const auto line = t.clean_line(256);
  return line ? std::optional<std::string>(*line) : std::nullopt;
}

struct SplitCase {
  const char* what;
  std::string bytes;
  std::optional<std::string> verdict;
};

// However the reads cut a transmission (once at every position, twice at
// every pair of positions, byte by byte), the verdict is the same.
TEST(Transmission, VerdictDoesNotDependOnHowReadsCutTheBytes) {
  const std::string station = "T$101502 100      1 CONV      1     0   211  -129   182    64";
  const SplitCase table[] = {
      {"a clean line", station + "\r\n", station},
      {"a clean line whose LF was lost", station + "\r", station},
      {"an empty line", "\r\n", ""},
      {"a line cut by a CR", "T$10\r1502 100      1 CONV\r\n", std::nullopt},
      {"a line cut by a CR right after its tag", "T$\r" + station.substr(2) + "\r\n", std::nullopt},
      {"a garbage line run together with the line", "x#Y~q\r\n" + station + "\r\n", std::nullopt},
      {"two lines run together", station + "\r\n" + station + "\r\n", std::nullopt},
      {"noise after the line end", station + "\r\nzq", std::nullopt},
      {"the CR lost: LF alone", station + "\n", std::nullopt},
      {"no line end at all", station, std::nullopt},
      {"a byte with its top bit set is still one line", "T$1\xB1\r\n", "T$1\xB1"},
      {"257 characters", std::string(257, 'a') + "\r\n", std::nullopt},
  };
  for (const SplitCase& c : table) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(verdict_of(c.bytes, {}), c.verdict) << "in one read";
    std::vector<std::size_t> every_byte;
    for (std::size_t at = 1; at < c.bytes.size(); ++at) every_byte.push_back(at);
    EXPECT_EQ(verdict_of(c.bytes, every_byte), c.verdict) << "byte by byte";
    for (std::size_t first = 1; first < c.bytes.size(); ++first) {
      EXPECT_EQ(verdict_of(c.bytes, {first}), c.verdict) << "cut at " << first;
      for (std::size_t second = first + 1; second < c.bytes.size(); ++second) {
        ASSERT_EQ(verdict_of(c.bytes, {first, second}), c.verdict) << "cut at " << first << " and " << second;
      }
    }
  }
}

// A quiet line before the first byte (a sensor slow to begin its line) ends
// nothing: the line that then comes whole is clean, not a transmission
// "ended by silence" whose CR LF would not count.
TEST(Transmission, SilenceBeforeTheFirstByteEndsNothing) {
  Transmission t;
  EXPECT_FALSE(t.end_by_silence());
  EXPECT_FALSE(t.ended_by_silence);
  t.keep("C$000000 KALVOR-4 SN00000042\r");
  EXPECT_FALSE(t.over_at_line_end(1)) << "its LF is waiting";
  t.keep("\n");
  EXPECT_TRUE(t.over_at_line_end(0));
  EXPECT_EQ(t.clean_line(256), std::optional<std::string_view>("C$000000 KALVOR-4 SN00000042"));
}

}  // namespace
}  // namespace kal

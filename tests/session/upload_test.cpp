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

}  // namespace
}  // namespace kal

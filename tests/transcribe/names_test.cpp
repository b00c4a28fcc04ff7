#include "transcribe/names.h"

#include "common/fixed_text.h"
#include "transcribe/xlat_test_support.h"

#include <gtest/gtest.h>

namespace kal::xlat {
namespace {

TEST(SurveyNames, UnsafeCharactersBecomeUnderscores) {
  struct Case {
    std::string name;
    std::string stem;
    bool changed;
  };
  const Case cases[] = {
      {"LINE0001", "LINE0001", false},
      {"AB", "AB", false},
      {"L1.5", "L1.5", false},  // a lone inner dot is harmless
      {"a/b", "a_b", true},
      {"a\\b", "a_b", true},
      {"C:x", "C_x", true},
      {"..", "__", true},
      {"../x", "___x", true},
      {".hidden", "_hidden", true},
      {"end.", "end_", true},
      {"A B", "A_B", true},
      {std::string("A\x01") + "B", "A_B", true},
      {"x*?<>|\"", "x______", true},
      {std::string("\xC3\xA9t"), "__t", true},
  };
  for (const Case& c : cases) {
    bool changed = false;
    EXPECT_EQ(safe_file_stem(c.name, changed), c.stem) << c.name;
    EXPECT_EQ(changed, c.changed) << c.name;
  }
}

TEST(SurveyNames, TimeSuffixIsZeroFilled) {
  EXPECT_EQ(time_suffix(10, 15, 2), "_101502");
  EXPECT_EQ(time_suffix(10, 5, 2), "_100502");
  EXPECT_EQ(time_suffix(0, 0, 0), "_000000");
  EXPECT_EQ(time_suffix(23, 59, 59), "_235959");
  EXPECT_EQ(time_suffix(-1, 5, 123), "_010523");  // never a sign or asterisks
}

TEST(SurveyNames, DistinctStemsIgnoreCaseAndCountOn) {
  std::vector<std::string> used = {"Default"};
  EXPECT_EQ(distinct_stem(used, "LINE0001"), "LINE0001");
  EXPECT_EQ(distinct_stem(used, "Default"), "Default_2");
  EXPECT_EQ(distinct_stem(used, "DEFAULT"), "DEFAULT_2");
  used.push_back("Default_2");
  EXPECT_EQ(distinct_stem(used, "default"), "default_3");
  EXPECT_TRUE(stem_used(used, "DEFAULT_2"));
  EXPECT_FALSE(stem_used(used, "Default_"));
}

TEST(SurveyNames, ExtensionReplacement) {
  EXPECT_EQ(with_extension("Default.xyz", "XYZ"), "Default.XYZ");
  EXPECT_EQ(with_extension("LINE0001_101502.xyz", "GPS"), "LINE0001_101502.GPS");
  EXPECT_EQ(with_extension("LINE0001", "XYX"), "LINE0001.XYX");
}

// RAW lines: without CR LF, cut to 120 characters or blank-padded to them,
// a long line never read whole, the last line without its line end.
TEST(RawLines, CutPaddedAndWithoutLineEnds) {
  test::TempDir folder;
  ASSERT_TRUE(folder.ready());
  const std::string long_line = std::string(130, 'y') + std::string(200000, 'x');
  test::write_file(folder.file("a.RAW"), "abc\r\n" + long_line + "\r\n\n" + std::string(511, 'z') + "\nlast");
  RawInput raw;
  ASSERT_TRUE(raw.open(folder.file("a.RAW")));
  std::string line;
  const std::vector<std::string> expected = {fixed("abc", 120), std::string(120, 'y'), std::string(120, ' '),
                                             std::string(120, 'z'), fixed("last", 120)};
  for (const std::string& want : expected) {
    ASSERT_EQ(raw.next(line), RawInput::Read::line);
    EXPECT_EQ(line, want);
  }
  EXPECT_EQ(raw.next(line), RawInput::Read::end);
  ASSERT_TRUE(raw.rewind());
  ASSERT_EQ(raw.next(line), RawInput::Read::line);
  EXPECT_EQ(line, fixed("abc", 120));
}

}  // namespace
}  // namespace kal::xlat

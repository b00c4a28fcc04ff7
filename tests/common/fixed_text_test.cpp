// Fixed-length, blank-padded text helpers and SHIFTUP.
#include <gtest/gtest.h>

#include <string>

#include "common/fixed_text.h"

namespace kal {
namespace {

TEST(FixedText, FixedCutsOrPads) {
  struct Case {
    const char* text;
    std::size_t width;
    const char* expected;
  } cases[] = {
      {"ABC", 5, "ABC  "},
      {"ABCDEF", 3, "ABC"},
      {"ABC", 3, "ABC"},
      {"", 2, "  "},
      {"AB", 0, ""},
      {" A", 3, " A "},  // leading blanks stay
  };
  for (const auto& c : cases) {
    EXPECT_EQ(fixed(c.text, c.width), c.expected) << "'" << c.text << "' in " << c.width;
  }
}

TEST(FixedText, TrimmedLengthAndTrimmed) {
  struct Case {
    const char* text;
    std::size_t length;
  } cases[] = {
      {"AB  ", 2}, {"   ", 0}, {"", 0}, {" A ", 2}, {"A B", 3}, {"XC143015-12082026", 17},
      // Runs of blanks around eight and more, as padded records end.
      {"A       ", 1}, {"A        ", 1}, {"AB         ", 2}, {"        ", 0}, {"         ", 0},
      {"       A        B                 ", 17}, {"T$1     2                                        ", 9},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(trimmed_length(c.text), c.length) << "'" << c.text << "'";
    EXPECT_EQ(trimmed(c.text), std::string(c.text).substr(0, c.length)) << "'" << c.text << "'";
  }
}

TEST(FixedText, SameTextIgnoresOnlyTrailingBlanks) {
  struct Case {
    const char* a;
    const char* b;
    bool same;
  } cases[] = {
      {"AB", "AB  ", true},  {"AB  ", "AB", true}, {"", "   ", true},
      {"AB", " AB", false},  {"AB", "ABC", false}, {"ab", "AB", false},
      {"A B", "AB", false},  {"", "", true},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(same_text(c.a, c.b), c.same) << "'" << c.a << "' vs '" << c.b << "'";
  }
}

TEST(FixedText, ColumnsCountFromOneAndReadBlanksPastTheEnd) {
  struct Case {
    const char* text;
    int first;
    int last;
    const char* expected;
  } cases[] = {
      {"ABCDEF", 2, 4, "BCD"},
      {"ABCDEF", 1, 1, "A"},
      {"ABCDEF", 6, 6, "F"},
      {"ABC", 2, 6, "BC   "},  // partly past the end
      {"ABC", 5, 7, "   "},    // wholly past the end
      {"", 1, 2, "  "},
      {"ABC", 3, 2, ""},       // last before first
      {"KALVOR READY", 1, 6, "KALVOR"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(columns(c.text, c.first, c.last), c.expected)
        << "'" << c.text << "' columns " << c.first << "-" << c.last;
  }
}

TEST(FixedText, PositionOfIsOneBasedAndZeroWhenAbsent) {
  struct Case {
    const char* text;
    const char* what;
    int position;
  } cases[] = {
      {"KALVOR READY", "READY", 8},
      {"ABCABC", "C", 3},   // the first occurrence
      {"ABC", "X", 0},
      {"COM12", "COM", 1},
      {"XCOM", "COM", 2},
      {"AB", "ABC", 0},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(position_of(c.text, c.what), c.position) << "'" << c.what << "' in '" << c.text << "'";
  }
}

TEST(FixedText, PutColumnsOverwritesAndGrows) {
  struct Case {
    const char* field;
    int first;
    const char* text;
    const char* expected;
  } cases[] = {
      {"ABCDEF", 3, "xy", "ABxyEF"},
      {"ABCDEF", 1, "Z", "ZBCDEF"},
      {"ABCDEF", 5, "xyz", "ABCDxyz"},  // runs past the end: grows
      {"AB", 5, "Z", "AB  Z"},          // the gap is filled with blanks
      {"", 1, "Q", "Q"},
      {"ABC", 2, "", "ABC"},
  };
  for (const auto& c : cases) {
    std::string field = c.field;
    put_columns(field, c.first, c.text);
    EXPECT_EQ(field, c.expected) << "'" << c.text << "' at " << c.first << " in '" << c.field << "'";
  }
}

TEST(FixedText, PutColumnsBuildsAUniqueOutputName) {
  // Columns 9-19 of a 19-character name get one blank, three numbers right-
  // aligned in two characters each, "." and "raw".
  std::string name = fixed("SURVEY01.raw", 19);
  put_columns(name, 9, " " + std::string("10") + " 5" + " 2" + "." + "raw");
  EXPECT_EQ(name, "SURVEY01 10 5 2.raw");
}

TEST(Shiftup, OnlyLowerCaseLettersChange) {
  struct Case {
    std::string text;
    std::string expected;
  } cases[] = {
      {"com7", "COM7"},
      {"xg", "XG"},
      {"Help Me", "HELP ME"},
      {"a-z{}`@[", "A-Z{}`@["},  // '`' and '{' border a-z; '@' and '[' border A-Z
      {"az", "AZ"},
      {"\xe4\xf6x\xff", "\xe4\xf6X\xff"},  // bytes above 127 stay as they are
      {"12345", "12345"},
      {"", ""},
      {"ab  ", "AB  "},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(SHIFTUP(c.text), c.expected) << "'" << c.text << "'";
  }
}

TEST(Shiftup, KeepsAtMost255Characters) {
  EXPECT_EQ(SHIFTUP(std::string(300, 'a')), std::string(255, 'A'));
  EXPECT_EQ(SHIFTUP(std::string(255, 'b')), std::string(255, 'B'));
  EXPECT_EQ(SHIFTUP(std::string(10, 'c')), std::string(10, 'C'));
}

}  // namespace
}  // namespace kal

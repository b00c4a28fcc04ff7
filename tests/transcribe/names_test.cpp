#include "transcribe/names.h"

#include "common/fixed_text.h"
#include "transcribe/xlat_test_support.h"

#include <gtest/gtest.h>

namespace kal::xlat {
namespace {

// Survey names as file names, the same on Linux and Windows: what either
// system cannot hold, and what Windows opens as a device, is changed; every
// other printable character stays. Each name is transcribed under X, D, I
// and R and every file left behind is checked by name.
TEST(SurveyNames, FileNamesMadeUnderEveryKindOfType) {
  struct Case {
    std::string name;  // columns 11-18 of the file header
    std::string stem;
  };
  const Case cases[] = {
      {"LINE0001", "LINE0001"},
      {"LINE 1", "LINE 1"},  // blanks stay
      {" AB", " AB"},
      {"A-B+C#1", "A-B+C#1"},
      {"a\\b", "a_b"},
      {"a/b", "a_b"},
      {"C:x", "C_x"},
      {"x*y", "x_y"},
      {"x?y", "x_y"},
      {"x\"y", "x_y"},
      {"x<y", "x_y"},
      {"x>y", "x_y"},
      {"x|y", "x_y"},
      {std::string("A\0B", 3), "A_B"},
      {"A\x7F" "B", "A_B"},
      {"\xC3\xA9t", "__t"},
      {"..", "__"},
      {".hid", "_hid"},
      {"end.", "end_"},
      {"x.y", "x.y"},
      {"con", "con_"},
      {"AUX", "AUX_"},
      {"Com1", "Com1_"},
      {"lpt9", "lpt9_"},
      {"nul.x", "nul_.x"},  // a device whatever follows the dot
      {"COM10", "COM10"},
      {"CONSOLE", "CONSOLE"},
      {"COM0", "COM0"},
  };
  // The files of each type for a survey with a comment, a GGA sentence and
  // stations for every type (T$ and I$).
  struct Type {
    const char* letter;
    std::vector<std::string> extensions;
  };
  const Type types[] = {
      {"X", {".xyz", ".CMT", ".GPS"}},
      {"D", {".g31", ".CMT", ".GPS"}},
      {"I", {".ice", ".DAT", ".CMT", ".GPS"}},
      {"R", {".CMT", ".GPS"}},
  };
  const std::string gga = test::with_checksum("GPGGA,100002,4500.0000,N,07500.0000,W,1,08,0.9,100.0,M,0.0,M,,");
  for (const Case& c : cases) {
    bool changed = false;
    EXPECT_EQ(safe_file_stem(c.name, changed), c.stem) << c.name;
    EXPECT_EQ(changed, c.stem != c.name) << c.name;
    for (const Type& type : types) {
      SCOPED_TRACE(c.name + " under " + type.letter);
      const test::Transcription t(
          {test::h_rec("100000", c.name, "261208", "1"), test::c_rec("100001", "A COMMENT"),
           test::g_rec(gga), test::t58("100002", 1, "CONV", {0, 0, 10, 20, 30, 40}),
           "I$100003   25 -15  35 12345  3 12345   250  7500"},
          type.letter);
      EXPECT_EQ(t.result, 0) << t.dump();
      std::set<std::string> expected = {"in.RAW"};
      for (const std::string& extension : type.extensions) expected.insert(c.stem + extension);
      EXPECT_EQ(t.folder.files(), expected) << t.dump();
      EXPECT_EQ(t.said("*** Warning: unsafe characters of survey name replaced by _: " + c.stem),
                c.stem != c.name)
          << t.dump();
    }
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

// The same rules where the reads of a small buffer cut the file: a line end
// split between two reads, a CR as the last byte of one read and its LF the
// first of the next, lines longer than the whole buffer, with and without an
// end. Each file is read through a 256-byte buffer and through the default
// one; both give the lines listed.
TEST(RawLines, BufferBoundaries) {
  constexpr std::size_t kSmall = 256;
  const auto digits = [](std::size_t n) {  // "0123456789012...", n characters
    std::string s;
    for (std::size_t i = 0; i < n; ++i) s.push_back(static_cast<char>('0' + i % 10));
    return s;
  };
  const std::string a255(255, 'a');
  const std::string b200(200, 'b');
  struct Case {
    const char* what;
    std::string bytes;
    std::vector<std::string> lines;  // before padding to 120
  };
  const Case cases[] = {
      {"CR last byte of a read, LF first of the next", a255 + "\r\nnext\n", {a255.substr(0, 120), "next"}},
      {"CR last byte of a read, no LF after it", a255 + "\rnext", {a255.substr(0, 120), "next"}},
      {"LF last byte of a read", a255 + "\n\nnext", {a255.substr(0, 120), "", "next"}},
      {"line split between two reads", b200 + "\n" + digits(100) + "\nend\n",
       {b200.substr(0, 120), digits(100), "end"}},
      {"line longer than the buffer", digits(1000) + "\nafter\n", {digits(120), "after"}},
      {"line longer than the buffer ending in CR LF", digits(527) + "\r\nafter", {digits(120), "after"}},
      {"last line longer than the buffer, without an end", "x\n" + digits(700), {"x", digits(120)}},
      {"lone CRs across reads", [] {
         std::string s;
         for (int i = 0; i < 40; ++i) s += "line" + std::to_string(i) + "\r";
         return s;
       }(),
       [] {
         std::vector<std::string> v;
         for (int i = 0; i < 40; ++i) v.push_back("line" + std::to_string(i));
         return v;
       }()},
      {"CR, then CR LF: an empty line between", "a\r\r\nb", {"a", "", "b"}},
      {"CR at the end of the file", "abc\r", {"abc"}},
      {"a line end alone", "\n", {""}},
      {"empty file", "", {}},
  };
  test::TempDir folder;
  ASSERT_TRUE(folder.ready());
  for (const Case& c : cases) {
    test::write_file(folder.file("b.RAW"), c.bytes);
    for (const std::size_t buffer : {kSmall, RawInput::kDefaultBuffer}) {
      SCOPED_TRACE(std::string(c.what) + ", buffer " + std::to_string(buffer));
      RawInput raw(buffer);
      ASSERT_TRUE(raw.open(folder.file("b.RAW")));
      std::string line;
      for (const std::string& want : c.lines) {
        ASSERT_EQ(raw.next(line), RawInput::Read::line);
        EXPECT_EQ(line, fixed(want, 120));
      }
      EXPECT_EQ(raw.next(line), RawInput::Read::end);
      // The view holds the line as read, without padding.
      ASSERT_TRUE(raw.rewind());
      std::string_view view;
      for (const std::string& want : c.lines) {
        ASSERT_EQ(raw.next(view), RawInput::Read::line);
        EXPECT_EQ(view, want);
      }
      EXPECT_EQ(raw.next(view), RawInput::Read::end);
    }
  }
}

// A RAW line as the record handlers read it: 120 characters, a one-letter
// tag written from column 1 moved one column right (its last character
// dropped), every other line as it stands.
TEST(RawLines, RecordsLoadedWithTheirTagNormalised) {
  const std::string long_g = "G$" + std::string(117, 'g') + "Z";  // 120 characters
  struct Case {
    std::string raw;
    std::string expected;  // before padding
  } cases[] = {
      {"T$100000      1 CONV", " T$100000      1 CONV"},
      {"AS$100000 12500", "AS$100000 12500"},  // a two-letter tag stays
      {" T$100000", " T$100000"},              // already in place
      {"$PKLVT,1", "$PKLVT,1"},
      {"$$", "$$"},
      {"T", "T"},
      {"", ""},
      {long_g, " " + long_g.substr(0, 119)},
  };
  std::string line = "left over from the line before";
  for (const Case& c : cases) {
    load_record(line, c.raw);
    EXPECT_EQ(line, fixed(c.expected, 120)) << c.raw;
  }
}

}  // namespace
}  // namespace kal::xlat

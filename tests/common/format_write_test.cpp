// Whole records through write() and free-form console lines through FreeLine.
#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "common/format.h"

namespace kal::fmt {
namespace {

struct WriteCase {
  const char* name;
  std::function<std::string()> run;
  std::string expected;
};

TEST(FormatWrite, TableOfRecords) {
  const std::vector<WriteCase> cases = {
      {"descriptors side by side", [] { return write("I6,1X,A1,3F9.2", {12, "M", 1.0, 2.5, -3.25}); },
       "    12 M     1.00     2.50    -3.25"},
      {"quoted literal", [] { return write("'T=',I3", {5}); }, "T=  5"},
      {"double-quoted literal", [] { return write("\"ab\",I2", {1}); }, "ab 1"},
      {"literal holding a comma and parentheses", [] { return write("'a,b(c)',I1", {3}); }, "a,b(c)3"},
      {"literal after the last value", [] { return write("I2,' end'", {5}); }, " 5 end"},
      {"literal alone", [] { return write("'Usage:'", {}); }, "Usage:"},
      {"blanks alone", [] { return write("5X", {}); }, "     "},
      {"blanks before text", [] { return write("3X,A4", {"CONV"}); }, "   CONV"},
      {"repeated integer", [] { return write("3I3", {1, 22, 333}); }, "  1 22333"},
      {"repeated real", [] { return write("3F5.1", {1.0, -2.0, 30.25}); }, "  1.0 -2.0 30.2"},  // 30.25: tie to even
      {"repeated text", [] { return write("2A3", {"ab", "cdef"}); }, " abcde"},
      {"group", [] { return write("2(I2,1X)", {1, 2}); }, " 1  2 "},
      {"group between fields", [] { return write("I2,2(1X,F4.1),A2", {1, 0.5, 1.5, "Z"}); }, " 1  0.5  1.5 Z"},
      {"nested groups", [] { return write("2(I1,2(A1))", {1, "a", "b", 2, "c", "d"}); }, "1ab2cd"},
      {"minimum digits", [] { return write("I5.3,I5.3", {7, -7}); }, "  007 -007"},
      {"text without width", [] { return write("A,I2", {"abc", 5}); }, "abc 5"},
      {"integer given to F", [] { return write("F6.2", {3}); }, "  3.00"},
      {"whole real given to I", [] { return write("I4", {12.0}); }, "  12"},
      // 0.1f = 0.100000001490116...; the double 0.1 = 0.100000000000000005...
      {"float keeps its binary value", [] { return write("F12.10", {0.1f}); }, "0.1000000015"},
      {"double keeps its binary value", [] { return write("F12.10", {0.1}); }, "0.1000000000"},
      {"G of a float", [] { return write("G15.7", {0.4f}); }, "  0.4000000    "},
      {"E", [] { return write("E15.7", {1.0e10}); }, "  0.1000000E+11"},
      {"unsigned beyond int32", [] { return write("I10", {4000000000u}); }, "4000000000"},
      {"64-bit integer", [] { return write("I11", {9000000000LL}); }, " 9000000000"},
      {"too wide in a record", [] { return write("I2,I3,I2", {1, 1234, 2}); }, " 1*** 2"},
      // Output stops at the first data descriptor that has no value left;
      // the literal before it is still written.
      {"fewer values than fields", [] { return write("I3,' x',I3,' y'", {1}); }, "  1 x"},
      {"std::string value", [] { return write("A5", {std::string("XYZ")}); }, "  XYZ"},
      // G3.1 of 5: F-1.0 gives nothing, then the four blanks of the exponent.
      {"G narrower than its exponent blanks", [] { return write("G3.1,'|'", {5.0}); }, "    |"},
      // A format given as a template argument is stored once; the record is the same.
      {"stored format", [] { return write<"I6,1X,A1,2(1X,F4.1),'.'">({12, "M", 1.0, 2.5}); },
       "    12 M  1.0  2.5."},
      // A negative float that rounds to zero keeps its sign in a stored
      // format too; -0.0005f = -0.000500000023748... rounds away from zero.
      {"stored format, negative values that round to zero",
       [] { return write<"6F8.3">({-0.0004f, -0.0005f, -0.0006f, 0.0004f, 0.0005f, 0.0006f}); },
       "  -0.000  -0.001  -0.001   0.000   0.001   0.001"},
      {"stored format appended", [] {
         std::string line = "ab";
         append<"I3,2X">(line, {7});
         return line;
       },
       "ab  7  "},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(c.run(), c.expected) << c.name;
  }
}

// A station line in the shape of the XYZ output: 28 values of every kind.
// Binary values that decide a rounding:
//   0.005 = 0.00500000000000000010... -> 0.01;  -0.004 -> -0.00
//   999999.99 = 999999.98999999999068... -> 999999.99 (nine columns, fits)
//   12.345 = 12.34500000000000063948... -> 12.345
//   1.05 = 1.05000000000000004440... -> -1.1 for -1.05
//   75.123456789 -> 75.123457;  123.45 = 123.45000000000000284... -> 123.5
TEST(FormatWrite, StationLineOfTheXyzShape) {
  const std::string got = write(
      "I6,I6,12F9.2,I2,2I3,F7.3,F7.3,F7.1,1X,I4,2F8.2,1X,I12,F12.6,1X,F12.6,1X,F7.1,1X,I2",
      {101, 1, 12.5, -3.25, 0.0, 100.0, 1.125, 2.375, 0.005, -0.004, 999999.99, 1000000.0, 7.0, -7.0,
       3, 14, 5, 12.345, 25.5f, -1.05, 7, 0.4f, -12.5, 51300000, 45.0, -75.123456789, 123.45, 2});
  const std::string expected = std::string("   101") + "     1" +
                               "    12.50" + "    -3.25" + "     0.00" + "   100.00" +
                               "     1.12" +  // 1.125: tie to even
                               "     2.38" +  // 2.375: tie to even
                               "     0.01" + "    -0.00" + "999999.99" +
                               "*********" +  // 1000000.00 needs ten columns
                               "     7.00" + "    -7.00" +
                               " 3" + " 14  5" + " 12.345" + " 25.500" + "   -1.1" + " " + "   7" +
                               "    0.40" + "  -12.50" + " " + "    51300000" + "   45.000000" + " " +
                               "  -75.123457" + " " + "  123.5" + " " + " 2";
  EXPECT_EQ(got, expected);
  EXPECT_EQ(got.size(), 6u + 6 + 12 * 9 + 2 + 6 + 7 + 7 + 7 + 1 + 4 + 16 + 1 + 12 + 12 + 1 + 12 + 1 + 7 + 1 + 2);
}

// A double needing a three-digit exponent still takes its 25 columns with
// all 16 digits; how the exponent is spelled is the layer's own choice.
TEST(FreeLine, DoubleWithThreeDigitExponentKeepsItsWidth) {
  const std::string line = FreeLine().dbl(1.0e-300).str();
  EXPECT_EQ(line.size(), 26u);
  EXPECT_NE(line.find("0.1000000000000000"), std::string::npos) << line;
  EXPECT_EQ(line.substr(line.size() - 4), "-299") << line;
}

// ---- free-form console lines ------------------------------------------------------

struct LineCase {
  const char* name;
  std::function<std::string()> build;
  std::string expected;
};

TEST(FreeLine, TableOfLines) {
  const std::vector<LineCase> cases = {
      {"nothing but the leading blank", [] { return FreeLine().str(); }, " "},
      {"text as it stands", [] { return FreeLine().text("Start Data Transcription Phase").str(); },
       " Start Data Transcription Phase"},
      {"logical items",
       [] {
         return FreeLine()
             .text("portset=").logical(false)
             .text(" baudset=").logical(false)
             .text(" and LGFset=").logical(true)
             .str();
       },
       " portset= F baudset= F and LGFset= T"},
      {"int32 in twelve columns", [] { return FreeLine().text("COM Port to be used is ").i32(25).str(); },
       " COM Port to be used is           25"},
      {"int32 between texts", [] { return FreeLine().text("    (default ").i32(38400).text(")").str(); },
       "     (default        38400)"},
      {"negative int32", [] { return FreeLine().i32(-2147483647 - 1).str(); }, "  -2147483648"},
      {"int16 in seven columns", [] { return FreeLine().i16(-9).str(); }, "      -9"},
      {"largest int16", [] { return FreeLine().i16(32767).str(); }, "   32767"},
      {"real32 as G15.7", [] { return FreeLine().text("Sensor Height from command line=").real(0.4f).str(); },
       " Sensor Height from command line=  0.4000000    "},
      {"large real32 in exponent form", [] { return FreeLine().real(1.0e10f).str(); }, "   0.1000000E+11"},
      {"negative real32", [] { return FreeLine().real(-2.5f).str(); }, "   -2.500000    "},
      {"real32 zero", [] { return FreeLine().real(0.0f).str(); }, "    0.000000    "},
      // 0.15f is 0.15000000596...: seven digits give 0.1500000
      {"real32 from its binary value", [] { return FreeLine().real(0.15f).str(); }, "   0.1500000    "},
      {"double as G25.16", [] { return FreeLine().dbl(45.0).str(); }, "     45.00000000000000    "},
      // 16 significant digits: -75.00000000000000 (F21.14)
      {"two doubles",
       [] { return FreeLine().text("For mean Lat, Lon=").dbl(45.0).dbl(-75.0).str(); },
       " For mean Lat, Lon=    45.00000000000000       -75.00000000000000    "},
      {"mixed items",
       [] { return FreeLine().text("   Error code was ").i32(3).text(" ").logical(true).str(); },
       "    Error code was            3  T"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(c.build(), c.expected) << c.name;
  }
}

}  // namespace
}  // namespace kal::fmt

// Single output fields: I, F, E, G, A and X. Every expected text is worked
// out from the edit-descriptor rules; where the exact binary value of a
// constant matters, its decimal expansion is given in the comment. One sweep
// also holds F against the standard library's fixed notation.
#include <gtest/gtest.h>

#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <random>
#include <string>

#include "common/format.h"

namespace kal::fmt {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

// ---- Iw and Iw.m ------------------------------------------------------------

struct IntCase {
  std::int64_t value;
  int width;
  int min_digits;  // -1: plain Iw
  const char* expected;
};

const IntCase kIntCases[] = {
    {5, 3, -1, "  5"},
    {-5, 3, -1, " -5"},
    {-12, 3, -1, "-12"},
    {0, 1, -1, "0"},
    {0, 3, -1, "  0"},
    {5, 1, -1, "5"},
    {42, 2, -1, "42"},
    {123, 3, -1, "123"},
    // Too wide: the whole field becomes asterisks.
    {1234, 3, -1, "***"},
    {10, 1, -1, "*"},
    {-1, 1, -1, "*"},   // the sign needs a column too
    {-123, 3, -1, "***"},
    {-10, 2, -1, "**"},
    // int32 extremes in the 12-column free-form width.
    {2147483647, 12, -1, "  2147483647"},
    {-2147483648LL, 12, -1, " -2147483648"},
    {-2147483648LL, 11, -1, "-2147483648"},
    {-2147483648LL, 10, -1, "**********"},
    // 64-bit extremes: the most negative value has no positive twin.
    {std::numeric_limits<std::int64_t>::min(), 20, -1, "-9223372036854775808"},
    {std::numeric_limits<std::int64_t>::min(), 19, -1, "*******************"},
    {std::numeric_limits<std::int64_t>::max(), 20, -1, " 9223372036854775807"},
    {std::numeric_limits<std::int64_t>::min(), 22, 20, " -09223372036854775808"},
    // Iw.m: at least m digits, zero-filled, the sign in front of the zeros.
    {7, 5, 3, "  007"},
    {-7, 5, 3, " -007"},
    {7, 3, 3, "007"},
    {-7, 3, 3, "***"},     // "-007" needs four columns
    {123, 5, 5, "00123"},
    {-123, 5, 5, "*****"},  // "-00123" needs six
    {12345, 5, 3, "12345"},  // more digits than m: no padding needed
    {123456, 5, 3, "*****"},
    {0, 4, 2, "  00"},
    {0, 4, 1, "   0"},
    {5, 2, 2, "05"},
    // Iw.0 of zero is all blanks; any other value is written as usual.
    {0, 3, 0, "   "},
    {0, 1, 0, " "},
    {5, 3, 0, "  5"},
    {-5, 3, 0, " -5"},
    // I0: exactly as many columns as the number needs.
    {215, 0, -1, "215"},
    {-7, 0, -1, "-7"},
    {0, 0, -1, "0"},
};

TEST(FormatI, TableOfCases) {
  for (const auto& c : kIntCases) {
    const std::string got = c.min_digits < 0 ? I(c.value, c.width) : I(c.value, c.width, c.min_digits);
    EXPECT_EQ(got, c.expected) << "I" << c.width << "." << c.min_digits << " of " << c.value;
    if (c.width > 0) {
      EXPECT_EQ(got.size(), static_cast<std::size_t>(c.width)) << "width of I" << c.width << " of " << c.value;
    }
  }
}

// ---- Fw.d ---------------------------------------------------------------------

struct RealCase {
  double value;
  int width;
  int decimals;
  const char* expected;
};

const RealCase kFixedCases[] = {
    // Exact binary ties round to even.
    {0.125, 5, 2, " 0.12"},
    {0.375, 5, 2, " 0.38"},
    {2.5, 4, 0, "  2."},
    {3.5, 4, 0, "  4."},
    {1.5, 4, 0, "  2."},
    {0.5, 4, 0, "  0."},   // ties to the even 0; F4.0 has room for the zero
    {-1.25, 6, 1, "  -1.2"},
    {-1.75, 6, 1, "  -1.8"},
    // Decimal constants that are not ties once their exact binary value is seen:
    // 1.35  = 1.350000000000000088817...  -> up
    // 2.675 = 2.674999999999999822364...  -> down
    // 1.005 = 1.004999999999999893418...  -> down
    // 9.995 = 9.994999999999999218402...  -> down
    // 0.05  = 0.050000000000000002775...  -> up
    {-1.35, 6, 1, "  -1.4"},
    {2.675, 5, 2, " 2.67"},
    {1.005, 5, 2, " 1.00"},
    {9.995, 5, 2, " 9.99"},
    {0.05, 3, 1, "0.1"},
    {0.04, 3, 1, "0.0"},
    // A negative value that rounds to zero keeps its sign.
    // 0.0005 = 0.000500000000000000010... rounds up.
    {-0.0004, 8, 3, "  -0.000"},
    {-0.0005, 8, 3, "  -0.001"},
    {-0.0006, 8, 3, "  -0.001"},
    {0.0004, 8, 3, "   0.000"},
    {0.0005, 8, 3, "   0.001"},
    {0.0006, 8, 3, "   0.001"},
    {-0.001, 6, 2, " -0.00"},
    {-0.001, 5, 2, "-0.00"},
    {-0.001, 4, 2, "-.00"},  // the leading zero goes only when it must
    {-0.001, 3, 2, "***"},
    {-0.04, 3, 1, "-.0"},
    {-0.04, 2, 1, "**"},
    // Leading zero of |x| < 1.
    {0.5, 4, 2, "0.50"},
    {0.5, 3, 2, ".50"},
    {0.5, 2, 2, "**"},
    {0.0, 5, 2, " 0.00"},
    {0.0, 3, 2, ".00"},
    // Plain values, right-aligned.
    {123456.7, 9, 0, "  123457."},
    {1.0, 3, 0, " 1."},
    {-3.25, 9, 2, "    -3.25"},
    {12.3, 4, 1, "12.3"},
    {1.0, 8, 3, "   1.000"},
    // Too wide, also when only rounding makes it too wide.
    {12.3, 3, 1, "***"},
    {9.996, 4, 2, "****"},   // 10.00 needs five columns
    {99.5, 3, 0, "***"},     // tie to the even 100 -> "100." needs four
    {98.5, 3, 0, "98."},     // tie to the even 98
    {5.0, 1, 0, "*"},
    // Large values print every digit of the binary value:
    // 1e20 is exact; 1e23 is 99999999999999991611392 in binary.
    {1.0e10, 15, 2, " 10000000000.00"},
    {1.0e20, 25, 1, "  100000000000000000000.0"},
    {1.0e23, 30, 0, "      99999999999999991611392."},
    {-1.0e10, 14, 1, "-10000000000.0"},
    // Not finite: asterisks.
    {kNaN, 8, 2, "********"},
    {kInf, 8, 2, "********"},
    {-kInf, 5, 1, "*****"},
    // More cases at the edges.
    {-0.4, 4, 0, " -0."},     // rounds to zero, keeps its sign
    {0.0625, 5, 3, "0.062"},  // exact ties deeper in the digits
    {0.1875, 5, 3, "0.188"},
    {1.0e-300, 10, 2, "      0.00"},
    {-1.0e-300, 10, 2, "     -0.00"},
    {4.9406564584124654e-324, 6, 2, "  0.00"},  // the smallest subnormal
    {2.5, 3, 0, " 2."},  // ties to even in the units
    {3.5, 3, 0, " 4."},
    {-2.5, 3, 0, "-2."},
    // 0.1 is 0.1000000000000000055511...: 18 and 19 decimals.
    {0.1, 21, 18, " 0.100000000000000006"},
    {0.1, 22, 19, " 0.1000000000000000056"},
    // Around 2^64 = 18446744073709551616 for the value times 10^d.
    {1844674407370955.0, 21, 4, "1844674407370955.0000"},
    {1844674407370956.0, 21, 4, "1844674407370956.0000"},
    {1152921504606846976.0, 21, 0, " 1152921504606846976."},  // 2^60
    // 0.1 written with every one of the 55 decimals of its binary value.
    {0.1, 60, 55, "   0.1000000000000000055511151231257827021181583404541015625"},
    {0.1, 61, 58, " 0.1000000000000000055511151231257827021181583404541015625000"},
};

TEST(FormatF, TableOfCases) {
  for (const auto& c : kFixedCases) {
    EXPECT_EQ(F(c.value, c.width, c.decimals), c.expected) << "F" << c.width << "." << c.decimals << " of " << c.value;
  }
}

// Against the standard library's correctly rounded fixed notation, over
// values of every shape the writers meet: floats widened to double, doubles
// of degree and metre magnitudes, exact ties (odd multiples of 2^-k) and
// tiny and huge values, with 0 to 19 decimals. F adds the sign and, for F.0,
// the point; the field is wide enough to keep every digit.
TEST(FormatF, AgreesWithToCharsOnManyValues) {
  std::mt19937_64 random(20261208);
  const auto expected_field = [](double v, int decimals) {
    char digits[400];
    const auto [end, ec] = std::to_chars(digits, digits + sizeof digits, std::fabs(v), std::chars_format::fixed,
                                         decimals);
    EXPECT_EQ(ec, std::errc());
    std::string body = (v < 0 ? "-" : "") + std::string(digits, end) + (decimals == 0 ? "." : "");
    return std::string(60 - body.size(), ' ') + body;
  };
  int checked = 0;
  for (int i = 0; i < 20000; ++i) {
    const std::uint64_t r = random();
    float f = 0.0f;
    const auto f_bits = static_cast<std::uint32_t>(r);
    std::memcpy(&f, &f_bits, sizeof f);
    const double values[] = {
        static_cast<double>(f),
        std::ldexp(static_cast<double>(r >> 11), -53) * 360.0 - 180.0,  // degrees
        std::ldexp(static_cast<double>(r >> 11), -53) * 1.0e7,          // metres
        std::ldexp(static_cast<double>((r >> 40) | 1), -static_cast<int>(r % 24)),  // exact ties
        std::ldexp(static_cast<double>(r >> 11), static_cast<int>(r % 200) - 140),
    };
    for (const double v : values) {
      if (!std::isfinite(v) || std::fabs(v) > 1.0e30) continue;
      const int decimals = static_cast<int>((r >> 5) % 20);
      ASSERT_EQ(F(v, 60, decimals), expected_field(v, decimals)) << "F60." << decimals << " of " << v;
      ++checked;
    }
  }
  EXPECT_GT(checked, 90000);
}

// A float is printed from its own exact binary value, not from the decimal
// text it was written as:
//   0.1f  = 0.100000001490116119384765625
//   0.3f  = 0.300000011920928955078125
//   0.15f = 0.1500000059604644775390625
//   1.1f  = 1.10000002384185791015625
//   0.12f = 0.119999997317790985107421875
struct FloatCase {
  float value;
  int width;
  int decimals;
  const char* expected;
};

const FloatCase kFloatFixedCases[] = {
    {0.1f, 12, 10, "0.1000000015"},
    {0.3f, 12, 10, "0.3000000119"},
    {0.15f, 12, 10, "0.1500000060"},  // ...0059|60 rounds up
    {1.1f, 10, 7, " 1.1000000"},
    {0.12f, 12, 10, "0.1199999973"},
    {0.1f, 5, 2, " 0.10"},
    {-0.1f, 13, 10, "-0.1000000015"},
    {16777216.0f, 12, 1, "  16777216.0"},
    // The largest float, 340282346638528859811704183484516925440 (39 digits).
    {std::numeric_limits<float>::max(), 41, 0, " 340282346638528859811704183484516925440."},
    {std::numeric_limits<float>::max(), 39, 0, "***************************************"},
};

TEST(FormatF, FloatsPrintTheirExactBinaryValue) {
  for (const auto& c : kFloatFixedCases) {
    EXPECT_EQ(F(c.value, c.width, c.decimals), c.expected) << "F" << c.width << "." << c.decimals << " of " << c.value << "f";
  }
}

// ---- Ew.d -----------------------------------------------------------------------

const RealCase kExponentCases[] = {
    {1.0e10, 15, 7, "  0.1000000E+11"},
    {-1.0e10, 15, 7, " -0.1000000E+11"},
    {-2.5, 12, 4, " -0.2500E+01"},
    {0.0, 12, 4, "  0.0000E+00"},
    // 12345.678 -> 0.123|45678E+05, rounds down
    {12345.678, 10, 3, " 0.123E+05"},
    // 0.000123456 -> 0.1234|56E-03, rounds up
    {0.000123456, 11, 4, " 0.1235E-03"},
    // 9.9999 -> 0.999|99E+01 rounds to 1.000E+01, written 0.100E+02
    {9.9999, 10, 3, " 0.100E+02"},
    {1.0e-10, 15, 7, "  0.1000000E-09"},
    {1.0, 6, 4, "******"},  // "0.1000E+01" needs ten columns
    {kNaN, 10, 3, "**********"},
    {-kInf, 10, 3, "**********"},
    // Ties to even in the digits kept.
    {0.125, 9, 2, " 0.12E+00"},
    {0.375, 9, 2, " 0.38E+00"},
    {0.5, 9, 2, " 0.50E+00"},
};

TEST(FormatE, TableOfCases) {
  for (const auto& c : kExponentCases) {
    EXPECT_EQ(E(c.value, c.width, c.decimals), c.expected) << "E" << c.width << "." << c.decimals << " of " << c.value;
  }
}

// ---- Gw.d -----------------------------------------------------------------------
// For 0.1 <= |x| < 10^d, once x is rounded to d significant digits, G gives
// F(w-4).(d-k) and four blanks, k being the number of digits before the
// point; zero gives F(w-4).(d-1) and four blanks; everything else is Ew.d.

const RealCase kGeneralCases[] = {
    // G15.7: F11.(7-k) + 4 blanks
    {38400.0, 15, 7, "   38400.00    "},  // k=5 -> F11.2
    {0.0, 15, 7, "   0.000000    "},    // zero -> F11.6
    {-2.5, 15, 7, "  -2.500000    "},   // k=1 -> F11.6
    {123.456, 15, 7, "   123.4560    "},  // k=3 -> F11.4
    {1234567.0, 15, 7, "   1234567.    "},  // k=7 -> F11.0
    {9999999.0, 15, 7, "   9999999.    "},
    {9999999.4, 15, 7, "   9999999.    "},
    // 9999999.5 is exact in binary: 7 digits give the tie 9999999|.5, which
    // goes to the even 10000000 = 10^7 -> E form.
    {9999999.5, 15, 7, "  0.1000000E+08"},
    {1.0e10, 15, 7, "  0.1000000E+11"},
    {-1.0e10, 15, 7, " -0.1000000E+11"},
    {0.01, 15, 7, "  0.1000000E-01"},
    // 0.09999999 = 0.0999999899999... -> 7 digits 0.09999999 < 0.1 -> E form
    {0.09999999, 15, 7, "  0.9999999E-01"},
    // 0.099999996 -> 7 digits 0.1000000 -> k=0 -> F11.7
    {0.099999996, 15, 7, "  0.1000000    "},
    // 0.99999996 -> 7 digits 1.000000 -> k=1 -> F11.6
    {0.99999996, 15, 7, "   1.000000    "},
    {0.1, 15, 7, "  0.1000000    "},
    {kNaN, 15, 7, "***************"},
    // G10.3: F6.(3-k) + 4 blanks inside 0.1 <= |x| < 1000.
    {999.4, 10, 3, "  999.    "},      // 999.39999... -> 999 -> k=3 -> F6.0
    {999.5, 10, 3, " 0.100E+04"},      // exact tie 999|.5 -> even 1000 -> E10.3
    {998.5, 10, 3, "  998.    "},      // exact tie -> even 998
    {1000.0, 10, 3, " 0.100E+04"},
    {1.5, 10, 3, "  1.50    "},        // k=1 -> F6.2
    {0.5, 10, 3, " 0.500    "},        // k=0 -> F6.3
    // G25.16: F21.(16-k) + 4 blanks
    // 0.1 = 0.1000000000000000055511... -> 16 digits 0.1000000000000000
    {0.1, 25, 16, "   0.1000000000000000    "},
    {45.0, 25, 16, "    45.00000000000000    "},
    {-75.0, 25, 16, "   -75.00000000000000    "},
    // 1/3 = 0.333333333333333314829... -> 16 digits, all threes
    {1.0 / 3.0, 25, 16, "   0.3333333333333333    "},
    {1.0e20, 25, 16, "   0.1000000000000000E+21"},
    {0.0, 25, 16, "    0.000000000000000    "},  // zero -> F21.15
};

TEST(FormatG, TableOfCases) {
  for (const auto& c : kGeneralCases) {
    EXPECT_EQ(G(c.value, c.width, c.decimals), c.expected) << "G" << c.width << "." << c.decimals << " of " << c.value;
  }
}

// Floats through G15.7, from their exact binary values:
//   0.4f  = 0.4000000059604644775390625 -> 0.4000000
//   0.15f = 0.1500000059604644775390625 -> 0.1500000
//   0.09999999f = 0.099999986588954925537109375 -> 7 digits 0.09999999 -> E form
const FloatCase kFloatGeneralCases[] = {
    {0.4f, 15, 7, "  0.4000000    "},
    {0.15f, 15, 7, "  0.1500000    "},
    {1.0e10f, 15, 7, "  0.1000000E+11"},
    {0.09999999f, 15, 7, "  0.9999999E-01"},
    {-0.4f, 15, 7, " -0.4000000    "},
    // 1e-40f is subnormal: 9.99994610111...E-41 -> 0.9999946E-40
    {1.0e-40f, 15, 7, "  0.9999946E-40"},
};

TEST(FormatG, FloatsFromTheirExactBinaryValue) {
  for (const auto& c : kFloatGeneralCases) {
    EXPECT_EQ(G(c.value, c.width, c.decimals), c.expected) << "G" << c.width << "." << c.decimals << " of " << c.value << "f";
  }
}

// ---- Aw, A, nX ------------------------------------------------------------------

struct TextCase {
  const char* text;
  int width;
  const char* expected;
};

const TextCase kTextCases[] = {
    {"AB", 4, "  AB"},
    {"ABCD", 4, "ABCD"},
    {"ABCDEF", 4, "ABCD"},
    {"", 3, "   "},
    {"  X", 2, "  "},  // the first two characters, blanks included
    {"AB ", 2, "AB"},
    {"X", 1, "X"},
};

TEST(FormatA, TableOfCases) {
  for (const auto& c : kTextCases) {
    EXPECT_EQ(A(c.text, c.width), c.expected) << "A" << c.width << " of '" << c.text << "'";
  }
}

TEST(FormatA, WithoutWidthWritesTheWholeText) {
  EXPECT_EQ(A("KALVOR READY  "), "KALVOR READY  ");
  EXPECT_EQ(A(""), "");
  EXPECT_EQ(A(std::string(300, 'z')), std::string(300, 'z'));
}

TEST(FormatX, WritesBlanks) {
  EXPECT_EQ(X(0), "");
  EXPECT_EQ(X(1), " ");
  EXPECT_EQ(X(5), "     ");
}

}  // namespace
}  // namespace kal::fmt

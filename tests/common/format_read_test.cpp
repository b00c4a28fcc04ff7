// Fixed-column reads (Iw, Fw.d, whole layouts) and free-form reads.
// Float and double expectations are written as literals: the compiler turns
// the decimal text into the correctly rounded binary value, which is exactly
// what a read of the same text must give.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include "common/format.h"

namespace kal::fmt {
namespace {

// Every text of zero to four characters drawn from `alphabet`.
std::vector<std::string> every_field_up_to_four(const std::string& alphabet) {
  std::vector<std::string> fields = {""};
  for (std::size_t from = 0; from < fields.size(); ++from) {
    if (fields[from].size() == 4) continue;
    for (char c : alphabet) fields.push_back(fields[from] + c);
  }
  return fields;
}

std::string without_blanks(const std::string& field) {
  std::string packed;
  for (char c : field) {
    if (c != ' ') packed += c;
  }
  return packed;
}

// ---- Iw reads -----------------------------------------------------------------

struct IntReadCase {
  const char* field;
  bool ok;
  std::int32_t value;  // checked only when ok
};

const IntReadCase kIntReads[] = {
    {"  12", true, 12},
    {" 1 2", true, 12},  // blanks anywhere are ignored
    {"12  ", true, 12},  // ignored, not read as zeros
    {"    ", true, 0},
    {"", true, 0},
    {"-12", true, -12},
    {"+7", true, 7},
    {" - 5", true, -5},
    {"007", true, 7},
    {"2147483647", true, std::numeric_limits<std::int32_t>::max()},
    {"-2147483648", true, std::numeric_limits<std::int32_t>::min()},
    {"0000000000000000000000012", true, 12},  // leading zeros count for nothing
    {"-00000000002147483648", true, std::numeric_limits<std::int32_t>::min()},
    // Anything but digits, one leading sign and blanks fails.
    {"1A", false, 0},
    {"--1", false, 0},
    {"+-1", false, 0},
    {"1-", false, 0},    // a sign after the digits is no number
    {"1e5", false, 0},   // letters fail, exponents included
    {"12.5", false, 0},  // an integer field holds no point
    {"0x10", false, 0},
    {"1,2", false, 0},
    // Too large for 32 bits: a failure, not a wrapped value.
    {"2147483648", false, 0},
    {"99999999999", false, 0},
};

TEST(ReadInt, TableOfFields) {
  for (const auto& c : kIntReads) {
    std::int32_t value = -999;
    const bool ok = read_int(c.field, value);
    EXPECT_EQ(ok, c.ok) << "'" << c.field << "'";
    if (ok && c.ok) {
      EXPECT_EQ(value, c.value) << "'" << c.field << "'";
    }
  }
}

// Every field of up to four characters drawn from digits, blanks, signs, a
// point and a letter: the read succeeds exactly when, blanks aside, the field
// is an optional leading sign followed by digits, and then gives that number.
// Fields holding a sign and no digit are left out (their meaning is not
// settled either way).
TEST(ReadInt, EveryShortField) {
  int checked = 0;
  for (const auto& field : every_field_up_to_four("10 -+.A")) {
    const std::string packed = without_blanks(field);
    const bool has_sign = !packed.empty() && (packed[0] == '-' || packed[0] == '+');
    const std::string digits = has_sign ? packed.substr(1) : packed;
    if (has_sign && digits.empty()) continue;
    bool only_digits = true;
    std::int32_t magnitude = 0;
    for (char c : digits) {
      if (c < '0' || c > '9') {
        only_digits = false;
        break;
      }
      magnitude = magnitude * 10 + (c - '0');
    }
    std::int32_t value = -999;
    const bool ok = read_int(field, value);
    EXPECT_EQ(ok, only_digits) << "'" << field << "'";
    if (ok && only_digits) {
      EXPECT_EQ(value, packed[0] == '-' ? -magnitude : magnitude) << "'" << field << "'";
    }
    ++checked;
  }
  EXPECT_GT(checked, 2000);
}

// ---- Fw.d reads ---------------------------------------------------------------

struct RealReadCase {
  const char* field;
  int decimals;
  bool ok;
  float as_float;    // checked only when ok
  double as_double;  // the same text read as a double
};

const RealReadCase kRealReads[] = {
    {"12345", 1, true, 1234.5f, 1234.5},  // one implied decimal
    {"  12", 2, true, 0.12f, 0.12},
    {"12  ", 2, true, 0.12f, 0.12},       // trailing blanks are ignored too
    {" -12", 2, true, -0.12f, -0.12},
    {"-15", 1, true, -1.5f, -1.5},
    {"+15", 1, true, 1.5f, 1.5},
    {"5", 3, true, 0.005f, 0.005},         // fewer digits than decimals
    {"1234", 0, true, 1234.0f, 1234.0},
    {"0", 2, true, 0.0f, 0.0},
    {"    ", 2, true, 0.0f, 0.0},
    {"", 2, true, 0.0f, 0.0},
    // An explicit point overrides the implied decimals.
    {"12.5", 3, true, 12.5f, 12.5},
    {"-1.5", 1, true, -1.5f, -1.5},
    {" 1 2 . 5", 0, true, 12.5f, 12.5},
    {".5", 0, true, 0.5f, 0.5},
    {"-.25", 0, true, -0.25f, -0.25},
    {"5.", 2, true, 5.0f, 5.0},
    {"0.1", 1, true, 0.1f, 0.1},
    {"12.345", 1, true, 12.345f, 12.345},
    // Long fields: more digits than float or double hold exactly.
    {"16777217", 1, true, 1677721.7f, 1677721.7},  // 2^24 + 1 digits: more than a float holds
    {"18014398509481983", 1, true, 1801439850948198.3f, 1801439850948198.3},  // 2^54 - 1: more than a double holds
    {"123456789012345678901234", 4, true, 12345678901234567890.1234f, 12345678901234567890.1234},
    {"0.0000000000000000000000001234", 0, true, 1.234e-25f, 1.234e-25},  // 28 decimals
    {"-0.1234567890123456789", 0, true, -0.1234567890123456789f, -0.1234567890123456789},
    // Failures.
    {"1.2.3", 1, false, 0, 0},
    {"1e5", 0, false, 0, 0},
    {"1E5", 0, false, 0, 0},
    {"1A", 0, false, 0, 0},
    {"--1", 0, false, 0, 0},
    {"+-1", 0, false, 0, 0},
    {"1.5-", 1, false, 0, 0},
    {"1,5", 1, false, 0, 0},
    {"abc", 0, false, 0, 0},
};

// Reads every field of the table into a T and checks it against `expected`.
template <typename T>
void read_table_fields(T RealReadCase::*expected) {
  for (const auto& c : kRealReads) {
    T value = -999;
    const bool ok = read_real(c.field, c.decimals, value);
    EXPECT_EQ(ok, c.ok) << "'" << c.field << "' F." << c.decimals;
    if (ok && c.ok) {
      EXPECT_EQ(value, c.*expected) << "'" << c.field << "' F." << c.decimals;
    }
  }
}

TEST(ReadReal, TableOfFieldsAsFloat) { read_table_fields(&RealReadCase::as_float); }

TEST(ReadReal, TableOfFieldsAsDouble) { read_table_fields(&RealReadCase::as_double); }

// The same sweep for F fields with one implied decimal. A number M with s
// decimals (s from the point, or the implied 1) is M / 10^s; M and 10^s are
// small enough to be exact floats, and IEEE division rounds the quotient
// correctly, so M / 10^s in float arithmetic is the correctly rounded value.
TEST(ReadReal, EveryShortField) {
  int checked = 0;
  for (const auto& field : every_field_up_to_four("15 -+.A")) {
    const std::string packed = without_blanks(field);
    const bool negative = !packed.empty() && packed[0] == '-';
    const bool has_sign = !packed.empty() && (packed[0] == '-' || packed[0] == '+');
    const std::string body = has_sign ? packed.substr(1) : packed;
    int digit_count = 0, points = 0, decimals = 1;
    bool well_formed = true;
    float mantissa = 0.0f;
    for (char c : body) {
      if (c >= '0' && c <= '9') {
        mantissa = mantissa * 10.0f + static_cast<float>(c - '0');
        ++digit_count;
        if (points == 1) ++decimals;
      } else if (c == '.' && points == 0) {
        points = 1;
        decimals = 0;
      } else {
        well_formed = false;
      }
    }
    // Signs or points without a digit are left out.
    if (well_formed && digit_count == 0 && !body.empty()) continue;
    if (well_formed && digit_count == 0 && has_sign) continue;
    float value = -999.0f;
    const bool ok = read_real(field, 1, value);
    EXPECT_EQ(ok, well_formed) << "'" << field << "'";
    if (ok && well_formed) {
      float scale = 1.0f;
      for (int i = 0; i < decimals; ++i) scale *= 10.0f;
      const float expected = mantissa / scale;
      EXPECT_EQ(value, negative ? -expected : expected) << "'" << field << "'";
    }
    ++checked;
  }
  EXPECT_GT(checked, 2000);
}

// A float is rounded once, from the decimal text. The two floats nearest 1
// from above are 1 and 1 + 2^-23; their midpoint is 1 + 2^-24 =
// 1.000000059604644775390625, itself a double. "1.0000000596046448" lies
// 2.5e-17 above the midpoint: read as a double it becomes the midpoint (half
// a double ulp is 1.1e-16), and a double-then-float conversion would tie to
// the even 1.0f; the correct float is 1 + 2^-23.
TEST(ReadReal, FloatIsRoundedOnceFromTheText) {
  const float upper = std::nextafter(1.0f, 2.0f);
  struct Case {
    const char* field;
    int decimals;
    float expected;
  } cases[] = {
      {"1.0000000596046448", 0, upper},        // just above the midpoint
      {"10000000596046448", 16, upper},        // the same with implied decimals
      {"1.0000000596046447", 0, 1.0f},         // just below
      {"1.000000059604644775390625", 0, 1.0f},  // the exact midpoint: tie to even
  };
  for (const auto& c : cases) {
    float value = 0.0f;
    ASSERT_TRUE(read_real(c.field, c.decimals, value)) << c.field;
    EXPECT_EQ(value, c.expected) << c.field;
  }
  double as_double = 0.0;
  ASSERT_TRUE(read_real("1.0000000596046448", 0, as_double));
  EXPECT_EQ(as_double, 1.0 + std::ldexp(1.0, -24));
}

// ---- whole layouts --------------------------------------------------------------

struct TimeRecord {
  std::int32_t hour = -1, minute = -1, second = -1, number = -1;
  std::string type = "old";
};

bool read_time_record(std::string_view record, TimeRecord& r) {
  return read(record, "3X,3I2,1X,I6,1X,A4", {r.hour, r.minute, r.second, r.number, r.type});
}

TEST(ReadLayout, AllFieldsPresent) {
  TimeRecord r;
  ASSERT_TRUE(read_time_record("T$ 123456 000042 CONV", r));
  EXPECT_EQ(r.hour, 12);
  EXPECT_EQ(r.minute, 34);
  EXPECT_EQ(r.second, 56);
  EXPECT_EQ(r.number, 42);
  EXPECT_EQ(r.type, "CONV");

  // The same layout given as a template argument (stored once).
  TimeRecord t;
  ASSERT_TRUE(read<"3X,3I2,1X,I6,1X,A4">("D$ 010203    -17 NULD", {t.hour, t.minute, t.second, t.number, t.type}));
  EXPECT_EQ(t.hour, 1);
  EXPECT_EQ(t.minute, 2);
  EXPECT_EQ(t.second, 3);
  EXPECT_EQ(t.number, -17);
  EXPECT_EQ(t.type, "NULD");
}

TEST(ReadLayout, ColumnsPastTheEndReadAsBlanks) {
  TimeRecord r;
  ASSERT_TRUE(read_time_record("T$ 1234", r));
  EXPECT_EQ(r.hour, 12);
  EXPECT_EQ(r.minute, 34);
  EXPECT_EQ(r.second, 0);
  EXPECT_EQ(r.number, 0);
  EXPECT_EQ(r.type, "    ");  // an A field stores exactly w characters

  TimeRecord empty;
  ASSERT_TRUE(read_time_record("", empty));
  EXPECT_EQ(empty.hour, 0);
  EXPECT_EQ(empty.number, 0);
  EXPECT_EQ(empty.type, "    ");

  std::string text;
  ASSERT_TRUE(read("AB", "A6", {text}));
  EXPECT_EQ(text, "AB    ");

  // The missing columns are blanks, not zeros: "12" plus three blank columns
  // is 0.12 in F5.2, not 120.00.
  float value = 0.0f;
  ASSERT_TRUE(read("XX$12", "3X,F5.2", {value}));
  EXPECT_EQ(value, 0.12f);
}

TEST(ReadLayout, FailureKeepsEarlierFieldsAndLeavesLaterOnes) {
  TimeRecord r;
  EXPECT_FALSE(read_time_record("T$ 1234XX 000042 CONV", r));
  EXPECT_EQ(r.hour, 12);     // read before the failing field
  EXPECT_EQ(r.minute, 34);
  EXPECT_EQ(r.number, -1);   // after it: untouched
  EXPECT_EQ(r.type, "old");

  std::int32_t after = -1;
  float volts = -1.0f;
  EXPECT_FALSE(read("S$ 1e345 7", "3X,F5.3,I2", {volts, after}));
  EXPECT_EQ(after, -1);
}

TEST(ReadLayout, RealsWithImpliedAndExplicitPoints) {
  // Status record: 3X,3I2,1X,F5.3,1X,F5.1 -> "12345" has three implied
  // decimals, " 2345" one.
  std::int32_t h = 0, m = 0, s = 0;
  float volts = 0.0f, temperature = 0.0f;
  ASSERT_TRUE(read("AS$102030 12345  2345", "3X,3I2,1X,F5.3,1X,F5.1", {h, m, s, volts, temperature}));
  EXPECT_EQ(h, 10);
  EXPECT_EQ(m, 20);
  EXPECT_EQ(s, 30);
  EXPECT_EQ(volts, 12.345f);
  EXPECT_EQ(temperature, 234.5f);

  double latitude = 0.0;
  ASSERT_TRUE(read("G$ -45.1234", "3X,F8.3", {latitude}));
  EXPECT_EQ(latitude, -45.1234);  // the point in the field wins over d=3
}

TEST(ReadLayout, RepetitionsAndGroups) {
  std::int32_t a = 0, b = 0;
  std::string tag;
  ASSERT_TRUE(read("  1  22 ab", "2(I3,1X),A2", {a, b, tag}));
  EXPECT_EQ(a, 1);
  EXPECT_EQ(b, 22);
  EXPECT_EQ(tag, "ab");
}

TEST(ReadLayout, LongMeasurementRecord) {
  // 83 columns: 3X,3I2,1X,I3,1X,I6,1X,A4,1X,6I6,1X,I5,1X,I5,1X,2I4
  const std::string record = std::string("T$ ") + "143015" + " " + "250" + " " + "   101" + " " + "CONV" + " " +
                             "    -5" + "    12" + "  1234" + "  -567" + "    89" + "     0" + " " + "12345" + " " +
                             " 2500" + " " + " -12" + "  34";
  ASSERT_EQ(record.size(), 83u);
  std::int32_t h = 0, mi = 0, s = 0, ms = 0, station = 0, r[6] = {}, volts = 0, temp = 0, pitch = 0, roll = 0;
  std::string type;
  ASSERT_TRUE(read(record, "3X,3I2,1X,I3,1X,I6,1X,A4,1X,6I6,1X,I5,1X,I5,1X,2I4",
                   {h, mi, s, ms, station, type, r[0], r[1], r[2], r[3], r[4], r[5], volts, temp, pitch, roll}));
  EXPECT_EQ(h, 14);
  EXPECT_EQ(mi, 30);
  EXPECT_EQ(s, 15);
  EXPECT_EQ(ms, 250);
  EXPECT_EQ(station, 101);
  EXPECT_EQ(type, "CONV");
  const std::int32_t readings[6] = {-5, 12, 1234, -567, 89, 0};
  for (int i = 0; i < 6; ++i) EXPECT_EQ(r[i], readings[i]) << "reading " << i;
  EXPECT_EQ(volts, 12345);
  EXPECT_EQ(temp, 2500);
  EXPECT_EQ(pitch, -12);
  EXPECT_EQ(roll, 34);
}

// ---- free-form reads ------------------------------------------------------------

constexpr std::int32_t kUntouched = 99;

struct FreeIntCase {
  const char* text;
  FreeRead result;
  std::int32_t value;  // checked unless the result is bad
};

const FreeIntCase kFreeInts[] = {
    {"12", FreeRead::value, 12},
    {"  12", FreeRead::value, 12},
    {"12,5", FreeRead::value, 12},  // only the first item
    {"12 5", FreeRead::value, 12},
    {"12/", FreeRead::value, 12},
    {"-7", FreeRead::value, -7},
    {"+7", FreeRead::value, 7},
    {"/", FreeRead::keep, kUntouched},
    {"  /", FreeRead::keep, kUntouched},
    {",5", FreeRead::keep, kUntouched},  // a null first item
    {"  ,5", FreeRead::keep, kUntouched},
    {"  12  ", FreeRead::value, 12},
    {"", FreeRead::empty, kUntouched},
    {"    ", FreeRead::empty, kUntouched},
    {"abc", FreeRead::bad, 0},
    {"12abc", FreeRead::bad, 0},
    {"1.5", FreeRead::bad, 0},   // not an integer
    {"--1", FreeRead::bad, 0},
    {"99999999999", FreeRead::bad, 0},  // beyond 32 bits
    {"-", FreeRead::bad, 0},            // a sign without digits
};

TEST(FreeReadInt, TableOfTexts) {
  for (const auto& c : kFreeInts) {
    std::int32_t value = kUntouched;
    EXPECT_EQ(read_free_int(c.text, value), c.result) << "'" << c.text << "'";
    if (c.result != FreeRead::bad) {
      EXPECT_EQ(value, c.value) << "'" << c.text << "'";
    }
  }
}

struct FreeRealCase {
  const char* text;
  FreeRead result;
  float value;
};

constexpr float kUntouchedReal = 99.0f;

const FreeRealCase kFreeReals[] = {
    {"0.4", FreeRead::value, 0.4f},
    {"2", FreeRead::value, 2.0f},
    {"  0.25 , 3", FreeRead::value, 0.25f},
    {"-1.5", FreeRead::value, -1.5f},
    {".5", FreeRead::value, 0.5f},
    {"12,", FreeRead::value, 12.0f},
    {"0.1", FreeRead::value, 0.1f},
    {"1.0000000596046448", FreeRead::value, 1.00000011920928955078125f},  // see ReadReal above
    {"/", FreeRead::keep, kUntouchedReal},
    {",", FreeRead::keep, kUntouchedReal},
    {"", FreeRead::empty, kUntouchedReal},
    {"   ", FreeRead::empty, kUntouchedReal},
    {"abc", FreeRead::bad, 0},
    {"1.2.3", FreeRead::bad, 0},
    {"0.4m", FreeRead::bad, 0},
    {".", FreeRead::bad, 0},  // a point without digits
    {"-", FreeRead::bad, 0},
};

TEST(FreeReadReal, TableOfTexts) {
  for (const auto& c : kFreeReals) {
    float value = kUntouchedReal;
    EXPECT_EQ(read_free_real(c.text, value), c.result) << "'" << c.text << "'";
    if (c.result != FreeRead::bad) {
      EXPECT_EQ(value, c.value) << "'" << c.text << "'";
    }
  }
}

}  // namespace
}  // namespace kal::fmt

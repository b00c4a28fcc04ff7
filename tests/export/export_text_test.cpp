// Text of the export files: shortest numbers, CSV quoting, UTF-8.
#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "export/export_text.h"

namespace kal::xlat {
namespace {

TEST(ExportText, ShortestNumbersInFixedNotation) {
  struct Case {
    double value;
    const char* text;
  };
  const Case doubles[] = {{500000.0, "500000"}, {0.1, "0.1"},   {-75.25, "-75.25"},
                          {1e-7, "0.0000001"},  {45.0, "45"},   {45.385333333333335, "45.385333333333335"}};
  for (const Case& c : doubles) EXPECT_EQ(shortest_text(c.value), c.text) << c.text;
  // A 32-bit reading shows as written: 12.3, not 12.300000190734863.
  EXPECT_EQ(shortest_text(12.3f), "12.3");
  EXPECT_EQ(shortest_text(1125.791f), "1125.791");
  EXPECT_EQ(widened(12.3f), 12.3);
  EXPECT_EQ(shortest_text(std::nan("")), "");
  EXPECT_EQ(shortest_text(INFINITY), "");
}

TEST(ExportText, CsvQuoting) {
  EXPECT_EQ(csv_field("FENCE"), "FENCE");
  EXPECT_EQ(csv_field("A,B"), "\"A,B\"");
  EXPECT_EQ(csv_field("say \"hi\""), "\"say \"\"hi\"\"\"");
  EXPECT_EQ(csv_field("two\nlines"), "\"two\nlines\"");
  EXPECT_EQ(csv_field(""), "");
}

TEST(ExportText, ValidUtf8) {
  EXPECT_EQ(as_utf8("plain"), "plain");
  EXPECT_EQ(as_utf8("caf\xc3\xa9"), "caf\xc3\xa9");          // valid UTF-8 stays
  EXPECT_EQ(as_utf8("caf\xe9"), "caf\xc3\xa9");              // Latin-1 e acute
  EXPECT_EQ(as_utf8(std::string("a\0b", 3)), "a\xef\xbf\xbd" "b");  // a control byte
  EXPECT_EQ(as_utf8("\xc0\x80"), "\xc3\x80\xc2\x80");        // an overlong form is no UTF-8
  EXPECT_EQ(as_utf8("\xed\xa0\x80"), "\xc3\xad\xc2\xa0\xc2\x80");  // nor a surrogate
}

}  // namespace
}  // namespace kal::xlat

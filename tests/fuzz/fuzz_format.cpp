// Fixed-column and free-form reads over arbitrary text and formats built from
// the input: never a crash, never a value from outside the field.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "common/fixed_text.h"
#include "common/format.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2) return 0;
  const int width = data[0] % 24;
  const int decimals = data[1] % 8;
  std::string_view text(reinterpret_cast<const char*>(data + 2), size - 2);

  std::int32_t i = 0;
  float f = 0;
  double d = 0;
  kal::fmt::read_int(text, i);
  kal::fmt::read_real(text, decimals, f);
  kal::fmt::read_real(text, decimals, d);
  kal::fmt::read_free_int(text, i);
  kal::fmt::read_free_real(text, f);

  std::string a;
  std::int32_t h = 0, m = 0, s = 0;
  kal::fmt::read(text, "3X,3I2,1X,I6,1X,A4,1X,6I6", {h, m, s, i, a, i, i, i, i, i, i});
  kal::fmt::read(text, "3X,3I2,1X,F5.3,1X,F5.1", {h, m, s, f, f});

  // Writes of whatever was read, in fields of the input's widths.
  std::string out = kal::fmt::F(f, width, decimals) + kal::fmt::I(i, width) +
                    kal::fmt::G(d, width + 8, decimals + 1) + kal::fmt::A(text, width);
  kal::fmt::FreeLine line;
  line.i32(i).real(f).dbl(d).text(kal::SHIFTUP(text));
  return static_cast<int>(out.size() > 1000000);
}

// A malformed format string is a compile error. Each case is compiled on its
// own (MALFORMED_CASE=n) and must stop with the name of the check it broke;
// case 0 holds only well-formed formats and must compile.
#include <string>

#include "common/format.h"

namespace kal::fmt {

std::string well_formed(int i, float f) {
  return write("I6,1X,A1,2(F9.2,1X),'ok',3X", {i, "M", f, f}) + write<"I2.2,G15.7,E12.4,A">({i, f, f, "x"});
}

#if MALFORMED_CASE == 1
std::string unknown_descriptor(int i) { return write("I6,Q2", {i, i}); }
#elif MALFORMED_CASE == 2
std::string group_without_its_end(int i) { return write("2(I6", {i}); }
#elif MALFORMED_CASE == 3
std::string end_without_its_group(int i) { return write("I6)", {i}); }
#elif MALFORMED_CASE == 4
std::string literal_without_its_end(int i) { return write("I6,'abc", {i}); }
#elif MALFORMED_CASE == 5
std::string real_without_decimals(float f) { return write("F5", {f}); }
#elif MALFORMED_CASE == 6
std::string integer_without_width(int i) { return write<"I">({i}); }
#elif MALFORMED_CASE == 7
bool read_of_an_unknown_descriptor(std::string_view record, int& i) { return read<"3X,J2">(record, {i}); }
#elif MALFORMED_CASE == 8
std::string too_many_descriptors(int i) { return write("49I2", {i}); }
#endif

}  // namespace kal::fmt

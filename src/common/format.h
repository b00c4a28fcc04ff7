// The formatted I/O layer: every fixed-width record and every console line
// gets its exact bytes here. Nothing else in the program formats numbers.
//
// Edit descriptors (output):
//   Iw    integer right-aligned in w characters
//   Iw.m  the same with at least m digits, zero-filled;  I0: as wide as needed
//   Fw.d  fixed point, d decimals, the correctly rounded decimal of the exact
//         binary value (ties to even); a negative value that rounds to zero
//         keeps its sign; the leading zero of |x| < 1 is dropped only when the
//         field is otherwise too narrow
//   Ew.d  0.ddddE+xx form (used by G for large and small magnitudes)
//   Gw.d  fixed or exponent form as the Fortran G descriptor chooses
//   Aw    text right-aligned when shorter, cut to its first w characters when
//         longer;  A alone: the whole text
//   nX    n blanks
//   'text' or "text": the literal text
//   r(...) and rIw, rFw.d, rAw: repetition
// A value that does not fit its field fills it with w asterisks, as does a
// value that is not finite.
//
// Input: Iw and Fw.d reads ignore blanks, an all-blank field reads 0, an F
// field without a point gets d implied decimals; any character other than
// digits, one sign, one point and blanks makes the read fail. Reads report
// failure through their result, never by throwing.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>

namespace kal::fmt {

// ---- single fields -------------------------------------------------------
std::string I(std::int64_t value, int width, int min_digits = -1);
std::string F(double value, int width, int decimals);
std::string E(double value, int width, int decimals);
std::string G(double value, int width, int decimals);
std::string A(std::string_view text, int width);
std::string A(std::string_view text);
std::string X(int count);

// ---- format-string driven records --------------------------------------
// One value for write(): an integer, a real (float or double, printed from
// its exact binary value) or a text.
class Value {
 public:
  Value(int v) : kind_(Kind::integer), i_(v) {}
  Value(long v) : kind_(Kind::integer), i_(v) {}
  Value(long long v) : kind_(Kind::integer), i_(v) {}
  Value(unsigned v) : kind_(Kind::integer), i_(v) {}
  Value(unsigned long v) : kind_(Kind::integer), i_(static_cast<std::int64_t>(v)) {}
  Value(unsigned long long v) : kind_(Kind::integer), i_(static_cast<std::int64_t>(v)) {}
  Value(float v) : kind_(Kind::real), r_(v) {}
  Value(double v) : kind_(Kind::real), r_(v) {}
  Value(std::string_view v) : kind_(Kind::text), t_(v) {}
  Value(const std::string& v) : kind_(Kind::text), t_(v) {}
  Value(const char* v) : kind_(Kind::text), t_(v) {}
  Value(char c) = delete;  // ambiguous: pass std::string_view(&c, 1)
  Value(bool) = delete;

  enum class Kind { integer, real, text };
  Kind kind() const { return kind_; }
  std::int64_t integer() const { return i_; }
  double real() const { return r_; }
  std::string_view text() const { return t_; }

 private:
  Kind kind_;
  std::int64_t i_ = 0;
  double r_ = 0.0;
  std::string_view t_;
};

// Writes `values` through the edit descriptors of `format` (without the
// enclosing parentheses), e.g. write("I6,1X,A1,3F9.2", {n, mark, a, b, c}).
// An integer given to F, or a real given to I, is converted. Formats are
// written by the program itself: a malformed format is a programming error
// and is reported by the tests, not at run time.
std::string write(std::string_view format, std::initializer_list<Value> values);
// The same, appended to `out` (no temporary string for hot paths).
void append(std::string& out, std::string_view format, std::initializer_list<Value> values);

// ---- reads ---------------------------------------------------------------
// Iw read of a whole field.
bool read_int(std::string_view field, std::int32_t& value);
// Fw.d read of a whole field (d implied decimals when there is no point).
bool read_real(std::string_view field, int decimals, float& value);
bool read_real(std::string_view field, int decimals, double& value);

// One target for read(): where the next field goes.
class Target {
 public:
  Target(std::int32_t& v) : kind_(Kind::integer), i_(&v) {}
  Target(float& v) : kind_(Kind::real32), f_(&v) {}
  Target(double& v) : kind_(Kind::real64), d_(&v) {}
  Target(std::string& v) : kind_(Kind::text), t_(&v) {}

  enum class Kind { integer, real32, real64, text };
  Kind kind() const { return kind_; }
  std::int32_t* integer() const { return i_; }
  float* real32() const { return f_; }
  double* real64() const { return d_; }
  std::string* text() const { return t_; }

 private:
  Kind kind_;
  std::int32_t* i_ = nullptr;
  float* f_ = nullptr;
  double* d_ = nullptr;
  std::string* t_ = nullptr;
};

// Reads the fixed-column fields of `record` into `targets` by `format`
// (I, F, A, X and repetitions). Columns past the end of the record read as
// blanks. Fields are stored one after another; on the first field that fails
// the read stops and returns false, the earlier targets keep their new
// values. An A field stores exactly w characters.
bool read(std::string_view record, std::string_view format,
          std::initializer_list<Target> targets);

// ---- free-form reads -----------------------------------------------------
enum class FreeRead {
  value,  // a value was read
  keep,   // "/" or an empty (null) item: the target keeps its value
  empty,  // the text holds nothing but blanks: the caller reads on
  bad     // the item is not a number of the wanted kind
};
// The first item of `text` (items end at a blank, a comma or a slash).
FreeRead read_free_int(std::string_view text, std::int32_t& value);
FreeRead read_free_real(std::string_view text, float& value);

// ---- free-form console lines -----------------------------------------------
// Item after item with no separators, after one leading blank:
// text as it stands; int32 right-aligned in 12; int16 in 7; logical " T" or
// " F"; real32 as G15.7; double as G25.16 (16 significant digits).
class FreeLine {
 public:
  FreeLine& text(std::string_view t);
  FreeLine& i32(std::int32_t v);
  FreeLine& i16(std::int16_t v);
  FreeLine& logical(bool v);
  FreeLine& real(float v);
  FreeLine& dbl(double v);
  const std::string& str() const { return line_; }

 private:
  std::string line_ = " ";
};

}  // namespace kal::fmt

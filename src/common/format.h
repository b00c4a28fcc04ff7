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
// value that is not finite. Format strings are parsed while the program is
// compiled (see Format): a malformed one does not compile.
//
// Input: Iw and Fw.d reads ignore blanks, an all-blank field reads 0, an F
// field without a point gets d implied decimals; any character other than
// digits, one sign, one point and blanks makes the read fail. Reads report
// failure through their result, never by throwing.
#pragma once

#include <array>
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

// A format string (without the enclosing parentheses), e.g.
// "I6,1X,A1,3F9.2", parsed into its edit descriptors while the program is
// compiled: a record layout costs no parsing and no lookup when it is used,
// and a malformed format does not compile. A format given as an argument is
// a constant built where it is passed; the template forms below keep it in
// one place for the code that runs for every line.
class Format {
 public:
  struct Descriptor {
    char code = 0;            // 'I', 'F', 'E', 'G', 'A', 'X', or 'L' for a literal text
    std::int8_t digits = -1;  // m of Iw.m, d of Fw.d (-1: none); a literal: its length
    std::int16_t width = -1;  // -1: A without a width; a literal: where it starts in the text
  };
  static constexpr std::size_t kCapacity = 48;  // descriptors, repetitions written out

  consteval Format(const char* text) : text_(text) {
    Parser parser{*this, text};
    parser.parse_list();
    parser.skip_blanks();
    if (parser.pos != parser.length) malformed_format_string();  // a ')' without its '('
  }

  const Descriptor* begin() const { return items_.data(); }
  const Descriptor* end() const { return items_.data() + count_; }
  // The most characters a record of this format takes; -1 when that depends
  // on its values (I0, A without a width).
  int max_width() const { return max_width_; }
  std::string_view literal(const Descriptor& d) const {
    return std::string_view(text_ + d.width, static_cast<std::size_t>(d.digits));
  }

 private:
  // Never defined: reached only while a malformed format is compiled, where
  // the call is no constant expression, so the compiler stops with its name.
  static void malformed_format_string();
  static void format_with_more_than_48_descriptors();

  consteval void add(const Descriptor& d) {
    if (count_ == kCapacity) format_with_more_than_48_descriptors();
    items_[count_++] = d;
    const bool variable = (d.code == 'A' && d.width < 0) || (d.code == 'I' && d.width == 0);
    if (variable || max_width_ < 0) {
      max_width_ = -1;
    } else if (d.code == 'L') {
      max_width_ += d.digits;  // its length
    } else if (d.code == 'G') {
      max_width_ += d.width < 4 ? 4 : d.width;  // the four blanks in place of an exponent
    } else {
      max_width_ += d.width;
    }
  }

  // Items separated by commas; nX blanks, 'text' or "text", r(...) and rIw,
  // rFw.d, rAw repetitions; blanks between items are ignored.
  struct Parser {
    Format& format;
    const char* text;
    int length = 0;
    int pos = 0;

    consteval Parser(Format& f, const char* t) : format(f), text(t) {
      while (text[length] != '\0') ++length;
    }
    consteval char at(int p) const { return p < length ? text[p] : '\0'; }
    consteval void skip_blanks() {
      while (at(pos) == ' ') ++pos;
    }
    consteval bool read_number(int& value) {
      const int start = pos;
      int v = 0;
      while (at(pos) >= '0' && at(pos) <= '9') {
        v = v * 10 + (at(pos++) - '0');
        if (v > 30000) malformed_format_string();
      }
      if (pos == start) return false;
      value = v;
      return true;
    }
    consteval int number(int largest) {
      int v = 0;
      if (!read_number(v) || v > largest) malformed_format_string();
      return v;
    }

    // Items up to the end or a ')'.
    consteval void parse_list() {
      for (;;) {
        skip_blanks();
        if (pos >= length || at(pos) == ')') return;
        parse_item();
        skip_blanks();
        if (at(pos) == ',') ++pos;
      }
    }

    consteval void parse_item() {
      const char c = at(pos);
      if (c == '\'' || c == '"') {
        int close = pos + 1;
        while (close < length && text[close] != c) ++close;
        if (close >= length || close - pos - 1 > 127 || pos + 1 > 30000) malformed_format_string();
        format.add({'L', static_cast<std::int8_t>(close - pos - 1), static_cast<std::int16_t>(pos + 1)});
        pos = close + 1;
        return;
      }
      int repeat = 1;
      const bool has_count = read_number(repeat);
      skip_blanks();
      char code = at(pos++);
      if (code >= 'a' && code <= 'z') code = static_cast<char>(code - 'a' + 'A');
      if (code == '(') {
        const std::size_t first = format.count_;
        parse_list();
        if (at(pos++) != ')') malformed_format_string();
        const std::size_t last = format.count_;
        if (repeat == 0) format.count_ = first;
        for (int r = 1; r < repeat; ++r) {
          for (std::size_t i = first; i < last; ++i) format.add(format.items_[i]);
        }
        return;
      }
      Descriptor d;
      d.code = code;
      switch (code) {
        case 'X':
          d.width = static_cast<std::int16_t>(has_count ? repeat : 1);
          format.add(d);
          return;
        case 'A':
          if (int width = 0; read_number(width)) d.width = static_cast<std::int16_t>(width);
          break;
        case 'I':
          d.width = static_cast<std::int16_t>(number(30000));
          if (at(pos) == '.') {
            ++pos;
            d.digits = static_cast<std::int8_t>(number(100));
          }
          break;
        case 'F':
        case 'E':
        case 'G':
          d.width = static_cast<std::int16_t>(number(30000));
          if (at(pos++) != '.') malformed_format_string();
          d.digits = static_cast<std::int8_t>(number(100));
          break;
        default:
          malformed_format_string();
      }
      for (int r = 0; r < repeat; ++r) format.add(d);
    }
  };

  const char* text_;
  std::array<Descriptor, kCapacity> items_{};
  std::size_t count_ = 0;
  int max_width_ = 0;
};

// Writes `values` through the edit descriptors of `format`, e.g.
// write("I6,1X,A1,3F9.2", {n, mark, a, b, c}). An integer given to F, or a
// real given to I, is converted. Values beyond the descriptors are not
// written; the record ends at the first field without a value.
std::string write(const Format& format, std::initializer_list<Value> values);
// The same, appended to `out` (no temporary string for hot paths).
void append(std::string& out, const Format& format, std::initializer_list<Value> values);

// A format as a template argument, for the record readers and line writers
// that run for every RAW line: fmt::append<"4F9.2">(line, {a, b, c, d}).
// Its descriptors are stored once instead of being built at each call.
template <std::size_t N>
struct FormatText {
  char text[N] = {};
  consteval FormatText(const char (&literal)[N]) {
    for (std::size_t i = 0; i < N; ++i) text[i] = literal[i];
  }
};
template <FormatText Text>
inline constexpr Format kStoredFormat{Text.text};

template <FormatText Text>
void append(std::string& out, std::initializer_list<Value> values) {
  append(out, kStoredFormat<Text>, values);
}
template <FormatText Text>
std::string write(std::initializer_list<Value> values) {
  return write(kStoredFormat<Text>, values);
}

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
bool read(std::string_view record, const Format& format, std::initializer_list<Target> targets);
template <FormatText Text>
bool read(std::string_view record, std::initializer_list<Target> targets) {
  return read(record, kStoredFormat<Text>, targets);
}

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

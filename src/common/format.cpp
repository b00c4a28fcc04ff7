#include "common/format.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cfloat>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>

namespace kal::fmt {
namespace {

// The line a record is written to. A format of fixed widths grows the line
// once, with blanks, and its fields are then written into place: a field's
// blanks cost nothing and its text one copy. Any other format grows the line
// field by field. (The field writers below write to this or to a string.)
class RecordLine {
 public:
  RecordLine(std::string& line, int max_width) : line_(line), at_(line.size()), grown_(max_width >= 0) {
    if (grown_) line_.append(static_cast<std::size_t>(max_width), ' ');
  }
  ~RecordLine() {
    if (grown_) line_.resize(at_);  // what the fields left unused goes
  }
  RecordLine(const RecordLine&) = delete;
  RecordLine& operator=(const RecordLine&) = delete;

  void append(std::size_t count, char c) {
    if (!grown_) {
      line_.append(count, c);
    } else if (c != ' ') {
      std::memset(line_.data() + at_, c, count);
    }
    at_ += count;
  }
  void append(std::string_view text) {
    if (grown_) {
      text.copy(line_.data() + at_, text.size());
    } else {
      line_.append(text);
    }
    at_ += text.size();
  }

 private:
  std::string& line_;
  std::size_t at_;  // where the next field goes
  bool grown_;      // by the widest record of the format
};

template <class Out>
void put_stars(Out& out, int width) {
  out.append(static_cast<std::size_t>(width > 0 ? width : 0), '*');
}

// Right-aligns `body` in `width` characters, or asterisks when it is wider.
template <class Out>
void put_right(Out& out, std::string_view body, int width) {
  if (static_cast<int>(body.size()) > width) {
    put_stars(out, width);
    return;
  }
  out.append(static_cast<std::size_t>(width) - body.size(), ' ');
  out.append(body);
}

// "00" to "99", for writing digits two at a time.
constexpr auto kDigitPairs = [] {
  std::array<char, 200> pairs{};
  for (std::size_t i = 0; i < 100; ++i) {
    pairs[2 * i] = static_cast<char>('0' + i / 10);
    pairs[2 * i + 1] = static_cast<char>('0' + i % 10);
  }
  return pairs;
}();

// Writes the last two digits of `units` in front of `p` and drops them.
char* two_digits(std::uint64_t& units, char* p) {
  const std::size_t pair = static_cast<std::size_t>(units % 100);
  units /= 100;
  p -= 2;
  std::memcpy(p, kDigitPairs.data() + 2 * pair, 2);
  return p;
}

// The digits of `units` (one at least), written backwards to end at `end`.
// Returns where they start.
char* whole_digits(std::uint64_t units, char* end) {
  char* p = end;
  while (units >= 100) p = two_digits(units, p);
  if (units >= 10) return two_digits(units, p);
  *--p = static_cast<char>('0' + units);
  return p;
}

// The digits of `units` with a point before the last `decimals` of them and
// at least one digit before it (F.0: the point at the end), written
// backwards to end at `end`. Returns where they start.
char* digits_with_point(std::uint64_t units, int decimals, char* end) {
  char* p = end;
  int fraction = decimals;
  for (; fraction >= 2; fraction -= 2) p = two_digits(units, p);
  if (fraction == 1) {
    *--p = static_cast<char>('0' + units % 10);
    units /= 10;
  }
  *--p = '.';
  return whole_digits(units, p);
}

template <class Out>
void append_I(Out& out, std::int64_t value, int width, int min_digits) {
  if (min_digits == 0 && value == 0) {  // Iw.0 writes a zero as blanks
    out.append(static_cast<std::size_t>(width > 0 ? width : 0), ' ');
    return;
  }
  const std::uint64_t magnitude =
      value < 0 ? 0 - static_cast<std::uint64_t>(value) : static_cast<std::uint64_t>(value);
  char text[64];
  char* end = text + sizeof text;
  char* start = whole_digits(magnitude, end);
  // Zeros up to m digits, with the sign at most 40 characters of them.
  const int sign = value < 0 ? 1 : 0;
  const int zeros = std::min(min_digits - static_cast<int>(end - start), 40 - sign);
  for (int i = 0; i < zeros; ++i) *--start = '0';
  if (sign != 0) *--start = '-';
  const std::string_view body(start, static_cast<std::size_t>(end - start));
  if (width == 0) {  // I0: as many columns as the number needs
    out.append(body);
    return;
  }
  put_right(out, body, width);
}

#if defined(__SIZEOF_INT128__)
__extension__ typedef unsigned __int128 Wide;
#endif

constexpr auto kPowersOfTenU64 = [] {
  std::array<std::uint64_t, 19> powers{};
  powers[0] = 1;
  for (std::size_t i = 1; i < powers.size(); ++i) powers[i] = powers[i - 1] * 10;
  return powers;
}();

// `scaled` / 2^shift (0 < shift < the bits of U), rounded to the nearest
// integer, ties to even.
// (Bitwise, not logical, operators: which way a value rounds is no pattern
// a branch predictor could learn.)
template <typename U>
U shifted_to_even(U scaled, int shift) {
  const U q = scaled >> shift;
  const U rest = scaled - (q << shift);
  const U half = U{1} << (shift - 1);
  return q + static_cast<U>((rest > half) | ((rest == half) & ((q & 1) != 0)));
}

// |value| times 10^decimals, rounded to an integer (ties to even), by exact
// integer arithmetic: a double is m * 2^e, so the product is m * 10^d * 2^e,
// and when e < 0 the bits shifted out decide the rounding. 64 bits hold the
// product for floats (24-bit m) and up to 9 decimals, 128 bits the rest.
// False when the result needs more than 64 bits.
bool scaled_units(double magnitude, int decimals, std::uint64_t& units) {
  if (decimals > 18) return false;
  std::uint64_t bits = 0;
  std::memcpy(&bits, &magnitude, sizeof bits);
  const int biased_exponent = static_cast<int>((bits >> 52) & 0x7FF);
  std::uint64_t m = bits & ((std::uint64_t{1} << 52) - 1);
  int e = -1074;  // a subnormal
  if (biased_exponent != 0) {
    m |= std::uint64_t{1} << 52;
    e = biased_exponent - 1075;
  }
  if (m == 0) {
    units = 0;
    return true;
  }
  const int zeros = std::countr_zero(m);  // the same value with the fewest bits
  m >>= zeros;
  e += zeros;
  const std::uint64_t power = kPowersOfTenU64[static_cast<std::size_t>(decimals)];
  if (e < 0 && e > -64 && m < (std::uint64_t{1} << 32) && decimals <= 9) {  // m * 10^d < 2^62
    units = shifted_to_even(m * power, -e);
    return true;
  }
#if defined(__SIZEOF_INT128__)
  const Wide scaled = static_cast<Wide>(m) * power;  // < 2^113
  Wide q = 0;
  if (e >= 0) {
    if (e > 14) return false;
    q = scaled << e;
  } else if (e > -128) {
    q = shifted_to_even(scaled, -e);
  }  // else the value is below half a unit of the last place: 0
  if ((q >> 64) != 0) return false;
  units = static_cast<std::uint64_t>(q);
  return true;
#else
  return false;
#endif
}

template <class Out>
void append_F(Out& out, double value, int width, int decimals) {
  if (!std::isfinite(value) || decimals < 0) {
    put_stars(out, width);
    return;
  }
  // The correctly rounded decimal of the exact binary value (ties to even),
  // with room for a sign in front of it.
  char text[402];
  char* start = nullptr;
  char* end = text + sizeof text;
  if (std::uint64_t units = 0; scaled_units(std::fabs(value), decimals, units)) {
    start = digits_with_point(units, decimals, end);
  } else {
    auto [last, ec] = std::to_chars(text + 1, text + 401, std::fabs(value), std::chars_format::fixed, decimals);
    if (ec != std::errc()) {
      put_stars(out, width);
      return;
    }
    if (decimals == 0) *last++ = '.';
    start = text + 1;
    end = last;
  }
  const bool negative = value < 0;  // also when the value rounds to zero
  const std::size_t needed = static_cast<std::size_t>(end - start) + (negative ? 1 : 0);
  if (decimals > 0 && start[0] == '0' && static_cast<int>(needed) > width) ++start;  // the optional zero goes first
  if (negative) *--start = '-';
  put_right(out, std::string_view(start, static_cast<std::size_t>(end - start)), width);
}

// Decimal exponent s of |value| rounded to `digits` significant digits:
// 10^(s-1) <= rounded < 10^s. Also returns the digits.
int rounded_exponent(double magnitude, int digits, std::string& mantissa) {
  char buf[64];
  auto [end, ec] = std::to_chars(buf, buf + sizeof buf, magnitude, std::chars_format::scientific,
                                 digits > 0 ? digits - 1 : 0);
  (void)ec;
  std::string_view text(buf, static_cast<std::size_t>(end - buf));
  const auto e = text.find('e');
  mantissa.clear();
  for (char c : text.substr(0, e)) {
    if (c != '.') mantissa.push_back(c);
  }
  int exponent = 0;
  std::string_view exp_text = text.substr(e + 1);
  if (!exp_text.empty() && exp_text[0] == '+') exp_text.remove_prefix(1);
  std::from_chars(exp_text.data(), exp_text.data() + exp_text.size(), exponent);
  return exponent + 1;
}

template <class Out>
void append_E(Out& out, double value, int width, int decimals) {
  if (!std::isfinite(value) || decimals <= 0) {
    put_stars(out, width);
    return;
  }
  std::string mantissa;
  int exponent = 0;
  if (value == 0.0) {
    mantissa.assign(static_cast<std::size_t>(decimals), '0');
  } else {
    exponent = rounded_exponent(std::fabs(value), decimals, mantissa);
  }
  std::string body;
  if (value < 0) body.push_back('-');
  body += "0.";
  body += mantissa;
  const int magnitude = std::abs(exponent);
  char exp_digits[8];
  auto [end, ec] = std::to_chars(exp_digits, exp_digits + sizeof exp_digits, magnitude);
  (void)ec;
  std::string_view exp_text(exp_digits, static_cast<std::size_t>(end - exp_digits));
  if (magnitude <= 99) {
    body += 'E';
    body += exponent < 0 ? '-' : '+';
    if (exp_text.size() < 2) body += '0';
    body += exp_text;
  } else if (magnitude <= 999) {
    body += exponent < 0 ? '-' : '+';
    body += exp_text;
  } else {
    put_stars(out, width);
    return;
  }
  if (static_cast<int>(body.size()) > width && body.size() >= 2 && body[body[0] == '-' ? 1 : 0] == '0') {
    body.erase(body[0] == '-' ? 1 : 0, 1);  // the optional leading zero
  }
  put_right(out, body, width);
}

template <class Out>
void append_G(Out& out, double value, int width, int decimals) {
  if (!std::isfinite(value) || decimals <= 0) {
    put_stars(out, width);
    return;
  }
  constexpr int kTrailing = 4;  // blanks standing in for the exponent
  int s = 1;                    // a zero is edited as if it had one integer digit
  if (value != 0.0) {
    std::string mantissa;
    s = rounded_exponent(std::fabs(value), decimals, mantissa);
  }
  if (s < 0 || s > decimals) {
    append_E(out, value, width, decimals);
    return;
  }
  append_F(out, value, width - kTrailing, decimals - s);
  out.append(kTrailing, ' ');
}

template <class Out>
void append_A(Out& out, std::string_view text, int width) {
  if (width < 0) {
    out.append(text);
  } else if (static_cast<int>(text.size()) >= width) {
    out.append(text.substr(0, static_cast<std::size_t>(width)));
  } else {
    out.append(static_cast<std::size_t>(width) - text.size(), ' ');
    out.append(text);
  }
}

template <class Out>
void append_value(Out& out, const Format::Descriptor& item, const Value& value) {
  switch (item.code) {
    case 'I':
      if (value.kind() == Value::Kind::text) {
        put_stars(out, item.width);
      } else if (value.kind() == Value::Kind::real) {
        const double r = value.real();
        if (!std::isfinite(r) || std::fabs(r) > 9.0e18) {
          put_stars(out, item.width);
        } else {
          append_I(out, static_cast<std::int64_t>(r), item.width, item.digits);
        }
      } else {
        append_I(out, value.integer(), item.width, item.digits);
      }
      return;
    case 'F':
    case 'E':
    case 'G': {
      if (value.kind() == Value::Kind::text) {
        put_stars(out, item.width);
        return;
      }
      const double r = value.kind() == Value::Kind::real ? value.real()
                                                          : static_cast<double>(value.integer());
      if (item.code == 'F') append_F(out, r, item.width, item.digits);
      if (item.code == 'E') append_E(out, r, item.width, item.digits);
      if (item.code == 'G') append_G(out, r, item.width, item.digits);
      return;
    }
    case 'A':
      if (value.kind() != Value::Kind::text) {
        put_stars(out, item.width < 0 ? 1 : item.width);
      } else {
        append_A(out, value.text(), item.width);
      }
      return;
    default:
      return;
  }
}

// ---- reads -----------------------------------------------------------------

bool is_digit(char c) { return c >= '0' && c <= '9'; }

// A field holds at most this many characters that are not blanks.
constexpr std::size_t kMaxFieldCharacters = 120;

// What a numeric field holds once its blanks are ignored: an optional sign,
// then digits and at most one point (`point` digits before it). The value
// of the first 19 significant digits is gathered on the way, so that most
// fields need no second look.
struct NumericField {
  bool blank = true;
  bool negative = false;
  bool has_point = false;
  int digits = 0;       // all digits, leading zeros included
  int point = 0;        // digits before the point
  int significant = 0;  // digits from the first non-zero one on
  std::uint64_t mantissa = 0;  // of the significant digits, while there are at most 19
};

// False when the field holds anything but blanks, one leading sign, digits
// and one point, or more than 120 characters besides blanks. (Locals, not
// `f`, carry the loop: a char may alias anything, so fields of `f` would be
// stored and loaded again for every character.)
bool scan_numeric(std::string_view field, NumericField& f) {
  std::size_t characters = 0;
  int digits = 0, significant = 0, point = -1;
  std::uint64_t mantissa = 0;
  for (const char c : field) {
    const unsigned digit = static_cast<unsigned char>(c) - unsigned{'0'};
    if (digit < 10) {
      ++digits;
      if (significant > 0 || digit != 0) {
        if (++significant <= 19) mantissa = mantissa * 10 + digit;
      }
    } else if (c == ' ') {
      continue;
    } else if (c == '.' && point < 0) {
      point = digits;
    } else if (characters == 0 && (c == '+' || c == '-')) {
      f.negative = c == '-';
    } else {
      return false;
    }
    if (++characters > kMaxFieldCharacters) return false;
  }
  f.blank = characters == 0;
  f.has_point = point >= 0;
  f.digits = digits;
  f.point = point >= 0 ? point : digits;
  f.significant = significant;
  f.mantissa = mantissa;
  return true;
}

// The field as decimal text for from_chars: digits and point, the implied
// decimals put in when the field has no point (the sign is left out).
std::string decimal_text(std::string_view field, int decimals) {
  std::string body;
  for (const char c : field) {
    if (c != ' ' && c != '+' && c != '-') body.push_back(c);
  }
  if (body.find('.') != std::string::npos) {
    if (body[0] == '.') body.insert(body.begin(), '0');  // from_chars wants a digit before the point
    return body;
  }
  const std::size_t d = static_cast<std::size_t>(decimals < 0 ? 0 : decimals);
  if (body.size() <= d) return "0." + std::string(d - body.size(), '0') + body;
  body.insert(body.size() - d, 1, '.');
  return body;
}

// Powers of ten that float and double hold exactly.
constexpr double kPowersOfTen[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,  1e8,  1e9,  1e10, 1e11,
                                   1e12, 1e13, 1e14, 1e15, 1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};
template <typename Real>
struct ExactDivision;
template <>
struct ExactDivision<double> {
  static constexpr std::uint64_t max_mantissa = std::uint64_t{1} << 53;
  static constexpr int max_power = 22;
};
template <>
struct ExactDivision<float> {
  static constexpr std::uint64_t max_mantissa = std::uint64_t{1} << 24;
  static constexpr int max_power = 10;
};

// mantissa / 10^fraction, when both are exact in Real: one division gives
// the correctly rounded value (the arithmetic of float and double is exact
// to their own precision here).
template <typename Real>
bool exact_quotient(std::uint64_t mantissa, int fraction, Real& magnitude) {
  if (FLT_EVAL_METHOD != 0 || mantissa > ExactDivision<Real>::max_mantissa ||
      fraction > ExactDivision<Real>::max_power) {
    return false;
  }
  magnitude = static_cast<Real>(mantissa) / static_cast<Real>(kPowersOfTen[fraction]);
  return true;
}

// Fw.d: a point in the field wins over the d implied decimals. Most fields
// are right-aligned (blanks, a sign, up to 18 digits and a point to the end
// of the field) and most values exact quotients; every other field takes the
// full scan, and every other value from_chars.
template <typename Real>
bool parse_real(std::string_view field, int decimals, Real& value) {
  const int implied = decimals < 0 ? 0 : decimals;
  std::size_t i = 0;
  while (i < field.size() && field[i] == ' ') ++i;
  const bool negative = i < field.size() && field[i] == '-';
  if (i < field.size() && (field[i] == '-' || field[i] == '+')) ++i;
  std::uint64_t mantissa = 0;
  int digits = 0, point = -1;
  for (; i < field.size(); ++i) {
    const unsigned digit = static_cast<unsigned char>(field[i]) - unsigned{'0'};
    if (digit <= 9) {
      mantissa = mantissa * 10 + digit;  // more than 18 digits are left to the full scan
      ++digits;
    } else if (field[i] == '.' && point < 0) {
      point = digits;
    } else {
      break;
    }
  }
  Real magnitude{};
  if (i == field.size() && digits > 0 && digits <= 18 &&
      exact_quotient(mantissa, point < 0 ? implied : digits - point, magnitude)) {
    value = negative ? -magnitude : magnitude;
    return true;
  }

  NumericField f;
  if (!scan_numeric(field, f)) return false;
  if (f.blank) {
    value = 0;
    return true;
  }
  if (f.digits == 0) return false;
  const int fraction_digits = f.has_point ? f.digits - f.point : implied;
  if (f.significant > 19 || !exact_quotient(f.mantissa, fraction_digits, magnitude)) {
    const std::string number = decimal_text(field, decimals);
    const char* last = number.data() + number.size();
    auto [end, ec] = std::from_chars(number.data(), last, magnitude, std::chars_format::fixed);
    if (ec != std::errc() || end != last) return false;
  }
  value = f.negative ? -magnitude : magnitude;
  return true;
}

// Iw: blanks are ignored, an all-blank field is 0; the value must fit 32 bits.
// The value of a 32-bit integer field from its sign and magnitude; false
// when it does not fit.
bool int32_of(bool negative, std::uint64_t magnitude, std::int32_t& value) {
  if (magnitude > (negative ? 2147483648ULL : 2147483647ULL)) return false;
  value = negative ? static_cast<std::int32_t>(-static_cast<std::int64_t>(magnitude))
                   : static_cast<std::int32_t>(magnitude);
  return true;
}

bool parse_int(std::string_view field, std::int32_t& value) {
  // Most fields are right-aligned: blanks, an optional sign, then up to ten
  // digits to the end of the field. Anything else takes the full scan.
  std::size_t i = 0;
  while (i < field.size() && field[i] == ' ') ++i;
  const bool negative = i < field.size() && field[i] == '-';
  if (i < field.size() && (field[i] == '-' || field[i] == '+')) ++i;
  const std::size_t first_digit = i;
  std::uint64_t magnitude = 0;
  for (; i < field.size(); ++i) {
    const unsigned digit = static_cast<unsigned char>(field[i]) - unsigned{'0'};
    if (digit > 9) break;
    magnitude = magnitude * 10 + digit;  // more than ten digits are left to the full scan
  }
  if (i == field.size() && i > first_digit && i - first_digit <= 10) return int32_of(negative, magnitude, value);

  NumericField f;
  if (!scan_numeric(field, f) || f.has_point) return false;
  if (f.blank) {
    value = 0;
    return true;
  }
  if (f.digits == 0 || f.significant > 10) return false;
  return int32_of(f.negative, f.mantissa, value);
}

// The field of `width` columns at `pos` (blanks past the end of the record).
std::string_view field_at(std::string_view record, std::size_t pos, int width, std::string& scratch) {
  const std::size_t w = static_cast<std::size_t>(width);
  if (pos + w <= record.size()) return record.substr(pos, w);
  scratch.assign(w, ' ');
  if (pos < record.size()) scratch.replace(0, record.size() - pos, record.substr(pos));
  return scratch;
}

// The first item of a free-form text: its characters, or a keep/empty mark.
FreeRead free_item(std::string_view text, std::string_view& item) {
  std::size_t pos = 0;
  while (pos < text.size() && (text[pos] == ' ' || text[pos] == '\t')) ++pos;
  if (pos == text.size()) return FreeRead::empty;
  if (text[pos] == '/' || text[pos] == ',') return FreeRead::keep;
  std::size_t end = pos;
  while (end < text.size() && text[end] != ' ' && text[end] != '\t' && text[end] != ',' &&
         text[end] != '/') {
    ++end;
  }
  item = text.substr(pos, end - pos);
  return FreeRead::value;
}

}  // namespace

// ---- public API ------------------------------------------------------------

std::string I(std::int64_t value, int width, int min_digits) {
  std::string out;
  append_I(out, value, width, min_digits);
  return out;
}

std::string F(double value, int width, int decimals) {
  std::string out;
  append_F(out, value, width, decimals);
  return out;
}

std::string E(double value, int width, int decimals) {
  std::string out;
  append_E(out, value, width, decimals);
  return out;
}

std::string G(double value, int width, int decimals) {
  std::string out;
  append_G(out, value, width, decimals);
  return out;
}

std::string A(std::string_view text, int width) {
  std::string out;
  append_A(out, text, width);
  return out;
}

std::string A(std::string_view text) { return std::string(text); }

std::string X(int count) { return std::string(static_cast<std::size_t>(count > 0 ? count : 0), ' '); }

void append(std::string& out, const Format& format, std::initializer_list<Value> values) {
  RecordLine line(out, format.max_width());
  auto next = values.begin();
  for (const Format::Descriptor& item : format) {
    switch (item.code) {
      case 'L':
        line.append(format.literal(item));
        break;
      case 'X':
        line.append(static_cast<std::size_t>(item.width), ' ');
        break;
      default:
        if (next == values.end()) return;  // the values end the record
        append_value(line, item, *next++);
        break;
    }
  }
}

std::string write(const Format& format, std::initializer_list<Value> values) {
  std::string out;
  append(out, format, values);
  return out;
}

bool read_int(std::string_view field, std::int32_t& value) { return parse_int(field, value); }

bool read_real(std::string_view field, int decimals, float& value) {
  return parse_real(field, decimals, value);
}

bool read_real(std::string_view field, int decimals, double& value) {
  return parse_real(field, decimals, value);
}

bool read(std::string_view record, const Format& format, std::initializer_list<Target> targets) {
  auto next = targets.begin();
  std::size_t pos = 0;
  std::string scratch;
  for (const Format::Descriptor& item : format) {
    if (item.code == 'X') {
      pos += static_cast<std::size_t>(item.width);
      continue;
    }
    if (item.code == 'L') return false;  // literals have no place in a read
    if (next == targets.end()) return true;
    const Target& target = *next++;
    const int width = item.width < 0 ? 0 : item.width;
    const std::string_view field = field_at(record, pos, width, scratch);
    pos += static_cast<std::size_t>(width);
    bool ok = false;
    switch (item.code) {
      case 'I':
        ok = target.kind() == Target::Kind::integer && parse_int(field, *target.integer());
        break;
      case 'F':
      case 'E':
      case 'G':
        if (target.kind() == Target::Kind::real32) ok = parse_real(field, item.digits, *target.real32());
        if (target.kind() == Target::Kind::real64) ok = parse_real(field, item.digits, *target.real64());
        break;
      case 'A':
        if (target.kind() == Target::Kind::text) {
          target.text()->assign(field);
          ok = true;
        }
        break;
      default:
        break;
    }
    if (!ok) return false;
  }
  return true;
}

FreeRead read_free_int(std::string_view text, std::int32_t& value) {
  std::string_view item;
  const FreeRead kind = free_item(text, item);
  if (kind != FreeRead::value) return kind;
  std::int32_t v = 0;
  for (char c : item) {
    if (!is_digit(c) && c != '+' && c != '-') return FreeRead::bad;
  }
  if (!parse_int(item, v)) return FreeRead::bad;
  value = v;
  return FreeRead::value;
}

FreeRead read_free_real(std::string_view text, float& value) {
  std::string_view item;
  const FreeRead kind = free_item(text, item);
  if (kind != FreeRead::value) return kind;
  std::string number(item);
  if (!number.empty() && number[0] == '+') number.erase(0, 1);
  for (char& c : number) {
    if (c == 'd' || c == 'D') c = 'e';
  }
  if (number.empty()) return FreeRead::bad;
  float v = 0;
  auto [end, ec] = std::from_chars(number.data(), number.data() + number.size(), v);
  if (ec != std::errc() || end != number.data() + number.size() || !std::isfinite(v)) {
    return FreeRead::bad;
  }
  value = v;
  return FreeRead::value;
}

FreeLine& FreeLine::text(std::string_view t) {
  line_.append(t);
  return *this;
}

FreeLine& FreeLine::i32(std::int32_t v) {
  append_I(line_, v, 12, -1);
  return *this;
}

FreeLine& FreeLine::i16(std::int16_t v) {
  append_I(line_, v, 7, -1);
  return *this;
}

FreeLine& FreeLine::logical(bool v) {
  line_.append(v ? " T" : " F");
  return *this;
}

FreeLine& FreeLine::real(float v) {
  append_G(line_, v, 15, 7);
  return *this;
}

FreeLine& FreeLine::dbl(double v) {
  append_G(line_, v, 25, 16);
  return *this;
}

}  // namespace kal::fmt

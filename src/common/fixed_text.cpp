#include "common/fixed_text.h"

#include <algorithm>

namespace kal {

std::string fixed(std::string_view text, std::size_t width) {
  std::string out(text.substr(0, std::min(text.size(), width)));
  out.resize(width, ' ');
  return out;
}

std::size_t trimmed_length(std::string_view text) {
  std::size_t n = text.size();
  // Eight blanks at a time first: a padded record ends in a long run of them.
  constexpr std::string_view kEightBlanks = "        ";
  while (n >= kEightBlanks.size() && text.substr(n - kEightBlanks.size(), kEightBlanks.size()) == kEightBlanks) {
    n -= kEightBlanks.size();
  }
  while (n > 0 && text[n - 1] == ' ') --n;
  return n;
}

std::string_view trimmed(std::string_view text) { return text.substr(0, trimmed_length(text)); }

bool same_text(std::string_view a, std::string_view b) { return trimmed(a) == trimmed(b); }

std::string columns(std::string_view text, int first, int last) {
  if (last < first) return {};
  std::string out(static_cast<std::size_t>(last - first + 1), ' ');
  for (int c = std::max(first, 1); c <= last; ++c) {
    if (static_cast<std::size_t>(c) > text.size()) break;
    out[static_cast<std::size_t>(c - first)] = text[static_cast<std::size_t>(c - 1)];
  }
  return out;
}

int position_of(std::string_view text, std::string_view what) {
  const auto at = text.find(what);
  return at == std::string_view::npos ? 0 : static_cast<int>(at) + 1;
}

void put_columns(std::string& field, int first, std::string_view text) {
  if (first < 1) return;
  const std::size_t start = static_cast<std::size_t>(first - 1);
  if (field.size() < start + text.size()) field.resize(start + text.size(), ' ');
  field.replace(start, text.size(), text);
}

std::string SHIFTUP(std::string_view text) {
  std::string out(text.substr(0, std::min<std::size_t>(text.size(), 255)));
  for (char& c : out) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return out;
}

}  // namespace kal

#include "transcribe/names.h"

#include "common/fixed_text.h"
#include "common/format.h"

namespace kal::xlat {
namespace {

bool plain_character(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
         c == '_' || c == '+';
}

}  // namespace

std::string safe_file_stem(std::string_view survey_name, bool& changed) {
  std::string stem(survey_name);
  changed = false;
  for (std::size_t i = 0; i < stem.size(); ++i) {
    const char c = survey_name[i];
    bool safe = plain_character(c);
    if (c == '.') {
      // A dot is kept only between two other characters that are not dots:
      // no "..", no hidden file, no dot that looks like an extension end.
      const bool inner = i > 0 && i + 1 < stem.size();
      safe = inner && survey_name[i - 1] != '.' && survey_name[i + 1] != '.';
    }
    if (!safe) {
      stem[i] = '_';
      changed = true;
    }
  }
  return stem;
}

std::string time_suffix(std::int32_t hour, std::int32_t minute, std::int32_t second) {
  // Two digits each whatever the header held: no blank, sign or asterisk
  // may reach a file name.
  const auto two = [](std::int32_t v) { return v < 0 ? (-(v % 100)) : v % 100; };
  return fmt::write("'_',3I2.2", {two(hour), two(minute), two(second)});
}

bool stem_used(const std::vector<std::string>& used, std::string_view stem) {
  const std::string upper = SHIFTUP(stem);
  for (const std::string& u : used) {
    if (SHIFTUP(u) == upper) return true;
  }
  return false;
}

std::string distinct_stem(const std::vector<std::string>& used, const std::string& stem) {
  if (!stem_used(used, stem)) return stem;
  for (int n = 2;; ++n) {
    const std::string number = fmt::I(n, 11);
    std::string candidate = stem + "_" + number.substr(number.find_first_not_of(' '));
    if (!stem_used(used, candidate)) return candidate;
  }
}

std::string with_extension(std::string_view name, std::string_view extension) {
  const auto dot = name.rfind('.');
  std::string out(dot == std::string_view::npos ? name : name.substr(0, dot));
  out += '.';
  out += extension;
  return out;
}

}  // namespace kal::xlat

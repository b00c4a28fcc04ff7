#include "transcribe/names.h"

#include "common/fixed_text.h"
#include "common/format.h"

#include <algorithm>

namespace kal::xlat {
namespace {

// Bytes no file name may hold on Linux or Windows: controls, anything
// outside printable ASCII, and the characters Windows reserves.
bool forbidden_character(char c) {
  const auto byte = static_cast<unsigned char>(c);
  if (byte < 32 || byte >= 127) return true;
  return std::string_view("\\/:*?\"<>|").find(c) != std::string_view::npos;
}

// Windows opens these names as devices whatever extension follows them.
bool windows_device_name(std::string_view word) {
  static constexpr std::string_view kDevices[] = {"CON", "PRN", "AUX", "NUL"};
  const std::string upper = SHIFTUP(word);
  const std::string_view name = trimmed(upper);
  for (std::string_view device : kDevices) {
    if (name == device) return true;
  }
  const bool numbered = name.size() == 4 && (name.starts_with("COM") || name.starts_with("LPT"));
  return numbered && name[3] >= '1' && name[3] <= '9';
}

}  // namespace

std::string safe_file_stem(std::string_view survey_name, bool& changed) {
  std::string stem(survey_name);
  changed = false;
  for (std::size_t i = 0; i < stem.size(); ++i) {
    const char c = survey_name[i];
    bool safe = !forbidden_character(c);
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
  // "con" or "Lpt9.x" would open a device on Windows: "con_", "Lpt9_.x".
  const std::size_t word_end = std::min(stem.find('.'), stem.size());
  if (windows_device_name(std::string_view(stem).substr(0, word_end))) {
    stem.insert(word_end, "_");
    changed = true;
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

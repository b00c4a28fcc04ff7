// The quick-look report read back: its sentence on transmissions received
// damaged, and the parts of it that tell the RAW file's size, for
// comparisons of reports of one survey read from different RAW files.
#pragma once

#include <cstddef>
#include <string>

namespace kal::test {

// The sentence a report gives for `transmissions` transmissions received
// damaged whose pieces lie on RAW lines first..last.
inline std::string damaged_sentence(std::size_t transmissions, int first, int last) {
  return std::to_string(transmissions) + (transmissions == 1 ? " transmission" : " transmissions") +
         " received damaged and asked again, around RAW " +
         (first == last ? "line " + std::to_string(first)
                        : "lines " + std::to_string(first) + "-" + std::to_string(last)) +
         ".";
}

// Takes the report's paragraph on transmissions received damaged out of
// `html`; its text, or empty when the report has none.
inline std::string take_damaged_sentence(std::string& html) {
  const std::string heading = "<h2>Summary</h2><p>";
  const std::size_t at = html.find(heading);
  if (at == std::string::npos) return {};
  const std::size_t from = at + heading.size() - 3;
  const std::size_t end = html.find("</p>", from);
  if (end == std::string::npos) return {};
  const std::string sentence = html.substr(from + 3, end - from - 3);
  if (sentence.find(" received damaged and asked again") == std::string::npos) return {};
  html.erase(from, end + 4 - from);
  return sentence;
}

// Replaces the count of RAW lines read in the report `html` by "N"; the
// count, or -1 when the report has none.
inline int take_lines_read(std::string& html) {
  const std::string words = " RAW lines read";
  const std::size_t end = html.find(words);
  if (end == std::string::npos) return -1;
  std::size_t begin = end;
  while (begin > 0 && html[begin - 1] >= '0' && html[begin - 1] <= '9') --begin;
  if (begin == end) return -1;
  const int count = std::stoi(html.substr(begin, end - begin));
  html.replace(begin, end - begin, "N");
  return count;
}

}  // namespace kal::test

// Whole files for comparisons: read and written byte for byte.
#pragma once

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace kal::test {

// All bytes of the file (none when it does not exist).
inline std::string read_file(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream all;
  all << in.rdbuf();
  return all.str();
}

inline void write_file(const std::filesystem::path& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

// The lines of a text file without their line ends, LF or, as Windows
// writes them, CR LF (none when it does not exist).
inline std::vector<std::string> read_lines(const std::filesystem::path& path) {
  std::vector<std::string> lines;
  std::ifstream in(path, std::ios::binary);
  for (std::string line; std::getline(in, line);) {
#ifdef _WIN32
    if (!line.empty() && line.back() == '\r') line.pop_back();
#endif
    lines.push_back(line);
  }
  return lines;
}

}  // namespace kal::test

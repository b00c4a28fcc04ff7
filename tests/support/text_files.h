// Whole files for comparisons: read and written byte for byte.
#pragma once

#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

namespace kal::test {

// All bytes of the file (none when it does not exist).
inline std::string read_file(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream all;
  all << in.rdbuf();
  return all.str();
}

// Creates or overwrites the file with exactly `bytes`.
inline void write_file(const std::filesystem::path& path, std::string_view bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

// The names of the entries directly inside `dir` (none when it cannot be read).
inline std::set<std::string> list_files(const std::filesystem::path& dir) {
  std::set<std::string> names;
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator(dir, ec)) {
    names.insert(entry.path().filename().string());
  }
  return names;
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

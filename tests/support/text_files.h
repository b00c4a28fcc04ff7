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

enum class Listing { all, plain_files };

// The names of the entries directly inside `dir`, sorted: all of them or only
// the plain files (none when it cannot be read).
inline std::set<std::string> list_files(const std::filesystem::path& dir, Listing which = Listing::all) {
  std::set<std::string> names;
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator(dir, ec)) {
    if (which == Listing::all || entry.is_regular_file()) names.insert(entry.path().filename().string());
  }
  return names;
}

// `text` split at line feeds; a final line feed ends the last line.
inline std::vector<std::string> split_lines(std::string_view text) {
  std::vector<std::string> lines;
  while (!text.empty()) {
    const std::size_t end = text.find('\n');
    lines.emplace_back(text.substr(0, end));
    if (end == std::string_view::npos) break;
    text.remove_prefix(end + 1);
  }
  return lines;
}

// The lines, each ended by a line feed.
inline std::string joined(const std::vector<std::string>& lines) {
  std::string all;
  for (const std::string& l : lines) all += l + "\n";
  return all;
}

// The lines numbered from 1 and in brackets (trailing blanks show), for a
// failure's message.
inline std::string numbered(const std::vector<std::string>& lines) {
  std::string all;
  for (std::size_t i = 0; i < lines.size(); ++i) all += std::to_string(i + 1) + ": [" + lines[i] + "]\n";
  return all;
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

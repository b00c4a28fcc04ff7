// A fresh temporary directory made the working directory for one test, so
// that files the code writes beside itself ("fort.99") are seen in isolation.
#pragma once

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <stdlib.h>
#include <unistd.h>

namespace kal::testing {

class TemporaryWorkingDirectory {
 public:
  TemporaryWorkingDirectory() {
    previous_ = std::filesystem::current_path();
    std::string pattern = (std::filesystem::temp_directory_path() / "kal-geodesy-XXXXXX").string();
    if (::mkdtemp(pattern.data()) != nullptr) {
      path_ = pattern;
      std::filesystem::current_path(path_);
    }
  }
  ~TemporaryWorkingDirectory() {
    std::error_code ignored;
    std::filesystem::current_path(previous_, ignored);
    if (!path_.empty()) std::filesystem::remove_all(path_, ignored);
  }
  TemporaryWorkingDirectory(const TemporaryWorkingDirectory&) = delete;
  TemporaryWorkingDirectory& operator=(const TemporaryWorkingDirectory&) = delete;

  bool ready() const { return !path_.empty(); }
  std::filesystem::path file(const std::string& name) const { return path_ / name; }

 private:
  std::filesystem::path previous_;
  std::filesystem::path path_;
};

// The lines of a text file (none when it does not exist).
inline std::vector<std::string> lines_of(const std::filesystem::path& path) {
  std::vector<std::string> lines;
  std::ifstream in(path);
  std::string line;
  while (std::getline(in, line)) lines.push_back(line);
  return lines;
}

}  // namespace kal::testing

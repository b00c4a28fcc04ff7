#include "sensor_memory.h"

#include <cerrno>
#include <cstring>
#include <fstream>
#include <iterator>

namespace kal::sim {

bool SensorMemory::load_file(const std::string& path, std::string& error) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    error = "cannot read memory file " + path + ": " + std::strerror(errno);
    return false;
  }
  const std::string content((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (in.bad()) {
    error = "cannot read memory file " + path;
    return false;
  }
  lines_.clear();
  std::size_t start = 0;
  while (start < content.size()) {
    std::size_t end = content.find('\n', start);
    const bool has_end = end != std::string::npos;
    if (!has_end) end = content.size();
    std::string line = content.substr(start, end - start);
    if (has_end && !line.empty() && line.back() == '\r') line.pop_back();
    lines_.push_back(std::move(line));
    start = end + 1;
  }
  path_ = path;
  return true;
}

void SensorMemory::load_lines(std::vector<std::string> lines) {
  path_.clear();
  lines_ = std::move(lines);
}

std::vector<std::string> SensorMemory::upload_lines() const {
  std::vector<std::string> lines = lines_;
  bool has_end = false;
  for (const auto& line : lines) {
    if (line.rfind("Z$", 0) == 0) has_end = true;
  }
  if (!has_end) lines.emplace_back("Z$");
  return lines;
}

bool SensorMemory::clear(std::string& error) {
  lines_.clear();
  if (path_.empty()) return true;
  std::ofstream out(path_, std::ios::binary | std::ios::trunc);
  if (!out) {
    error = "cannot empty memory file " + path_ + ": " + std::strerror(errno);
    return false;
  }
  return true;
}

}  // namespace kal::sim

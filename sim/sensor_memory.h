// The sensor's data memory: the lines an upload sends, kept in a file when
// one was given so that clearing the memory is visible afterwards.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace kal::sim {

class SensorMemory {
 public:
  // Reads `path` (lines ended by LF or CR LF; a last line without an end
  // counts). False with a reason in `error` when it cannot be read.
  bool load_file(const std::string& path, std::string& error);
  void load_lines(std::vector<std::string> lines);

  // What an upload sends: the stored lines, then "Z$" when none of them
  // starts with "Z$" (a sensor always ends its data with that line).
  std::vector<std::string> upload_lines() const;

  // Erases the memory: the lines, and the file's contents when there is a
  // file. False with a reason when the file cannot be emptied.
  bool clear(std::string& error);

  const std::vector<std::string>& lines() const { return lines_; }

 private:
  std::string path_;
  std::vector<std::string> lines_;
};

}  // namespace kal::sim

#include "trace.h"

#include <cerrno>
#include <cstring>

#include "builtin_survey.h"
#include "common/format.h"

namespace kal::sim {
namespace {

std::string number(std::int64_t value) {
  const std::string field = fmt::I(value, 20);
  return field.substr(field.find_first_not_of(' '));
}

}  // namespace

std::string hex_and_text(std::string_view data) {
  std::string line;
  line.reserve(data.size() * 4 + 3);
  for (std::size_t i = 0; i < data.size(); ++i) {
    if (i > 0) line += ' ';
    line += hex_byte(static_cast<unsigned char>(data[i]));
  }
  line += " | ";
  for (char c : data) {
    const bool printable = c >= ' ' && c <= '~';
    line += printable ? c : '.';
  }
  return line;
}

bool Trace::open(const std::string& path, std::string& error) {
  file_.reset(std::fopen(path.c_str(), "w"));
  if (!file_) {
    error = "cannot write trace file " + path + ": " + std::strerror(errno);
    return false;
  }
  start_ = std::chrono::steady_clock::now();
  return true;
}

void Trace::bytes(std::string_view direction, std::int32_t host_speed, std::string_view data) {
  if (!file_ || data.empty()) return;
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                      std::chrono::steady_clock::now() - start_)
                      .count();
  put(number(ms) + " " + std::string(direction) + " " + number(host_speed) + " " +
      hex_and_text(data));
}

void Trace::note(std::int32_t host_speed, std::string_view text) {
  if (!file_) return;
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                      std::chrono::steady_clock::now() - start_)
                      .count();
  put(number(ms) + " -- " + number(host_speed) + " " + std::string(text));
}

void Trace::put(const std::string& line) {
  std::fputs(line.c_str(), file_.get());
  std::fputc('\n', file_.get());
  std::fflush(file_.get());
}

}  // namespace kal::sim

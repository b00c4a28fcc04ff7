// The line that tells an operator why a file could not be opened or written:
// the file's name and the C library's reason in words. File errors come from
// the C and C++ streams, so their numbers are errno values on every platform.
#pragma once

#include <cstring>
#include <string>
#include <string_view>

namespace kal {

// "cannot <action> <name>: <reason>", such as
// "cannot open survey.RAW: No such file or directory".
inline std::string file_error_line(std::string_view action, std::string_view name, int error) {
  return "cannot " + std::string(action) + " " + std::string(name) + ": " + std::strerror(error);
}

}  // namespace kal

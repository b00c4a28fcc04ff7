// The platform's own description of one of its error numbers (strerror on
// POSIX, FormatMessage on Windows), without a trailing line end or dot.
#pragma once

#include <string>

namespace kal {

std::string platform_error_text(int error);

}  // namespace kal

#include <cstring>

#include "common/platform_error.h"

namespace kal {

std::string platform_error_text(int error) { return std::strerror(error); }

}  // namespace kal

// Result codes of a transcription (KALXLATSUB's result_code).
#pragma once

#include <cstdint>

namespace kal {

inline constexpr std::int32_t kXlatOk = 0;
inline constexpr std::int32_t kXlatReadError = 1;     // the RAW file could not be read
inline constexpr std::int32_t kXlatHeaderField = 2;   // a numeric field of a file header
inline constexpr std::int32_t kXlatNoRawFile = 3;     // the RAW file cannot be opened
inline constexpr std::int32_t kXlatOutputOpen = 4;    // an output file cannot be opened (or lost data)
inline constexpr std::int32_t kXlatBadType = 5;       // the output type letter is not allowed

}  // namespace kal

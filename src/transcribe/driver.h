// The transcription routine: one RAW file into the output files of one type.
#pragma once

#include <cstdint>
#include <string_view>

namespace kal {

// Result codes.
inline constexpr std::int32_t kXlatOk = 0;
inline constexpr std::int32_t kXlatReadError = 1;
inline constexpr std::int32_t kXlatHeaderField = 2;
inline constexpr std::int32_t kXlatNoRawFile = 3;
inline constexpr std::int32_t kXlatOutputOpen = 4;
inline constexpr std::int32_t kXlatBadType = 5;

// Transcribes `raw_name` into the files of `output_type` (its first
// character: X G D L S P I R, any case). All dialogue goes through the
// console services. Some state persists from one call to the next in the
// same process (UTM zone, end-of-input flag, fix arrays, reference-seen flag).
void KALXLATSUB(std::string_view raw_name, std::string_view output_type, float& sensor_height,
                bool& height_set, std::int32_t& result_code);

namespace xlat {
class RunObserver;
}  // namespace xlat
// The same, with `observer` (when not null) fed every survey file, comment
// and station of the run as the RAW file is read.
void KALXLATSUB(std::string_view raw_name, std::string_view output_type, float& sensor_height,
                bool& height_set, std::int32_t& result_code, xlat::RunObserver* observer);

}  // namespace kal

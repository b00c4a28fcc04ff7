// The transcription routine: one RAW file into the output files of one type.
#pragma once

#include <cstdint>
#include <string_view>

#include "transcribe/persistent.h"
#include "transcribe/result_codes.h"

namespace kal {

namespace xlat {
class RunObserver;
}  // namespace xlat

// Transcribes `raw_name` into the files of `output_type` (its first
// character: X G D L S P I R, any case). All dialogue goes through the
// console services. `kept` carries what one call leaves to the next (UTM
// zone, end-of-input flag, fix arrays, reference-seen flag): give every
// transcription of one RAW file the same object. `observer`, when not null,
// is fed every survey file, comment and station of the run as the RAW file
// is read.
void KALXLATSUB(std::string_view raw_name, std::string_view output_type, float& sensor_height,
                bool& height_set, std::int32_t& result_code, xlat::Persistent& kept,
                xlat::RunObserver* observer = nullptr);

}  // namespace kal

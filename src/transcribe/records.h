// Survey records: recognition, fixed-column decoding, conversion to station
// values, and the hand-over of each completed station to the writers.
#pragma once

#include <cstdint>

#include "transcribe/transcribe_state.h"

namespace kal::xlat {

// Pitch or roll in degrees from its raw value: tenths up to 320, beyond that
// the value less (or plus) 300.
float angle_from_raw(std::int32_t raw);

// Converts geometries first..last (1-based) of the station by its data type;
// false (with the console line) for a type that is not implemented.
bool convert_by_data_type(Run& run, int first, int last);

// The full length-code prompt (T$ and X$ records without a configuration)
// and the short one ($PKLVT).
void full_length_code_prompt(Run& run);
void short_length_code_prompt(Run& run);

// Any line that is neither a header record nor a file header. The end-of-
// data record and fatal errors end the run.
Stop handle_survey_record(Run& run);

}  // namespace kal::xlat

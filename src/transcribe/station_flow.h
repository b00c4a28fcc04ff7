// One survey record through the run: read, the operator asked for what its
// station still needs, the station converted and handed to every consumer
// (the exports, then the type's own writer).
#pragma once

#include "transcribe/transcribe_state.h"

namespace kal::xlat {

// The full length-code prompt (T$ and X$ records without a configuration)
// and the short one ($PKLVT), which renames the main output as it answers.
void full_length_code_prompt(Run& run);
Stop short_length_code_prompt(Run& run);

// Any line that is neither a header record nor a file header. The end-of-
// data record and fatal errors end the run.
Stop handle_survey_record(Run& run);

}  // namespace kal::xlat

// The session driver KALFETCH5: command line, sensor connection and baud
// negotiation, upload into the RAW file, session close and the hand-off to
// the transcription. All dialogue goes through the console services, so the
// whole run can be driven by a script or a test.
#pragma once

#include <string>
#include <vector>

#include "session/exit_codes.h"

namespace kal {

// Runs one session with the given arguments (the program name not included)
// and returns the exit status.
int KALFETCH5(const std::vector<std::string>& args);

}  // namespace kal

// The session driver KALFETCH5: command line, sensor connection and baud
// negotiation, upload into the RAW file, session close and the hand-off to
// the transcription. All dialogue goes through the console services, so the
// whole run can be driven by a script or a test.
#pragma once

#include <string>
#include <vector>

namespace kal {

// Exit statuses of a run. When the upload ended early and a transcription
// failed as well, the upload's status is reported.
inline constexpr int kExitOk = 0;                   // the run did its job (also: sensor memory empty)
inline constexpr int kExitBadArguments = 1;         // usage text, too many or malformed arguments
inline constexpr int kExitNoPort = 2;               // the COM port could not be opened, or vanished
inline constexpr int kExitNoSensor = 3;             // no reply at any baud rate
inline constexpr int kExitAborted = 4;              // the operator quit or aborted the transfer
inline constexpr int kExitTimeout = 5;              // time-out or lost link during the upload
inline constexpr int kExitTranscriptionFailed = 6;  // a transcription returned an error code
inline constexpr int kExitRawFileError = 7;         // the RAW file could not be created or written
inline constexpr int kExitParseError = 8;           // a header line from the sensor could not be read

// Runs one session with the given arguments (the program name not included)
// and returns the exit status.
int KALFETCH5(const std::vector<std::string>& args);

}  // namespace kal

// Exit statuses of a kalfetch5 run. When the upload ended early and a
// transcription failed as well, the upload's status is reported.
#pragma once

namespace kal {

inline constexpr int kExitOk = 0;                   // the run did its job (also: sensor memory empty)
inline constexpr int kExitBadArguments = 1;         // usage text, too many or malformed arguments
inline constexpr int kExitNoPort = 2;               // the COM port could not be opened, or vanished
inline constexpr int kExitNoSensor = 3;             // no reply at any baud rate
inline constexpr int kExitAborted = 4;              // the operator quit or aborted the transfer
inline constexpr int kExitTimeout = 5;              // time-out or lost link during the upload
inline constexpr int kExitTranscriptionFailed = 6;  // a transcription returned an error code
inline constexpr int kExitRawFileError = 7;         // the RAW file could not be created or written
inline constexpr int kExitParseError = 8;           // a header line from the sensor could not be read

}  // namespace kal

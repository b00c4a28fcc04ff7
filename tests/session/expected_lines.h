// Console lines of the session as the operator sees them, for comparisons.
#pragma once

#include <string>
#include <vector>

#include "support/text_files.h"  // joined: the lines as a program writes them

namespace kal::test {

using Lines = std::vector<std::string>;

inline Lines operator+(Lines a, const Lines& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

inline const Lines kBannerLines = {
    "*****************************************************",
    "************* Program KALFETCH5 V1.18  ***************",
    "******** Uploads and Translates Kalvor Data *********",
    "********** Transcription subroutine V1.20 ***********",
    "*****************************************************",
};

// The usage text; its tenth line is "     (default " + the rate in 12 columns + ")".
inline Lines usage_lines(const std::string& rate_in_12) {
  return {
      "Usage:",
      "KALFETCH [format] [comport] [baud], eg",
      "KALFETCH X COM1 57600",
      "  where ",
      "  --format is X(yz), G(eosoft), D(at31), L(og) or R(aw),",
      "    (default X for comment-free XYZ file),",
      "  --comport is COM1 through COM20",
      "    (default COM1), and",
      "  --baud is 9600,19200,38400,57600, or 115200",
      "     (default " + rate_in_12 + ")",
      " ",
  };
}

// " " + text + the rate right-aligned in 12.
inline std::string testing_line(const std::string& rate_in_12) {
  return " Testing for connection at baud rate of" + rate_in_12;
}

inline const Lines kPowerUpAdvice = {
    "",
    "Please ensure that Sensor is powered up.",
    "  Power LED should be GREEN, and",
    "  Transmit LED should have flashed GREEN at least once",
    "If Sensor NOT powered up, then",
    "   -> Click on this window to make it active,",
    "   -> Press Q or q to quit, and",
    "   -> Restart KALFETCH after powering up Sensor.",
    "",
};

inline const Lines kWaitingForReply = {
    "Waiting for reply from Sensor.",
    "May take 10s from cold off state.",
    " ",
};

inline const Lines kTimeoutReport = {
    "Timeout waiting for reply!!!",
    "",
    "************************ RECOMMENDED ACTIONS *************************",
    "1. PERFORM A HARD RESET (remove and reinsert a battery).",
    "2. Check serial cable connections.",
    "3. Check power supply cabling or batteries.",
    "4. Verify that serial port connector used corresponds to",
    "   command line com# parameter (Default = \"COM1\").",
    "5. If using high baud rate in command line, try reducing to 9600 baud.",
    " ",
};

inline const Lines kRestoreLines = {
    ">Restoring Sensor to standard initial baud rate...",
    ">Power Sensor down and restart before further use.",
};

inline const Lines kShutDownLines = {
    "",
    ">>>> Sensor has been shut down...",
    ">>>> You MUST power sensor off before attempting to use it again.",
    ">>>> It will not communicate until power has been cycled. ",
    "",
};

inline const Lines kClearPrompt = {
    "Clear Sensor data memory?",
    "Click on this window to make it active, then",
    "Press Y for yes, or any other key to exit.",
    " ",
};

inline const Lines kNothingUploaded = {
    "No data were uploaded from sensor, so no transcription was performed.",
};

inline const Lines kUploadStart = {">Press QQ to abort data transfer", " "};

// The lines of the link routines that show sensor traffic; how many of them
// appear depends on timing, so comparisons leave them out.
inline Lines without_sensor_io(const Lines& lines) {
  Lines kept;
  for (const std::string& l : lines) {
    if (l != " >(sensor I/O)") kept.push_back(l);
  }
  return kept;
}

// The lines from the first one equal to `first` up to, not including, the
// first one equal to `end` after it (to the end when absent).
inline Lines section(const Lines& lines, const std::string& first, const std::string& end) {
  Lines out;
  bool in = false;
  for (const std::string& l : lines) {
    if (!in && l == first) in = true;
    else if (in && l == end) break;
    if (in) out.push_back(l);
  }
  return out;
}

}  // namespace kal::test

// The end of every run: after a complete upload the memory-clear offer, then
// the sensor back at its first rate and shut down, the port released, and
// the RAW file handed to the transcription once per requested type.
#pragma once

#include "session/sensor_link.h"
#include "session/session_settings.h"
#include "session/upload.h"

namespace kal {

// Where a run enters the close: at the end of the data, at the restore of
// the sensor's rate, or at the release of the port.
enum class CloseFrom { end_of_data, restore, release };

class SessionClose {
 public:
  SessionClose(SensorLink& link, session_settings& settings, Uploader& upload, int& exit_status)
      : link_(link), s_(settings), upload_(upload), exit_status_(exit_status) {}

  // The close point of an upload's outcome, with its report and exit status.
  CloseFrom after_upload(UploadEnd outcome);
  // Runs the close from `from` on; returns the exit status.
  int close(CloseFrom from);

 private:
  void end_of_data();
  void restore_and_shut_down();
  void release_and_exit();
  void delete_raw_if_empty();
  void transcribe_all();

  SensorLink& link_;
  session_settings& s_;
  Uploader& upload_;
  int& exit_status_;
};

}  // namespace kal

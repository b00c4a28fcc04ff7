#include "session/session_close.h"

#include <cstdio>
#include <string>
#include <string_view>

#include "common/file_error.h"
#include "common/fixed_text.h"
#include "common/format.h"
#include "console/console.h"
#include "export/export.h"
#include "link/instrument_protocol.h"
#include "session/exit_codes.h"
#include "transcribe/driver.h"

namespace kal {
namespace {

constexpr std::int32_t kNothingUploaded = 2;  // only the end-of-data line

}  // namespace

CloseFrom SessionClose::after_upload(UploadEnd outcome) {
  switch (outcome) {
    case UploadEnd::end_of_data:
      return CloseFrom::end_of_data;
    case UploadEnd::write_error:
      put_line(fmt::FreeLine().text("*** Write error on outfile=").text(upload_.raw_name()).str());
      put_line(file_error_line("write", upload_.raw_name(), upload_.raw().error_number()));
      exit_status_ = kExitRawFileError;
      [[fallthrough]];
    case UploadEnd::abort:
      put_line(" ");
      put_line(">Aborting transfer...");
      upload_.raw().close();
      if (exit_status_ == kExitOk) exit_status_ = kExitAborted;
      return CloseFrom::restore;
    case UploadEnd::parse_error:
      exit_status_ = kExitParseError;
      return CloseFrom::restore;
    case UploadEnd::quit:
      exit_status_ = kExitAborted;
      return CloseFrom::release;
    case UploadEnd::lost:
    case UploadEnd::timeout:
      print_timeout_report();
      exit_status_ = kExitTimeout;
      return CloseFrom::release;
  }
  return CloseFrom::release;
}

int SessionClose::close(CloseFrom from) {
  if (from == CloseFrom::end_of_data) end_of_data();
  if (from != CloseFrom::release) restore_and_shut_down();
  release_and_exit();
  return exit_status_;
}

void SessionClose::end_of_data() {
  put_line(">End of Sensor data upload.");
  link_.change_baud(s_.initial_baud);
  const std::string& raw_name = upload_.raw_name();
  if (upload_.record_count() <= kNothingUploaded) {
    put_line(" ");
    put_line("Sensor data memory empty; nothing to save.");
    put_line(" ");
    upload_.raw().close();
    std::remove(raw_name.c_str());
    return;
  }
  if (!upload_.raw().close()) {
    // The sensor holds the only sound copy: do not offer to clear it.
    put_line(fmt::FreeLine().text("*** Write error on outfile=").text(raw_name).str());
    put_line(file_error_line("write", raw_name, upload_.raw().error_number()));
    exit_status_ = kExitRawFileError;
    return;
  }
  put_line(" ");
  put_line("Transfer Complete.");
  put_line(" Records saved:" + fmt::I(upload_.record_count(), 6));
  put_line(" ");
  if (link_.lost()) return;  // no sensor left to clear
  put_line("Clear Sensor data memory?");
  put_line("Click on this window to make it active, then");
  put_line("Press Y for yes, or any other key to exit.");
  put_line(" ");
  char key = ' ';
  GET_KEY(key);
  if (key != 'y' && key != 'Y') return;
  // From the clear on, the RAW file is the only copy of the day's work: it
  // must be on the disk, not only in the system's cache, before the sensor
  // forgets it.
  if (!sync_raw_file(raw_name)) {
    put_line("*** Sensor data memory NOT cleared: the RAW file is not safely on disk.");
    return;
  }
  if (link_.purge("Error MCIO5") != Retry::done) return;
  link_.write_bytes("Error MWD5", std::string_view(kClearMemoryFrame, sizeof kClearMemoryFrame));
}

void SessionClose::restore_and_shut_down() {
  put_line(">Restoring Sensor to standard initial baud rate...");
  put_line(">Power Sensor down and restart before further use.");
  if (!s_.any_type_flag() && !s_.raw_open) return;
  // Without a connected port there is nothing to restore or shut down.
  if (!link_.connected() || link_.lost()) return;
  if (s_.requested_baud != s_.initial_baud) {
    SLEEP_MS(1000);
    link_.change_baud(s_.initial_baud);
    if (link_.lost()) return;
  }
  if (link_.write_bytes("Error MWD6", std::string_view(kShutDownFrame, sizeof kShutDownFrame)) !=
      Retry::done) {
    return;
  }
  put_line("");
  put_line(">>>> Sensor has been shut down...");
  put_line(">>>> You MUST power sensor off before attempting to use it again.");
  put_line(">>>> It will not communicate until power has been cycled. ");
  put_line("");
}

void SessionClose::release_and_exit() {
  if (link_.release() == kSerialOk) put_line(">Data Upload Phase Terminated.");
  SLEEP_MS(10);
  if (upload_.record_count() <= kNothingUploaded) {
    put_line("No data were uploaded from sensor, so no transcription was performed.");
    // Without a RAW name, or after a failed creation, there is no file to check.
    if (!upload_.raw_name().empty() && !upload_.raw_create_failed()) delete_raw_if_empty();
    put_line("Exiting...");
  } else {
    transcribe_all();
  }
  if (own_window_closes_with_program()) {
    put_line("Press Enter to close this window.");
    std::string enter;
    console().read_line(enter);
  } else {
    SLEEP_MS(5000);  // time to read the last lines in a window about to close
  }
}

void SessionClose::delete_raw_if_empty() {
  upload_.raw().close();
  const std::string& raw_name = upload_.raw_name();
  FilePtr file(std::fopen(raw_name.c_str(), "r"));
  if (!file) file.reset(std::fopen(raw_name.c_str(), "w+"));
  if (!file) return;
  const bool empty = std::fgetc(file.get()) == EOF;
  file.reset();
  if (empty && std::remove(raw_name.c_str()) == 0) put_line("Empty RAW file deleted.");
}

void SessionClose::transcribe_all() {
  const std::string list(trimmed(s_.transcribe_list));
  put_line(" ");
  put_line("Start Data Transcription Phase");
  put_line(fmt::FreeLine()
               .text("Transcribing RAW data files from Sensor to file types ")
               .text(list)
               .text(" as follows:")
               .str());
  upload_.raw().close();
  ExportRequest report_only;
  report_only.report = true;
  SurveyExport report(upload_.raw_name(), report_only);
  xlat::Persistent kept;  // from one transcription of the RAW file to the next
  for (const char letter : list) {
    const std::string_view type(&letter, 1);
    put_line(">>>Transcribe to file type " + std::string(type));
    std::int32_t result = kXlatOk;
    KALXLATSUB(upload_.raw_name(), type, s_.sensor_height, s_.args_given, result, kept, report.observer());
    if (result == kXlatOk) {
      put_line("   Data  successfully transcribed!");
    } else {
      put_line(fmt::FreeLine().text("   Error code was ").i32(result).str());
      if (exit_status_ == kExitOk) exit_status_ = kExitTranscriptionFailed;
    }
  }
  report.finish();
}

}  // namespace kal

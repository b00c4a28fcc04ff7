// Exports made beside the survey formats, for GIS and for a quick look in
// the field: per survey file NAME.csv and NAME.geojson, and one report
// RAWSTEM.html for the whole RAW file.
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "export/positions.h"

namespace kal {

namespace xlat {
class RunObserver;
}  // namespace xlat

struct ExportRequest {
  bool csv = false;
  bool geojson = false;
  bool report = false;
  xlat::PositionOptions positions;  // how the stations' own positions are found
  bool any() const { return csv || geojson || report; }
};

// The exports of one RAW file, made from the stations of a transcription
// the run makes anyway: no reading of the RAW file of their own. Their rows
// are the stations of the XYZ output, whatever the type transcribed.
//
//   SurveyExport exports(raw, request);
//   for each type: KALXLATSUB(raw, type, ..., result, exports.observer());
//   exports.finish();
class SurveyExport {
 public:
  SurveyExport(std::string_view raw_name, const ExportRequest& request);
  ~SurveyExport();
  SurveyExport(const SurveyExport&) = delete;
  SurveyExport& operator=(const SurveyExport&) = delete;

  // The observer to give the next transcription; null once one of them has
  // read the RAW file's records through it (a call that could not open its
  // files reads none, and the next call is taken instead).
  xlat::RunObserver* observer();
  // After the transcriptions: the files completed and named on the console,
  // the report written. False (with a line saying why) when an export could
  // not be written or no transcription read the RAW file.
  bool finish();

 private:
  struct State;
  std::unique_ptr<State> state_;
};

// RAWSTEM.html: the RAW file's path with ".html" for its extension.
std::string report_path(std::string_view raw_name);

}  // namespace kal

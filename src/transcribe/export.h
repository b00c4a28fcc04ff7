// Exports made beside the survey formats, for GIS and for a quick look in
// the field: per survey file NAME.csv and NAME.geojson, and one report
// RAWSTEM.html for the whole RAW file.
#pragma once

#include <string>
#include <string_view>

namespace kal {

struct ExportRequest {
  bool csv = false;
  bool geojson = false;
  bool report = false;
  bool any() const { return csv || geojson || report; }
};

// Exports the RAW file `raw_name` after its transcriptions. One more pass of
// type X reads it; it creates none of the X files, answers the prompts as
// the last transcription of the process was answered and shows none of its
// dialogue, so the files of the transcriptions and the console stay as they
// were. The files go beside the RAW file; one console line names each.
// False when an export could not be written.
bool export_survey(std::string_view raw_name, const ExportRequest& request, float sensor_height,
                   bool height_set);

// After the transcriptions of an upload: the quick-look report and one line
// naming it.
void write_quick_look_report(std::string_view raw_name, float sensor_height, bool height_set);

// RAWSTEM.html: the RAW file's path with ".html" for its extension.
std::string report_path(std::string_view raw_name);

}  // namespace kal

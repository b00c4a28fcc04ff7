// The writers of every output type and of the side files.
#pragma once

#include <string_view>

#include "transcribe/transcribe_state.h"

namespace kal::xlat {

// Hands the station completed by a record of `kind` to the chosen type's
// writer, which decides whether a line is written. A written station marks
// the main output used and clears the comment number. Ends the run only when
// the SDF description cannot be opened (result 4).
Stop write_station(Run& run, StationKind kind);

// Whether `type` writes a line for a station completed by `kind` on an
// instrument of `geometry_count` geometries.
bool type_writes(OutputType type, std::int32_t geometry_count, StationKind kind);

// Easting and northing of the station: UTM in the kept zone when the station
// has a position, else the line and station numbers.
void station_grid_position(Run& run, double& easting, double& northing);

// The Dat31 file's first line (type D, after a file header).
void write_dat31_file_header(Run& run);
// Reference copy line of the R$ pairing: a pair or a first half alone.
void write_reference_line(Run& run, bool pair);
// Auxiliary line of an A$ record (XYX file, when one is open).
void write_aux_line(Run& run);
// One line of the GPS file.
void write_gps_line(Run& run, std::string_view text);

}  // namespace kal::xlat

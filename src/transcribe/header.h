// RAW header records: instrument identification, sampling frequency,
// comments and file headers, and the instrument configuration they select.
#pragma once

#include <cstdint>
#include <string>

#include "transcribe/transcribe_state.h"

namespace kal::xlat {

// Coil conversion divisor for one spacing in metres:
// omega * mu0 * spacing^2 / 4 with omega = 2 pi 9000 and mu0 = 4e-7 pi.
float coil_factor(float spacing);

// Spacings, geometry count and column heading of a length code.
void apply_length_code(Config& config, std::int32_t code);
// Conversion factors of geometries first..last (1-based, inclusive).
void compute_factors(Config& config, int first, int last);
// The K-62 prototype: console line and the two correction factors.
void set_prototype(Config& config);

// The third line of the G output heading.
std::string g_column_heading(const Config& config);
// The three G heading lines, written to the main output.
void write_g_header(Run& run);

// A record with "C$" in columns 2-3: identification, sampling frequency or
// comment. Never ends the run.
void handle_header_record(Run& run);

// The fields of a file header (a line holding "H$"): survey name, date,
// time and length code. A date or time that cannot be read ends the run
// with result 2.
Stop read_file_header(Run& run);

}  // namespace kal::xlat

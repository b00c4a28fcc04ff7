// The GPS pre-pass: the mean of all GGA fixes of the RAW file chooses the UTM
// zone that every later projection of the process uses.
#pragma once

#include <cstdint>
#include <string_view>

#include "transcribe/transcribe_state.h"

namespace kal::xlat {

// 1-based column where the GGA sentence of a G$ record starts (its talker
// ID: "GPGGA", "GNGGA", ...), 0 when the record holds none.
int gga_position(std::string_view record);

// The zone to hand to the projection for a position at `latitude`: the kept
// zone number with the hemisphere of that latitude (0 while no zone is
// chosen). The kept zone itself never changes.
std::int32_t zone_for_latitude(std::int32_t kept_zone, double latitude);

// Easting and northing (m) of a position in the kept zone with the
// position's own hemisphere: a survey crossing the equator keeps one zone
// number and its northern stations. While no zone is kept (0) the
// projection chooses one, which is kept from then on. Returns the zone
// projected in (negative: southern hemisphere).
std::int32_t project_in_kept_zone(double latitude, double longitude, std::int32_t& kept_zone, double& easting,
                                  double& northing);

// Scans the whole RAW file for G$ records, averages their fixes, lets the
// projection choose the zone and rewinds the RAW file. A read error ends the
// run with result 1.
Stop gps_prepass(Run& run);

}  // namespace kal::xlat

// Geographic to UTM projection.
#pragma once

#include <cstdint>

namespace kal {

// Projects (latitude, longitude) in arc-seconds, latitude north positive and
// longitude WEST positive, onto UTM with the ellipsoid `ellipsoid` (1..19,
// 9 = GRS 80). zone: 0 asks the routine to choose it (returned); a non-zero
// zone is used as given; negative means southern hemisphere, and the
// latitude is then made negative (written back). Warnings go to "fort.99".
void LL2UTM(double& easting, double& northing, double& latitude, const double& longitude,
            std::int32_t& zone, const std::int32_t& ellipsoid);

}  // namespace kal

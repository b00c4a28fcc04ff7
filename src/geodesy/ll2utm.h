// Geographic to UTM projection.
#pragma once

#include <cstdint>

namespace kal {

// Projects (latitude, longitude) in arc-seconds, latitude north positive and
// longitude WEST positive, onto UTM with the ellipsoid `ellipsoid` (1..19,
// 9 = GRS 80). zone: 0 asks the routine to choose it (returned); a non-zero
// zone is used as given; negative means southern hemisphere, and the
// latitude is then made negative (written back). A longitude at or beyond
// 180 degrees is taken modulo 360 degrees, so a chosen zone is always 1..60.
// The routine never fails: doubtful positions are projected all the same and
// reported in "fort.99" in the working directory (the first warning of the
// process replaces an old file, later ones extend it); an ellipsoid index
// outside the table is replaced by GRS 80 and reported there too.
void LL2UTM(double& easting, double& northing, double& latitude, const double& longitude,
            std::int32_t& zone, const std::int32_t& ellipsoid);

// While an object of this class lives, the projection writes no warnings:
// for a pass that repeats projections the transcription made and reported.
class ProjectionWarningsMuted {
 public:
  ProjectionWarningsMuted();
  ~ProjectionWarningsMuted();
  ProjectionWarningsMuted(const ProjectionWarningsMuted&) = delete;
  ProjectionWarningsMuted& operator=(const ProjectionWarningsMuted&) = delete;
};

}  // namespace kal

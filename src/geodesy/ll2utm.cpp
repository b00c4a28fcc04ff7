#include "geodesy/ll2utm.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <mutex>
#include <string>
#include <vector>

#include "common/format.h"

namespace kal {

namespace {

struct Ellipsoid {
  double a;  // semi-major axis, m
  double b;  // semi-minor axis, m
};

constexpr std::array<Ellipsoid, 19> kEllipsoids{{
    {6378206.4, 6356583.8},          // 1 Clarke 1866
    {6378249.145, 6356514.86955},    // 2 Clarke 1880
    {6377397.155, 6356078.96284},    // 3 Bessel 1841
    {6378157.5, 6356772.2},          // 4
    {6378388.0, 6356911.94613},      // 5 International 1924
    {6378135.0, 6356750.519915},     // 6 WGS 72
    {6377276.3452, 6356075.4133},    // 7 Everest 1830
    {6378145.0, 6356759.769356},     // 8 WGS 66
    {6378137.0, 6356752.31414},      // 9 GRS 80
    {6377563.396, 6356256.91},       // 10 Airy 1830
    {6377304.063, 6356103.039},      // 11
    {6377341.89, 6356036.143},       // 12
    {6376896.0, 6355834.8467},       // 13
    {6378155.0, 6356773.3205},       // 14
    {6378160.0, 6356774.719},        // 15
    {6378245.0, 6356863.0188},       // 16 Krassovsky 1940
    {6378270.0, 6356794.343479},     // 17 Hough 1960
    {6378166.0, 6356784.283666},     // 18
    {6378150.0, 6356768.337303},     // 19
}};
constexpr std::int32_t kGrs80 = 9;

constexpr double kRho = 206264.8062470964;  // arc-seconds per radian
constexpr double kScale = 0.9996;
constexpr double kFalseEasting = 500000.0;
constexpr double kFalseNorthingSouth = 10000000.0;
constexpr double kZoneWidth = 21600.0;         // 6 degrees
constexpr double kHalfTurn = 648000.0;         // 180 degrees
constexpr double kPolewardLimit = 302400.0;    // 84 degrees
constexpr double kMeridianDistanceLimit = 0.16;  // radians

// An angle in arc-seconds brought into (-180, 180] degrees; angles already
// there are returned unchanged, bit for bit.
double within_half_turn(double arcsec) {
  double x = std::fmod(arcsec, 2.0 * kHalfTurn);
  if (x > kHalfTurn) {
    x -= 2.0 * kHalfTurn;
  } else if (x <= -kHalfTurn) {
    x += 2.0 * kHalfTurn;
  }
  return x;
}

// The zone of a longitude in (-180, 180] degrees (positive west). A
// longitude on a zone edge belongs to the zone farther from Greenwich; the
// 180th meridian itself belongs to zone 1, as in the UTM grid.
std::int32_t zone_of(double lambda) {
  if (!std::isfinite(lambda)) return 30;  // no position: the results are NaN anyway
  const auto edges = static_cast<std::int32_t>(std::trunc(lambda / kZoneWidth));
  const std::int32_t zone = lambda >= 0.0 ? 30 - edges : 31 - edges;
  return std::clamp(zone, 1, 60);
}

// Central meridian of a zone, arc-seconds positive west.
double central_meridian(std::int32_t zone) {
  const std::int32_t z = std::abs(zone);
  if (z <= 30) return ((30 - z) * 6 + 3) * 3600.0;
  return -((z - 30) * 6 - 3) * 3600.0;
}

std::mutex diagnostics_guard;
int diagnostics_muted = 0;  // ProjectionWarningsMuted objects alive

// The diagnostics file: the first warning of the process replaces an old
// file, later ones extend it.
void write_diagnostics(const std::vector<std::string>& lines) {
  static bool replaced = false;
  const std::lock_guard<std::mutex> lock(diagnostics_guard);
  if (diagnostics_muted > 0) return;
  std::ofstream out("fort.99", replaced ? std::ios::app : std::ios::trunc);
  if (!out) return;  // the projection never fails; the warning is lost
  replaced = true;
  for (const std::string& line : lines) out << line << '\n';
}

std::string text_record(std::string_view text) { return fmt::FreeLine().text(text).str(); }

void warn_if_doubtful(double latitude, double longitude, double delta_lambda) {
  std::vector<std::string> lines;
  const std::string degrees =
      fmt::FreeLine().dbl(latitude / 3600.0).dbl(longitude / 3600.0).str();
  if (std::fabs(latitude) > kPolewardLimit) {
    lines.push_back(text_record(" *************   error exit from utm. "));
    lines.push_back(text_record("   latitude value is poleward of 84 degrees"));
    lines.push_back(text_record("   utm is not valid."));
    lines.push_back(text_record("   calculation has continued but values "));
    lines.push_back(text_record("   may not be valid."));
    lines.push_back(degrees);
  }
  if (std::fabs(delta_lambda) > kMeridianDistanceLimit) {
    lines.push_back(text_record(" *************   error exit from utm. "));
    lines.push_back(text_record("  d lon not within 0.16 radians of central merid."));
    lines.push_back(text_record("   calculation has continued but values "));
    lines.push_back(text_record("   may not be valid."));
    lines.push_back(degrees);
  }
  if (!lines.empty()) write_diagnostics(lines);
}

// An index outside the table would read past it: GRS 80, the ellipsoid of
// the transcription, is used instead and the substitution is recorded.
Ellipsoid ellipsoid_of(std::int32_t index) {
  if (index >= 1 && index <= static_cast<std::int32_t>(kEllipsoids.size())) {
    return kEllipsoids[static_cast<std::size_t>(index - 1)];
  }
  write_diagnostics({text_record(" *************   error exit from utm. "),
                     fmt::FreeLine().text("   ellipsoid index out of range:").i32(index).str(),
                     text_record("   grs 80 used.")});
  return kEllipsoids[kGrs80 - 1];
}

}  // namespace

ProjectionWarningsMuted::ProjectionWarningsMuted() {
  const std::lock_guard<std::mutex> lock(diagnostics_guard);
  ++diagnostics_muted;
}

ProjectionWarningsMuted::~ProjectionWarningsMuted() {
  const std::lock_guard<std::mutex> lock(diagnostics_guard);
  --diagnostics_muted;
}

void LL2UTM(double& easting, double& northing, double& latitude, const double& longitude,
            std::int32_t& zone, const std::int32_t& ellipsoid) {
  const Ellipsoid ell = ellipsoid_of(ellipsoid);
  const double e2 = (ell.a * ell.a - ell.b * ell.b) / (ell.a * ell.a);

  // Longitudes at or beyond 180 degrees are taken modulo a full turn, so the
  // zone is always 1..60.
  const double lambda = within_half_turn(longitude);
  std::int32_t z = zone == 0 ? zone_of(lambda) : zone;
  const double lambda0 = central_meridian(z);

  if (latitude < 0.0) z = -std::abs(z);
  if (z < 0) latitude = -std::fabs(latitude);
  if (zone == 0) zone = z;
  if (latitude < 0.0 && zone > 0) zone = -zone;

  // The difference is taken the short way round, so that a survey kept in
  // one zone across the 180th meridian is projected correctly.
  const double delta_lambda = -within_half_turn(lambda - lambda0) / kRho;
  const double phi = latitude / kRho;
  const double ep2 = e2 / (1.0 - e2);

  const double sin_phi = std::sin(phi);
  const double cos_phi = std::cos(phi);
  const double tan_phi = std::tan(phi);
  const double n = ell.a / std::sqrt(1.0 - e2 * sin_phi * sin_phi);
  const double t = tan_phi * tan_phi;
  const double c = ep2 * cos_phi * cos_phi;
  const double a = delta_lambda * cos_phi;

  const double e4 = e2 * e2;
  const double e6 = e4 * e2;
  const double m =
      ell.a * ((1.0 - e2 / 4.0 - 3.0 * e4 / 64.0 - 5.0 * e6 / 256.0) * phi -
               (3.0 * e2 / 8.0 + 3.0 * e4 / 32.0 + 45.0 * e6 / 1024.0) * std::sin(2.0 * phi) +
               (15.0 * e4 / 256.0 + 45.0 * e6 / 1024.0) * std::sin(4.0 * phi) -
               (35.0 * e6 / 3072.0) * std::sin(6.0 * phi));

  const double a2 = a * a;
  const double a3 = a2 * a;
  const double a4 = a2 * a2;
  const double a5 = a4 * a;
  const double a6 = a4 * a2;

  easting = kScale * n *
                (a + (1.0 - t + c) * a3 / 6.0 +
                 (5.0 - 18.0 * t + t * t + 72.0 * c - 58.0 * ep2) * a5 / 120.0) +
            kFalseEasting;
  northing = kScale * (m + n * tan_phi *
                               (a2 / 2.0 + (5.0 - t + 9.0 * c + 4.0 * c * c) * a4 / 24.0 +
                                (61.0 - 58.0 * t + t * t + 600.0 * c - 330.0 * ep2) * a6 / 720.0));
  if (z < 0 || latitude < 0.0) northing += kFalseNorthingSouth;

  warn_if_doubtful(latitude, longitude, delta_lambda);
}

}  // namespace kal

#include "transcribe/gps_prepass.h"

#include <algorithm>
#include <cstdlib>

#include "common/fixed_text.h"
#include "common/format.h"
#include "common/rejected_mark.h"
#include "console/console.h"
#include "geodesy/ll2utm.h"
#include "geodesy/read_gpgga.h"

namespace kal::xlat {
namespace {

bool is_upper_letter(char c) { return c >= 'A' && c <= 'Z'; }

// Columns 2-3 of the normalised line are "G$": the tag stands there already,
// or in column 1 and moves there.
bool is_gps_record(std::string_view line) {
  const auto tag_at = [line](std::size_t at) {
    return line.size() > at + 1 && line[at] == 'G' && line[at + 1] == '$';
  };
  return tag_at(0) || tag_at(1);
}

void project_mean(Run& run, double mean_latitude, double mean_longitude) {
  Persistent& keep = run.keep;
  double easting = 0.0, northing = 0.0;
  double latitude = mean_latitude * 3600.0;
  const double longitude = mean_longitude * -3600.0;
  std::int32_t zone = zone_for_latitude(keep.utm_zone, mean_latitude);
  LL2UTM(easting, northing, latitude, longitude, zone, kEllipsoidGrs80);
  if (keep.utm_zone == 0) keep.utm_zone = zone;
  put_line(fmt::FreeLine()
               .text("For mean Lat, Lon=")
               .dbl(mean_latitude)
               .dbl(mean_longitude)
               .text(" get UTM Zone Number ")
               .i32(zone)
               .str());
}

}  // namespace

int gga_position(std::string_view record) {
  // The usual record holds its sentence from column 4 (" G$GPGGA,..."), and
  // that is then the first "GPGGA": the word cannot also start one to three
  // columns earlier (it would need a "G" or a "P" where this one has another
  // letter).
  if (record.substr(std::min<std::size_t>(3, record.size()), 5) == "GPGGA") return 4;
  if (const int at = position_of(record, "GPGGA"); at > 0) return at;
  // Any talker: "GNGGA," from multi-system receivers, "GLGGA,", ...
  for (std::size_t at = record.find("GGA,"); at != std::string_view::npos;
       at = record.find("GGA,", at + 1)) {
    if (at >= 2 && is_upper_letter(record[at - 2]) && is_upper_letter(record[at - 1])) {
      return static_cast<int>(at) - 1;
    }
  }
  return 0;
}

std::int32_t zone_for_latitude(std::int32_t kept_zone, double latitude) {
  const std::int32_t number = std::abs(kept_zone);
  return latitude < 0.0 ? -number : number;
}

std::int32_t project_in_kept_zone(double latitude, double longitude, std::int32_t& kept_zone, double& easting,
                                  double& northing) {
  double seconds_north = latitude * 3600.0;
  const double seconds_west = longitude * -3600.0;
  std::int32_t zone = zone_for_latitude(kept_zone, latitude);
  LL2UTM(easting, northing, seconds_north, seconds_west, zone, kEllipsoidGrs80);
  if (kept_zone == 0) kept_zone = zone;
  return zone_for_latitude(kept_zone, latitude);
}

Stop gps_prepass(Run& run) {
  Persistent& keep = run.keep;
  keep.fix_latitude.assign(kMaxFixes, 0.0);
  keep.fix_longitude.assign(kMaxFixes, 0.0);
  keep.fix_altitude.assign(kMaxFixes, 0.0f);

  // The reader's time, fix quality, satellites and HDOP of the pre-pass are
  // scratch values: the station's GPS state is not touched.
  std::int32_t time = 0, fix = 0, satellites = 0;
  float hdop = 0.0f;
  bool have_fix = false;
  std::int32_t fix_index = 1;
  std::int32_t pass_line = 0;
  std::string_view raw_line;
  std::string line;
  if (run.observer != nullptr) run.observer->prepass_begin();
  for (;;) {
    ++pass_line;
    const RawInput::Read read = run.raw.next(raw_line);
    if (read == RawInput::Read::end) break;
    if (read == RawInput::Read::error) return report_raw_read_error(run, pass_line);
    // The tag test of the normalised line on the line as read: only G$
    // records are copied and normalised.
    if (is_rejected_piece(raw_line)) continue;
    if (run.observer != nullptr) run.observer->prepass_line(raw_line);
    if (!is_gps_record(raw_line)) continue;
    load_record(line, raw_line);
    const int p = gga_position(line);
    if (p > 0 && fix_index <= kMaxFixes) {
      const auto i = static_cast<std::size_t>(fix_index - 1);
      const std::string_view sentence = trimmed(std::string_view(line).substr(static_cast<std::size_t>(p - 1)));
      READ_GPGGA(sentence, time, keep.fix_latitude[i], keep.fix_longitude[i], fix, satellites, hdop,
                 keep.fix_altitude[i]);
      if (keep.fix_latitude[i] != 0.0 && keep.fix_longitude[i] != 0.0) have_fix = true;
    }
    ++fix_index;
  }
  if (!run.raw.rewind()) return report_raw_read_error(run, pass_line);

  if (have_fix) {
    double sum_latitude = 0.0, sum_longitude = 0.0;
    std::int32_t count = 0;
    const std::int32_t stored = std::min(fix_index - 1, kMaxFixes);
    for (std::int32_t n = 0; n < stored; ++n) {
      const auto i = static_cast<std::size_t>(n);
      if (keep.fix_latitude[i] == 0.0 || keep.fix_longitude[i] == 0.0) continue;
      sum_latitude += keep.fix_latitude[i];
      sum_longitude += keep.fix_longitude[i];
      ++count;
    }
    project_mean(run, sum_latitude / count, sum_longitude / count);
  }
  return std::nullopt;
}

}  // namespace kal::xlat

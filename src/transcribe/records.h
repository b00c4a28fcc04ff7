// Survey records: recognition, fixed-column decoding and the conversion of
// each station's raw readings to station values. The operator's dialogue a
// station may need in between is the caller's (station_flow.h).
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "transcribe/transcribe_state.h"

namespace kal::xlat {

// Pitch or roll in degrees from its raw value: tenths up to 320, beyond that
// the value less (or plus) 300.
float angle_from_raw(std::int32_t raw);

// Converts geometries first..last (1-based) of the station by its data type;
// false (with the console line) for a type that is not implemented.
bool convert_by_data_type(Run& run, int first, int last);

// The length code a station needs from the operator before its readings
// can be converted: none, the full prompt (NULD and RAW readings without a
// configuration) or the short one ($PKLVT without a configuration).
enum class LengthCodeNeeded { none, full, short_code };

// The fields of a $PKLVT sentence read whole.
struct PklvtFields {
  std::int32_t hour = 0, minute = 0, second = 0;
  std::int32_t hi = 0, hq = 0, pi = 0, pq = 0, extra_b = 0, extra_a = 0;
  std::int32_t voltage = 0, temperature = 0, pitch = 0, roll = 0;
  std::string data_type;
};

// What one survey record brought: the end of the data, or a station read
// (taken whole into run.station, or for $PKLVT held in `pklvt`) that still
// needs `needs` from the operator before convert_station; or nothing.
struct SurveyRecord {
  Stop stop;
  std::optional<StationKind> station;
  LengthCodeNeeded needs = LengthCodeNeeded::none;
  std::optional<PklvtFields> pklvt;
  bool gps_read = false;  // a G$ record with a GGA sentence set run.gps_state
};

// Reads any line that is neither a header record nor a file header; the
// records that are no station (offsets, reference, auxiliary, status, GPS)
// take effect here.
SurveyRecord read_survey_record(Run& run);

// The sensor-clock time (ms of the day) a station record carries, read from
// the normalised line alone; nullopt for a line that is no station record
// or whose time cannot be read. Records without milliseconds give whole
// seconds.
std::optional<std::int64_t> station_time_of(const std::string& line);

// The station values of the station `record` read, once configured.
void convert_station(Run& run, const SurveyRecord& record);

}  // namespace kal::xlat

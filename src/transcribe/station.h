// A station as the survey records give it, and the GPS fix it lies at: the
// values every writer of the transcription and every export reads.
#pragma once

#include <array>
#include <cstdint>
#include <string>

namespace kal::xlat {

inline constexpr int kMaxGeometries = 3;
inline constexpr int kEmsChannels = 5;

// The record that completed a station: the writers' layouts depend on it.
enum class StationKind { T, D, X, N, Pklvt, I };

struct Station {
  std::int32_t Hour = 0, Minute = 0, Second = 0, Millisecond = 0;
  std::int32_t StationNumber = 0;
  std::int32_t LineNumber = 0;
  std::string LineMark = " ";
  std::string StationMark = " ";
  std::int32_t MarkDigit = 0;
  std::string DataType = "    ";
  float Voltage = 0.0f, Temperature = 0.0f;
  float Pitch = 0.0f, Roll = 0.0f;
  std::int32_t ExtraA = 0, ExtraB = 0;
  std::int32_t CommentNumber = 0;

  // Raw readings and the raw status values as the records carry them.
  std::array<std::int32_t, kMaxGeometries> RawHQ{}, RawHI{}, RawPQ{}, RawPI{};
  std::int32_t raw_pitch = 0, raw_roll = 0;
  std::int32_t raw_voltage = 0, raw_temperature = 0;

  // Station values per geometry.
  std::array<float, kMaxGeometries> HC{}, HI{}, PC{}, PI{};

  // RTM offsets per geometry: HCP in-phase, PRP in-phase, HCP quad, PRP quad.
  std::array<std::array<float, 4>, kMaxGeometries> RtmOffsets{};

  // EMS (I$) values.
  std::int32_t ems_count = 0;
  std::array<std::int32_t, kEmsChannels> ems_raw{};
  std::array<float, kEmsChannels> ems_value{};
  float ems_reading = 0.0f;  // the I5 reading, scaled

  // Auxiliary (A$) values.
  std::array<std::int32_t, 3> AuxA{}, AuxB{};
  std::int32_t AuxC = 0;
};

// The values of the last GGA fix read.
struct GpsFix {
  std::int32_t time = 0;  // milliseconds of the day
  double latitude = 0.0, longitude = 0.0;
  std::int32_t fix = 0, satellites = 0;
  float hdop = 0.0f, altitude = 0.0f;

  // A fix at latitude or longitude 0 is no position.
  bool has_position() const { return latitude != 0.0 && longitude != 0.0; }
};

struct GpsState : GpsFix {
  std::string text;       // the last GPS sentence, at most 250 characters
  std::string previous;   // the sentence before it
};

}  // namespace kal::xlat

#include "transcribe/records.h"

#include <algorithm>
#include <array>

#include "common/fixed_text.h"
#include "common/format.h"
#include "console/console.h"
#include "geodesy/read_gpgga.h"
#include "transcribe/gps_prepass.h"
#include "transcribe/header.h"
#include "transcribe/result_codes.h"
#include "transcribe/writers.h"

namespace kal::xlat {
namespace {

std::size_t index(int g) { return static_cast<std::size_t>(g); }

int record_length(const std::string& line) { return static_cast<int>(trimmed_length(line)); }

bool has_tag(const std::string& line, char letter) { return line[1] == letter && line[2] == '$'; }

void report_packet_error(std::string_view label, const std::string& line) {
  put_line(fmt::FreeLine().text(label).text(trimmed(line)).str());
}

// An offset over a conversion factor: nothing while the factor is unknown.
float offset_over(float offset, float factor) { return factor == 0.0f ? 0.0f : offset / factor; }

bool spacing_known(const Config& c) { return c.HcpSpacing[0] != 0.0f && c.PrpSpacing[0] != 0.0f; }

// Data types compared as views: four characters, no call (these run for every record).
bool is_data_type(std::string_view type, std::string_view name) { return type == name; }

bool is_nuld_or_raw(std::string_view type) { return is_data_type(type, "NULD") || is_data_type(type, "RAW "); }

// Reads a record into a copy of the station and takes the copy only when
// the whole record was read: a record that fails changes nothing, so no
// field of it reaches the next station written.
template <class Read>
bool read_station(Run& run, Read read) {
  Station scratch = run.station;
  if (!read(scratch)) {
    report_read_error(run);
    return false;
  }
  run.station = std::move(scratch);
  return true;
}

// ---- free-form items of the O$ record -----------------------------------------------

// The next item of a free-form list: false at a "/" or when no item is left.
bool next_free_item(std::string_view& text, std::string_view& item, bool& null_item) {
  std::size_t pos = 0;
  while (pos < text.size() && (text[pos] == ' ' || text[pos] == '\t')) ++pos;
  if (pos == text.size() || text[pos] == '/') return false;
  null_item = text[pos] == ',';
  std::size_t end = pos;
  while (end < text.size() && text[end] != ' ' && text[end] != '\t' && text[end] != ',' &&
         text[end] != '/') {
    ++end;
  }
  item = text.substr(pos, end - pos);
  // Step over the separator that ends the item.
  while (end < text.size() && (text[end] == ' ' || text[end] == '\t')) ++end;
  if (end < text.size() && text[end] == ',') ++end;
  text.remove_prefix(end);
  return true;
}

// Reads up to values.size() reals; a null item or a "/" keeps the value.
// False when an item is not a number or the list ends early.
bool read_free_reals(std::string_view text, std::array<float, 4>& values) {
  for (float& value : values) {
    std::string_view item;
    bool null_item = false;
    if (!next_free_item(text, item, null_item)) return text.find('/') != std::string_view::npos;
    if (null_item) continue;
    if (fmt::read_free_real(item, value) != fmt::FreeRead::value) return false;
  }
  return true;
}

// ---- O$ R$ A$ AS$ -----------------------------------------------------------------------

void handle_offsets(Run& run) {
  const std::string& line = run.line;
  put_line(fmt::FreeLine().text("Applying RTM offsets ").text(trimmed(columns(line, 4, kLineLength))).str());
  std::int32_t k = 0;
  std::array<float, 4> values{};
  if (fmt::read_free_int(columns(line, 4, 5), k) != fmt::FreeRead::value ||
      !read_free_reals(columns(line, 7, 30), values)) {
    report_read_error(run);
    return;
  }
  if (k < 1 || k > kMaxGeometries) {
    put_line(fmt::FreeLine().text("*** O$ record ignored: geometry index ").i32(k).str());
    return;
  }
  auto& offsets = run.station.RtmOffsets[index(k - 1)];
  for (std::size_t i = 0; i < offsets.size(); ++i) offsets[i] = values[i] / 1000.0f;
}

void handle_reference(Run& run) {
  Station& s = run.station;
  RefState& r = run.ref;
  run.keep.ref_seen = true;
  std::array<std::int32_t, 7> v{};
  const bool ok = fmt::read<"3X,7I8">(run.line, {v[0], v[1], v[2], v[3], v[4], v[5], v[6]});
  const std::array<std::int32_t, 4> now{s.Hour, s.Minute, s.Second, s.Millisecond};
  if (now == r.stamp) {
    if (ok) {
      r.second = v;
      r.pair_complete = true;
      r.pair_mode = true;
    }
  } else if (ok) {
    r.first = v;
    ++r.pair_count;
    r.stamp = now;
    r.pair_complete = false;
  }
  if (!ok) put_line("Error during read of R$ packet");
  if (r.pair_complete && r.pair_mode) {
    write_reference_line(run, true);
  } else if (!r.pair_mode || r.pair_complete) {
    write_reference_line(run, false);
  }
}

void handle_aux(Run& run) {
  const bool read = read_station(run, [&](Station& s) {
    return fmt::read<"3X,3I6,1X,3I6,1X,I6">(
        run.line, {s.AuxA[0], s.AuxA[1], s.AuxA[2], s.AuxB[0], s.AuxB[1], s.AuxB[2], s.AuxC});
  });
  if (read) write_aux_line(run);
}

void handle_status(Run& run) {
  const std::string& line = run.line;
  const bool read = read_station(run, [&](Station& s) {
    bool ok = true;
    switch (record_length(line)) {
      case 21:
        ok =
            fmt::read<"3X,3I2,1X,F5.3,1X,F5.1">(line, {s.Hour, s.Minute, s.Second, s.Voltage, s.Temperature});
        break;
      case 34:
        ok = fmt::read<"3X,3I2,1X,I5,1X,I5,1X,2I6">(
            line, {s.Hour, s.Minute, s.Second, s.raw_voltage, s.raw_temperature, s.raw_pitch, s.raw_roll});
        if (ok) {
          s.Voltage = static_cast<float>(s.raw_voltage) / 1000.0f;
          s.Temperature = static_cast<float>(s.raw_temperature) / 100.0f;
          s.Pitch = static_cast<float>(s.raw_pitch) / 100.0f;
          s.Roll = static_cast<float>(s.raw_roll) / 100.0f;
        }
        break;
      default:
        report_packet_error("S$ packet error:", line);
        break;
    }
    return ok;
  });
  Station& s = run.station;
  if (read && s.Temperature > 1000.0f) s.Temperature /= 10.0f;
}

// ---- measurement records ---------------------------------------------------------------

void set_status_from_raw(Station& s) {
  s.Voltage = static_cast<float>(s.raw_voltage) / 1000.0f;
  s.Temperature = static_cast<float>(s.raw_temperature) / 100.0f;
}

void set_angles_tenths(Station& s) {
  s.Pitch = static_cast<float>(s.raw_pitch) / 10.0f;
  s.Roll = static_cast<float>(s.raw_roll) / 10.0f;
}

void set_angles_by_rule(Station& s) {
  s.Pitch = angle_from_raw(s.raw_pitch);
  s.Roll = angle_from_raw(s.raw_roll);
}

// NULD and RAW readings need the coil spacings: without a configuration from
// the header the operator gives the length code.
LengthCodeNeeded configuration_needed(const Run& run) {
  const bool needed = is_nuld_or_raw(run.station.DataType) && !spacing_known(run.config);
  return needed ? LengthCodeNeeded::full : LengthCodeNeeded::none;
}

SurveyRecord station_read(StationKind kind, LengthCodeNeeded needs = LengthCodeNeeded::none) {
  SurveyRecord record;
  record.station = kind;
  record.needs = needs;
  return record;
}

SurveyRecord read_t(Run& run) {
  const std::string& line = run.line;
  const bool read = read_station(run, [&](Station& s) {
    bool ok = true;
    switch (record_length(line)) {
      case 58:
        ok = fmt::read<"3X,3I2,1X,I6,1X,A4,1X,6I6">(
            line, {s.Hour, s.Minute, s.Second, s.StationNumber, s.DataType, s.ExtraA, s.ExtraB, s.RawHQ[0],
                   s.RawHI[0], s.RawPQ[0], s.RawPI[0]});
        if (ok) s.raw_pitch = s.raw_roll = 0;
        break;
      case 65:
        ok = fmt::read<"3X,3I2,1X,I6,1X,A4,1X,6I6,1X,2I3">(
            line, {s.Hour, s.Minute, s.Second, s.StationNumber, s.DataType, s.ExtraA, s.ExtraB, s.RawHQ[0],
                   s.RawHI[0], s.RawPQ[0], s.RawPI[0], s.raw_pitch, s.raw_roll});
        if (ok) set_angles_tenths(s);
        break;
      case 79:
        ok = fmt::read<"3X,3I2,1X,I6,1X,A4,1X,6I6,1X,I5,1X,I5,1X,2I4">(
            line,
            {s.Hour, s.Minute, s.Second, s.StationNumber, s.DataType, s.ExtraA, s.ExtraB, s.RawHQ[0],
             s.RawHI[0], s.RawPQ[0], s.RawPI[0], s.raw_voltage, s.raw_temperature, s.raw_pitch, s.raw_roll});
        if (ok) {
          set_angles_tenths(s);
          set_status_from_raw(s);
        }
        break;
      case 83:
        ok = fmt::read<"3X,3I2,1X,I3,1X,I6,1X,A4,1X,6I6,1X,I5,1X,I5,1X,2I4">(
            line, {s.Hour, s.Minute, s.Second, s.Millisecond, s.StationNumber, s.DataType, s.ExtraA, s.ExtraB,
                   s.RawHQ[0], s.RawHI[0], s.RawPQ[0], s.RawPI[0], s.raw_voltage, s.raw_temperature,
                   s.raw_pitch, s.raw_roll});
        if (ok) {
          set_angles_by_rule(s);
          set_status_from_raw(s);
        }
        break;
      default:
        report_packet_error("T$ packet error:", line);
        break;
    }
    return ok;
  });
  if (!read) return {};
  return station_read(StationKind::T, configuration_needed(run));
}

SurveyRecord read_pklvt(Run& run) {
  const std::string& line = run.line;
  const int length = record_length(line);
  SurveyRecord record = station_read(StationKind::Pklvt);
  if (length >= 90 && length <= 101) {
    PklvtFields f;
    if (!fmt::read<"7X,3I2,6(1X,I7),2(1X,I5),2(1X,I6),1X,A4">(
            line, {f.hour, f.minute, f.second, f.hi, f.hq, f.pi, f.pq, f.extra_b, f.extra_a, f.voltage,
                   f.temperature, f.pitch, f.roll, f.data_type})) {
      report_read_error(run);
      return {};
    }
    record.pklvt = std::move(f);
  } else {
    report_packet_error("$PKLVT packet error:", line);
  }
  if (!spacing_known(run.config)) record.needs = LengthCodeNeeded::short_code;
  return record;
}

// The sentence's fields are taken only after the operator's dialogue, which
// clears the voltage and temperature of the station before them.
void convert_pklvt(Run& run, const std::optional<PklvtFields>& fields) {
  Station& s = run.station;
  if (fields) {
    const PklvtFields& f = *fields;
    s.Hour = f.hour;
    s.Minute = f.minute;
    s.Second = f.second;
    s.RawHI[0] = f.hi;
    s.RawHQ[0] = f.hq;
    s.RawPI[0] = f.pi;
    s.RawPQ[0] = f.pq;
    s.ExtraB = f.extra_b;
    s.ExtraA = f.extra_a;
    s.raw_voltage = f.voltage;
    s.raw_temperature = f.temperature;
    s.raw_pitch = f.pitch;
    s.raw_roll = f.roll;
    s.DataType = f.data_type;
    ++s.StationNumber;
    s.Pitch = static_cast<float>(s.raw_pitch) / 100.0f;
    s.Roll = static_cast<float>(s.raw_roll) / 100.0f;
    set_status_from_raw(s);
    run.pklvt_read_ok = true;
  } else if (!run.pklvt_read_ok) {
    s.Pitch = static_cast<float>(s.raw_pitch);
    s.Roll = static_cast<float>(s.raw_roll);
  }
  // The sentence carries millionths; no RTM offsets apply.
  const Config& c = run.config;
  s.HC[0] = (static_cast<float>(s.RawHQ[0]) / 1000.0f) / c.HcpFactor[0];
  s.PC[0] = (static_cast<float>(s.RawPQ[0]) / 1000.0f) / c.PrpFactor[0];
  s.HI[0] = static_cast<float>(s.RawHI[0]) / 1000.0f;
  s.PI[0] = static_cast<float>(s.RawPI[0]) / 1000.0f;
}

SurveyRecord read_d(Run& run) {
  const std::string& line = run.line;
  const float version = run.config.SoftwareVersion;
  const int length = record_length(line);
  const bool read = read_station(run, [&](Station& s) {
    s.DataType = "CONV";
    bool ok = true;
    if (version <= 0.0f) {
      ok = fmt::read<"3X,3I2,1X,I6,A1,1X,I6,A1,I1,1X,4I6">(
          line, {s.Hour, s.Minute, s.Second, s.LineNumber, s.LineMark, s.StationNumber, s.StationMark,
                 s.MarkDigit, s.RawHQ[0], s.RawHI[0], s.RawPQ[0], s.RawPI[0]});
    } else if (version < 5.1f) {
      ok = fmt::read<"3X,3I2,1X,I6,A1,1X,I6,A1,I1,1X,4I6,2(1X,I6)">(
          line,
          {s.Hour, s.Minute, s.Second, s.LineNumber, s.LineMark, s.StationNumber, s.StationMark, s.MarkDigit,
           s.RawHQ[0], s.RawHI[0], s.RawPQ[0], s.RawPI[0], s.raw_voltage, s.raw_temperature});
    } else if (length == 50 || length == 72) {
      ok = fmt::read<"3X,3I2,1X,I6,A1,1X,I6,A1,I1,1X,4I6,2(1X,I5),1X,2I4">(
          line, {s.Hour, s.Minute, s.Second, s.LineNumber, s.LineMark, s.StationNumber, s.StationMark,
                 s.MarkDigit, s.RawHQ[0], s.RawHI[0], s.RawPQ[0], s.RawPI[0], s.raw_voltage,
                 s.raw_temperature, s.raw_pitch, s.raw_roll});
      if (ok && length == 50) set_angles_tenths(s);
      if (ok && length == 72) set_angles_by_rule(s);
    } else if (length == 76) {
      ok = fmt::read<"3X,3I2,1X,I3,1X,I6,A1,1X,I6,A1,I1,1X,4I6,2(1X,I5),1X,2I4">(
          line, {s.Hour, s.Minute, s.Second, s.Millisecond, s.LineNumber, s.LineMark, s.StationNumber,
                 s.StationMark, s.MarkDigit, s.RawHQ[0], s.RawHI[0], s.RawPQ[0], s.RawPI[0], s.raw_voltage,
                 s.raw_temperature, s.raw_pitch, s.raw_roll});
      if (ok) set_angles_by_rule(s);
    }
    if (ok) set_status_from_raw(s);
    return ok;
  });
  if (!read) return {};
  return station_read(StationKind::D);
}

SurveyRecord read_x(Run& run) {
  const Config& c = run.config;
  const std::string& line = run.line;
  const int length = record_length(line);
  const bool read = read_station(run, [&](Station& s) {
    bool ok = true;
    std::size_t groups_at = 0;  // 0-based column of the first reading group
    if (length == 34 || length == 58) {
      ok = fmt::read<"3X,3I2">(line, {s.Hour, s.Minute, s.Second});
      if (ok) s.Millisecond = 0;
      groups_at = 10;
    } else if (length == 38 || length == 62) {
      ok = fmt::read<"3X,3I2,1X,I3">(line, {s.Hour, s.Minute, s.Second, s.Millisecond});
      groups_at = 14;
    } else {
      put_line("X$ read error!");
    }
    if (groups_at > 0) {
      for (int g = 1; ok && g < c.GeometryCount; ++g) {
        const std::string_view group = std::string_view(line).substr(groups_at + 24 * index(g - 1));
        ok = fmt::read<"4I6">(group,
                              {s.RawHQ[index(g)], s.RawHI[index(g)], s.RawPQ[index(g)], s.RawPI[index(g)]});
      }
    }
    return ok;
  });
  if (!read) return {};
  return station_read(StationKind::X, configuration_needed(run));
}

void convert_x(Run& run) {
  Config& c = run.config;
  Station& s = run.station;
  if (is_nuld_or_raw(s.DataType)) compute_factors(c, 2, c.GeometryCount);
  if (c.GeometryCount > 1) convert_by_data_type(run, 2, c.GeometryCount);
  if (is_data_type(s.DataType, "CONV") && c.LengthCode == 620) {
    s.HC[1] *= c.ProtoScaleA;
    s.PC[1] *= c.ProtoScaleB;
  }
}

SurveyRecord read_n(Run& run) {
  Config& c = run.config;
  const std::string& line = run.line;
  const bool read = read_station(run, [&](Station& s) {
    bool ok = fmt::read<"3X,3I2,1X,I5,1X,I5,1X,2I6">(
        line, {s.Hour, s.Minute, s.Second, s.raw_voltage, s.raw_temperature, s.raw_pitch, s.raw_roll});
    // Four more fields: the quadrature pairs of geometries 1 and 2.
    const int pairs = std::min(c.GeometryCount, 2);
    for (int g = 0; ok && g < pairs; ++g) {
      ok = fmt::read<"2I6">(std::string_view(line).substr(34 + 12 * index(g)),
                            {s.RawHQ[index(g)], s.RawPQ[index(g)]});
    }
    return ok;
  });
  if (!read) return {};
  Station& s = run.station;
  for (int g = 0; g < kMaxGeometries; ++g) {
    const auto i = index(g);
    s.HC[i] = static_cast<float>(s.RawHQ[i]) / 10.0f;
    s.PC[i] = static_cast<float>(s.RawPQ[i]) / 10.0f;
    s.HI[i] = static_cast<float>(s.RawHI[i]) / 100.0f;
    s.PI[i] = static_cast<float>(s.RawPI[i]) / 100.0f;
  }
  set_status_from_raw(s);
  s.Pitch = static_cast<float>(s.raw_pitch) / 100.0f;
  s.Roll = static_cast<float>(s.raw_roll) / 100.0f;
  if (c.LengthCode == 620) {
    set_prototype(c);
    s.HC[1] *= c.ProtoScaleA;
    s.PC[1] *= c.ProtoScaleB;
  }
  return station_read(StationKind::N);
}

SurveyRecord read_i(Run& run) {
  Station& s = run.station;
  const Config& c = run.config;
  const std::string& line = run.line;
  std::int32_t hour = 0, minute = 0, second = 0, pitch = 0, roll = 0, height = 0, reading = 0, count = 0;
  if (!fmt::read<"3X,3I2,1X,3I4,1X,I5,1X,I2">(line,
                                              {hour, minute, second, pitch, roll, height, reading, count})) {
    report_read_error(run);
    return {};
  }
  if (count < 0 || count > kEmsChannels) {
    put_line(fmt::FreeLine().text("*** I$ record ignored: channel count ").i32(count).str());
    return {};
  }
  // The first channel is I5 from column 33, the others I6.
  std::array<std::int32_t, kEmsChannels> channels = s.ems_raw;
  for (int k = 0; k < count; ++k) {
    const std::string_view field = k == 0 ? std::string_view(line).substr(32, 5)
                                          : std::string_view(line).substr(37 + 6 * index(k - 1), 6);
    if (!fmt::read_int(field, channels[index(k)])) {
      report_read_error(run);
      return {};
    }
  }
  s.Hour = hour;
  s.Minute = minute;
  s.Second = second;
  s.ems_count = count;
  s.ems_raw = channels;
  if (c.SoftwareVersion < 6.1f && run.dat_records == 0) {
    put_line(fmt::FreeLine().text("EMS software version change").real(c.SoftwareVersion).str());
  }
  constexpr std::array<float, kEmsChannels> kScale{10000.0f, 100.0f, 1000.0f, 100.0f, 1000.0f};
  for (std::size_t k = 0; k < kScale.size(); ++k) {
    s.ems_value[k] = static_cast<float>(s.ems_raw[k]) / kScale[k];
  }
  if (c.SoftwareVersion >= 6.1f) {
    s.raw_pitch = pitch;
    s.raw_roll = roll;
    set_angles_tenths(s);
    run.sensor_height = static_cast<float>(height) / 100.0f;
    s.ems_reading = static_cast<float>(reading) / 10000.0f;
  }
  return station_read(StationKind::I);
}

// True when the record held a GGA sentence.
bool handle_gps(Run& run) {
  GpsState& gps = run.gps_state;
  const std::string_view record = trimmed(run.line);
  gps.previous = gps.text;
  const int p = gga_position(record);
  if (p > 0) {
    const std::string_view sentence = record.substr(static_cast<std::size_t>(p - 1));
    gps.text.assign(sentence.substr(0, std::min<std::size_t>(sentence.size(), kGpsTextLength)));
    READ_GPGGA(gps.text, gps.time, gps.latitude, gps.longitude, gps.fix, gps.satellites, gps.hdop,
               gps.altitude);
    // The sentence as the receiver sent it, from its talker ID on (one
    // buffer for every record: no allocation per sentence).
    std::string& out = run.buffers.sentence;
    out.assign(1, '$').append(gps.text);
    write_gps_line(run, out);
    return true;
  }
  gps.text.assign(record.substr(0, std::min<std::size_t>(record.size(), kGpsTextLength)));
  write_gps_line(run, "$GPG" + std::string(trimmed(columns(record, 4, kLineLength))));
  return false;
}

}  // namespace

float angle_from_raw(std::int32_t raw) {
  if (raw > 320) return static_cast<float>(raw - 300);
  if (raw < -320) return static_cast<float>(raw + 300);
  return static_cast<float>(raw) / 10.0f;
}

bool convert_by_data_type(Run& run, int first, int last) {
  Station& s = run.station;
  const Config& c = run.config;
  const bool conv = is_data_type(s.DataType, "CONV");
  if (!conv && !is_nuld_or_raw(s.DataType)) {
    // Each geometry is a conversion of its own, and each says it failed.
    const std::string refusal = fmt::FreeLine().text("   Data type not implemented ").text(s.DataType).str();
    for (int g = first; g <= last && g <= kMaxGeometries; ++g) put_line(refusal);
    return false;
  }
  for (int g = first; g <= last && g <= kMaxGeometries; ++g) {
    const auto i = index(g - 1);
    const auto& o = s.RtmOffsets[i];
    const float hq = static_cast<float>(s.RawHQ[i]);
    const float pq = static_cast<float>(s.RawPQ[i]);
    if (conv) {
      s.HC[i] = hq / 10.0f - offset_over(o[2], c.HcpFactor[i]);
      s.PC[i] = pq / 10.0f - offset_over(o[3], c.PrpFactor[i]);
    } else {
      s.HC[i] = (hq / 100.0f - o[2]) / c.HcpFactor[i];
      s.PC[i] = (pq / 100.0f - o[3]) / c.PrpFactor[i];
    }
    s.HI[i] = static_cast<float>(s.RawHI[i]) / 100.0f - o[0];
    s.PI[i] = static_cast<float>(s.RawPI[i]) / 100.0f - o[1];
  }
  return true;
}

SurveyRecord read_survey_record(Run& run) {
  const std::string& line = run.line;
  if (has_tag(line, 'O')) {
    handle_offsets(run);
  } else if (has_tag(line, 'R')) {
    handle_reference(run);
  } else if (has_tag(line, 'A')) {
    handle_aux(run);
  } else if (has_tag(line, 'S')) {
    handle_status(run);
  } else if (has_tag(line, 'Z')) {
    put_line("   Normal end of data encountered.");
    SurveyRecord end;
    end.stop = kXlatOk;
    return end;
  } else if (has_tag(line, 'T')) {
    return read_t(run);
  } else if (line.compare(0, 6, "$PKLVT") == 0) {
    return read_pklvt(run);
  } else if (has_tag(line, 'D')) {
    return read_d(run);
  } else if (has_tag(line, 'X')) {
    return read_x(run);
  } else if (has_tag(line, 'N')) {
    return read_n(run);
  } else if (has_tag(line, 'I')) {
    return read_i(run);
  } else if (has_tag(line, 'G')) {
    SurveyRecord gps;
    gps.gps_read = handle_gps(run);
    return gps;
  }
  return {};
}

std::optional<std::int64_t> station_time_of(const std::string& line) {
  std::int32_t hour = 0, minute = 0, second = 0, millisecond = 0;
  bool read = false;
  if (line.compare(0, 6, "$PKLVT") == 0) {
    read = fmt::read<"7X,3I2">(line, {hour, minute, second});
  } else if (line[2] == '$' && std::string_view("TDXNI").find(line[1]) != std::string_view::npos) {
    read = fmt::read<"3X,3I2">(line, {hour, minute, second});
    // The layouts that carry milliseconds, by tag and trimmed length.
    const int length = record_length(line);
    const bool with_ms = (line[1] == 'T' && length == 83) || (line[1] == 'D' && length == 76) ||
                         (line[1] == 'X' && (length == 38 || length == 62));
    if (read && with_ms) read = fmt::read<"10X,I3">(line, {millisecond});
  }
  if (!read) return std::nullopt;
  return ((static_cast<std::int64_t>(hour) * 60 + minute) * 60 + second) * 1000 + millisecond;
}

void convert_station(Run& run, const SurveyRecord& record) {
  if (!record.station) return;
  switch (*record.station) {
    case StationKind::T:
    case StationKind::D:
      convert_by_data_type(run, 1, 1);
      break;
    case StationKind::X:
      convert_x(run);
      break;
    case StationKind::Pklvt:
      convert_pklvt(run, record.pklvt);
      break;
    case StationKind::N:  // converted as read: nothing waits on the operator
    case StationKind::I:
      break;
  }
}

}  // namespace kal::xlat

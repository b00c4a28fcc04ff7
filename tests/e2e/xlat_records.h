// Builders of RAW records as the sensor writes them: the tag from column 1
// ("T$...") so that the transcription's tag normalisation shifts them one
// column right; two-letter tags ("AS$") and the "$PKLVT" sentence stand as
// they are. Column comments count the normalised record.
#pragma once

#include <array>
#include <string>
#include <string_view>
#include <vector>

#include "e2e/xlat_harness.h"

namespace kal::xtest {

inline std::string num(long long v, std::size_t width) { return right(std::to_string(v), width); }

// File header: time (cols 4-9), survey name (11-18), date (20-25), length
// code from col 27 (omitted when empty).
inline std::string header_rec(std::string_view time, std::string_view name, std::string_view date,
                              std::string_view code) {
  std::string r = "H$" + std::string(time) + " " + left(name, 8) + " " + std::string(date);
  if (!code.empty()) r += " " + std::string(code);
  return r;
}

// Header record C$: time (cols 4-9), text from col 11.
inline std::string c_rec(std::string_view time, std::string_view text) {
  return "C$" + std::string(time) + " " + std::string(text);
}

using Six = std::array<int, 6>;   // ExtraA, ExtraB, HQ, HI, PQ, PI
using Four = std::array<int, 4>;  // HQ, HI, PQ, PI

inline std::string six(const Six& r) {
  std::string s;
  for (int v : r) s += num(v, 6);
  return s;
}

inline std::string four(const Four& r) {
  std::string s;
  for (int v : r) s += num(v, 6);
  return s;
}

// T$ of 58 columns: 3I2 time, 1X, I6 station, 1X, A4 type, 1X, six I6.
inline std::string t58(std::string_view time, int station, std::string_view type, const Six& r) {
  return "T$" + std::string(time) + " " + num(station, 6) + " " + std::string(type) + " " + six(r);
}
// T$ of 65 columns: as 58, then 1X, 2I3 raw pitch and roll.
inline std::string t65(std::string_view time, int station, std::string_view type, const Six& r,
                       int pitch, int roll) {
  return t58(time, station, type, r) + " " + num(pitch, 3) + num(roll, 3);
}
// T$ of 79 columns: as 58, then 1X, I5 mV, 1X, I5 temperature, 1X, 2I4.
inline std::string t79(std::string_view time, int station, std::string_view type, const Six& r,
                       int mv, int temp, int pitch, int roll) {
  return t58(time, station, type, r) + " " + num(mv, 5) + " " + num(temp, 5) + " " +
         num(pitch, 4) + num(roll, 4);
}
// T$ of 83 columns: time, 1X, I3 ms, 1X, I6 station, 1X, A4, 1X, six I6,
// 1X, I5 mV, 1X, I5 temperature, 1X, 2I4.
inline std::string t83(std::string_view time, int ms, int station, std::string_view type,
                       const Six& r, int mv, int temp, int pitch, int roll) {
  return "T$" + std::string(time) + " " + num(ms, 3) + " " + num(station, 6) + " " +
         std::string(type) + " " + six(r) + " " + num(mv, 5) + " " + num(temp, 5) + " " +
         num(pitch, 4) + num(roll, 4);
}

// X$ short (34/58 columns) and with milliseconds (38/62).
inline std::string x_rec(std::string_view time, const std::vector<Four>& groups) {
  std::string r = "X$" + std::string(time) + " ";
  for (const auto& g : groups) r += four(g);
  return r;
}
inline std::string x_rec_ms(std::string_view time, int ms, const std::vector<Four>& groups) {
  std::string r = "X$" + std::string(time) + " " + num(ms, 3) + " ";
  for (const auto& g : groups) r += four(g);
  return r;
}

// D$ of 51 columns (no software version): time, 1X, I6 line, A1 mark, 1X,
// I6 station, A1 mark, I1 digit, 1X, 4I6.
inline std::string d51(std::string_view time, int line, char line_mark, int station,
                       char station_mark, int digit, const Four& r) {
  return "D$" + std::string(time) + " " + num(line, 6) + std::string(1, line_mark) + " " +
         num(station, 6) + std::string(1, station_mark) + std::to_string(digit) + " " + four(r);
}
// D$ of 72 columns (version 5.1 on): as 51, 1X, I5 mV, 1X, I5 temp, 1X, 2I4.
inline std::string d72(std::string_view time, int line, char line_mark, int station,
                       char station_mark, int digit, const Four& r, int mv, int temp, int pitch,
                       int roll) {
  return d51(time, line, line_mark, station, station_mark, digit, r) + " " + num(mv, 5) + " " +
         num(temp, 5) + " " + num(pitch, 4) + num(roll, 4);
}

// N$ of 58 columns: time, 1X, I5 mV, 1X, I5 temp, 1X, six I6 (pitch, roll,
// HQ1, PQ1, HQ2, PQ2).
inline std::string n_rec(std::string_view time, int mv, int temp, const Six& r) {
  return "N$" + std::string(time) + " " + num(mv, 5) + " " + num(temp, 5) + " " + six(r);
}

// AS$ of 34 columns: "AS$", time, 1X, I5 mV, 1X, I5 temp, 1X, 2I6.
inline std::string as34(std::string_view time, int mv, int temp, int pitch, int roll) {
  return "AS$" + std::string(time) + " " + num(mv, 5) + " " + num(temp, 5) + " " + num(pitch, 6) +
         num(roll, 6);
}
// AS$ of 21 columns: "AS$", time, 1X, F5.3 text, 1X, F5.1 text.
inline std::string as21(std::string_view time, std::string_view volts, std::string_view temp) {
  return "AS$" + std::string(time) + " " + right(volts, 5) + " " + right(temp, 5);
}

// A$: 3X, 3I6, 1X, 3I6, 1X, I6.
inline std::string a_rec(const std::array<int, 3>& a, const std::array<int, 3>& b, int c) {
  return "A$" + num(a[0], 6) + num(a[1], 6) + num(a[2], 6) + " " + num(b[0], 6) + num(b[1], 6) +
         num(b[2], 6) + " " + num(c, 6);
}

// R$: 3X, 7 I8.
inline std::string r_rec(const std::array<int, 7>& v) {
  std::string r = "R$";
  for (int x : v) r += num(x, 8);
  return r;
}

// G$ carrying a GGA sentence (its "$" dropped): the name from column 4.
inline std::string g_rec(std::string_view body) { return "G$" + with_checksum(body); }

}  // namespace kal::xtest

// The termios speed codes of this system and the rates they stand for: one
// table for the serial service, the simulated sensor and the tests that
// open its line. POSIX only.
#pragma once

#include <termios.h>

#include <cstdint>

namespace kal {

struct TermiosSpeed {
  speed_t code;
  std::int32_t baud;
};

// Every rate this system knows (B0, "hang up", is deliberately absent).
inline constexpr TermiosSpeed kTermiosSpeeds[] = {
    {B50, 50},         {B75, 75},         {B110, 110},       {B134, 134},
    {B150, 150},       {B200, 200},       {B300, 300},       {B600, 600},
    {B1200, 1200},     {B1800, 1800},     {B2400, 2400},     {B4800, 4800},
    {B9600, 9600},     {B19200, 19200},   {B38400, 38400},
#ifdef B57600
    {B57600, 57600},
#endif
#ifdef B115200
    {B115200, 115200},
#endif
#ifdef B230400
    {B230400, 230400},
#endif
#ifdef B460800
    {B460800, 460800},
#endif
#ifdef B500000
    {B500000, 500000},
#endif
#ifdef B576000
    {B576000, 576000},
#endif
#ifdef B921600
    {B921600, 921600},
#endif
#ifdef B1000000
    {B1000000, 1000000},
#endif
#ifdef B1152000
    {B1152000, 1152000},
#endif
#ifdef B1500000
    {B1500000, 1500000},
#endif
#ifdef B2000000
    {B2000000, 2000000},
#endif
#ifdef B2500000
    {B2500000, 2500000},
#endif
#ifdef B3000000
    {B3000000, 3000000},
#endif
#ifdef B3500000
    {B3500000, 3500000},
#endif
#ifdef B4000000
    {B4000000, 4000000},
#endif
};

// The rate of a speed code; 0 for one not in the table.
inline std::int32_t baud_of(speed_t code) {
  for (const TermiosSpeed& s : kTermiosSpeeds)
    if (s.code == code) return s.baud;
  return 0;
}

// The speed code of a rate; false for a rate the system has no code for.
inline bool speed_of(std::int32_t baud, speed_t& code) {
  for (const TermiosSpeed& s : kTermiosSpeeds) {
    if (s.baud == baud) {
      code = s.code;
      return true;
    }
  }
  return false;
}

}  // namespace kal

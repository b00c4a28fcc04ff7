// Command line of the simulated sensor.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace kal::sim {

// One disturbance of the wire, tied to the line of the upload it precedes or
// alters (lines counted from 1 in the order they are sent).
struct Noise {
  enum class Kind {
    junk,   // a garbage line of `size` random bytes (ended by CR LF) before the line
    long_line,  // the line sent once padded with blanks to `size` characters
    nul,    // the line sent once with two NUL bytes inside it
    cr_only,  // the line sent once ended by CR alone
    burst,  // `size` random bytes without any line end before the line
    cut,    // the byte at column `size` (0: the middle) turned into CR
    flip,   // the byte at column `size` (0: the middle) with its top bit flipped
    drop,   // the byte at column `size` (0: the middle) left out; the line's
            // CR is column length+1, its LF length+2
    after,  // `size` random bytes right after the line's CR LF
    tail,   // the line's last 8 characters and its CR LF held back `size` ms
    join    // the line sent once without its line end, run into the next line
  };
  Kind kind = Kind::junk;
  std::int32_t line = 0;
  std::int32_t size = 0;
};

struct SimOptions {
  std::string dir;                    // folder that receives the COM<n> link
  std::int32_t port = 0;              // n of COM<n>
  std::string memory_file;            // --memory: lines as the sensor stores them
  std::int32_t builtin_lines = 200;   // size of the built-in survey otherwise
  std::int32_t baud = 38400;          // rate the sensor listens at when started
  std::string reply = "KALVOR READY"; // answer to the query frame
  std::int32_t cold_start = 0;        // queries ignored before the first answer
  std::int32_t corrupt_line = 0;      // 0: none
  std::int32_t silent_after = 0;      // 0: never
  std::int32_t hangup_after = 0;      // 0: never
  bool pace = false;                  // send at 10 bits per byte of the current rate
  bool byte_writes = false;           // paced, and each byte in a write of its own
  bool noise_every_sending = false;   // faults strike every sending, not the first only
  std::int32_t reply_delay_ms = 0;    // idle time before each sending of an upload line
  std::string trace_file;             // empty: no trace
  std::uint32_t seed = 1;             // random source of the noise bytes
  std::vector<Noise> noise;
  bool help = false;
};

// Parses argv[1..]; on failure returns false with a one-line reason in `error`.
bool parse_options(int argc, const char* const* argv, SimOptions& options, std::string& error);

// The --help text, including the trace format other tools rely on.
std::string usage_text();

// The sensor's rates, by set-baud code 0..7.
inline constexpr std::int32_t kBaudByCode[8] = {1200,  2400,  4800,  9600,
                                                 19200, 38400, 57600, 115200};
bool is_sensor_rate(std::int32_t baud);

}  // namespace kal::sim

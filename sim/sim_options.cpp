#include "sim_options.h"

#include <charconv>
#include <string_view>

namespace kal::sim {
namespace {

bool parse_number(std::string_view text, std::int32_t& value) {
  if (text.empty()) return false;
  const char* end = text.data() + text.size();
  auto [ptr, ec] = std::from_chars(text.data(), end, value);
  return ec == std::errc() && ptr == end;
}

bool parse_count(std::string_view text, std::int32_t& value) {
  return parse_number(text, value) && value >= 0;
}

// "kind:line[:size]"
bool parse_noise(std::string_view text, Noise& noise, std::string& error) {
  const auto first = text.find(':');
  if (first == std::string_view::npos) {
    error = "--noise needs KIND:LINE[:SIZE]";
    return false;
  }
  const std::string_view kind = text.substr(0, first);
  std::string_view rest = text.substr(first + 1);
  std::string_view size_text;
  if (const auto second = rest.find(':'); second != std::string_view::npos) {
    size_text = rest.substr(second + 1);
    rest = rest.substr(0, second);
  }
  struct KindName {
    std::string_view name;
    Noise::Kind kind;
    std::int32_t default_size;
  };
  static constexpr KindName kinds[] = {{"junk", Noise::Kind::junk, 20},
                                       {"long", Noise::Kind::long_line, 300},
                                       {"nul", Noise::Kind::nul, 0},
                                       {"cr", Noise::Kind::cr_only, 0},
                                       {"burst", Noise::Kind::burst, 4096},
                                       {"cut", Noise::Kind::cut, 0},
                                       {"flip", Noise::Kind::flip, 0},
                                       {"drop", Noise::Kind::drop, 0},
                                       {"after", Noise::Kind::after, 20},
                                       {"tail", Noise::Kind::tail, 10},
                                       {"join", Noise::Kind::join, 0}};
  const KindName* found = nullptr;
  for (const auto& k : kinds) {
    if (k.name == kind) found = &k;
  }
  if (found == nullptr) {
    error = "unknown --noise kind (junk, long, nul, cr, burst, cut, flip, drop, after, tail, join)";
    return false;
  }
  noise.kind = found->kind;
  noise.size = found->default_size;
  if (!parse_count(rest, noise.line) || noise.line < 1) {
    error = "--noise line must be a number from 1";
    return false;
  }
  if (!size_text.empty() && (!parse_count(size_text, noise.size) || noise.size < 1 ||
                             noise.size > 1000000)) {
    error = "--noise M must be a number from 1 to 1000000";
    return false;
  }
  return true;
}

}  // namespace

bool is_sensor_rate(std::int32_t baud) {
  for (std::int32_t rate : kBaudByCode) {
    if (rate == baud) return true;
  }
  return false;
}

bool parse_options(int argc, const char* const* argv, SimOptions& options, std::string& error) {
  bool have_dir = false;
  bool have_port = false;
  bool have_builtin = false;
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    auto value = [&](std::string_view& out) {
      if (i + 1 >= argc) {
        error = std::string(arg) + " needs a value";
        return false;
      }
      out = argv[++i];
      return true;
    };
    auto count = [&](std::int32_t& out) {
      std::string_view text;
      if (!value(text)) return false;
      if (!parse_count(text, out)) {
        error = std::string(arg) + " needs a number from 0";
        return false;
      }
      return true;
    };
    std::string_view text;
    if (arg == "--help" || arg == "-h") {
      options.help = true;
    } else if (arg == "--dir") {
      if (!value(text)) return false;
      options.dir = text;
      have_dir = !text.empty();
    } else if (arg == "--port") {
      if (!count(options.port)) return false;
      have_port = true;
    } else if (arg == "--memory") {
      if (!value(text)) return false;
      options.memory_file = text;
    } else if (arg == "--builtin-lines") {
      if (!count(options.builtin_lines)) return false;
      have_builtin = true;
    } else if (arg == "--baud") {
      if (!count(options.baud)) return false;
      if (!is_sensor_rate(options.baud)) {
        error = "--baud must be one of 1200 2400 4800 9600 19200 38400 57600 115200";
        return false;
      }
    } else if (arg == "--reply") {
      if (!value(text)) return false;
      options.reply = text;
    } else if (arg == "--cold-start") {
      if (!count(options.cold_start)) return false;
    } else if (arg == "--corrupt-line") {
      if (!count(options.corrupt_line)) return false;
    } else if (arg == "--silent-after") {
      if (!count(options.silent_after)) return false;
    } else if (arg == "--hangup-after") {
      if (!count(options.hangup_after)) return false;
    } else if (arg == "--pace") {
      options.pace = true;
    } else if (arg == "--byte-writes") {
      options.pace = true;
      options.byte_writes = true;
    } else if (arg == "--noise-every-sending") {
      options.noise_every_sending = true;
    } else if (arg == "--reply-delay") {
      if (!count(options.reply_delay_ms)) return false;
    } else if (arg == "--trace") {
      if (!value(text)) return false;
      options.trace_file = text;
    } else if (arg == "--seed") {
      std::int32_t seed = 0;
      if (!count(seed)) return false;
      options.seed = static_cast<std::uint32_t>(seed);
    } else if (arg == "--noise") {
      if (!value(text)) return false;
      Noise noise;
      if (!parse_noise(text, noise, error)) return false;
      options.noise.push_back(noise);
    } else {
      error = "unknown option " + std::string(arg);
      return false;
    }
  }
  if (options.help) return true;
  if (!have_dir || !have_port || options.port < 1) {
    error = "--dir D and --port N (from 1) are required";
    return false;
  }
  if (!options.memory_file.empty() && have_builtin) {
    error = "--memory and --builtin-lines exclude each other";
    return false;
  }
  return true;
}

std::string usage_text() {
  return R"(kalvor-sim: a simulated Kalvor ground-conductivity sensor on a pseudo-terminal.

Usage: kalvor-sim --dir D --port N [options]

Publishes the sensor's serial line as the link D/COM<N> (D is created when
missing), prints "PORT_DIR=D" and "PORT=COM<N>" when ready, and serves until
SIGTERM or SIGINT (the link is then removed) or until the hang-up fault.
Point the host at it with KALFETCH_PORT_DIR=D and port N.

The sensor listens only at its own rate; bytes sent while the host's port is
set to another speed are discarded (a real sensor would see garbage).

Options:
  --memory FILE        memory: the lines of FILE (LF or CR LF ends); the
                       clear-memory frame empties FILE
  --builtin-lines N    memory: a built-in survey of N lines (default 200;
                       at least 12): identification, two comments, survey
                       files LINE0001 and LINE0002 of a three-geometry
                       instrument, status and GGA lines, ending "Z$"
  --baud B             starting rate (default 38400)
  --reply TEXT         answer to the query (default "KALVOR READY")
  --cold-start K       ignore the first K queries
  --corrupt-line I     send upload line I once with its "$" replaced by "#"
  --silent-after I     send nothing more after upload line I
  --hangup-after I     send upload line I, then close the line as soon as
                       the host answers it (so the line is surely read; at
                       the latest 10 s after sending it) and exit
  --pace               send at the real byte rate (10 bits a byte); the bytes
                       due go to the host together
  --byte-writes        --pace, and every byte goes to the host in a write of
                       its own at its time, as a UART (or a USB adapter in
                       low-latency mode) hands them over; a sending the
                       machine held up follows one byte a write, back to back
  --noise KIND:I[:M]   disturb upload line I once; repeatable. KIND is
                       junk  (a garbage line of M random bytes, default 20,
                              ended by CR LF, sent before line I),
                       long  (line I padded with blanks to M characters,
                              default 300),
                       nul   (line I with two NUL bytes inside),
                       cr    (line I ended by CR alone),
                       burst (M random bytes, default 4096, without a line
                              end, sent before line I),
                       cut   (the byte at column M of line I turned into CR,
                              default the middle; the rest follows),
                       flip  (the byte at column M of line I, default the
                              middle, with its top bit flipped),
                       drop  (the byte at column M of line I left out,
                              default the middle; M = length+1 is its CR,
                              length+2 its LF),
                       after (M random bytes, default 20, sent right after
                              line I's CR LF),
                       tail  (the last 8 characters of line I and its CR LF
                              sent M ms, default 10, after the rest)
                       join  (line I without its CR LF, run into line I+1
                              and its CR LF, as one sending of line I)
  --reply-delay MS     begin each sending of an upload line MS ms after the
                       answer (or start frame) that asked for it, as a slow
                       sensor does
  --noise-every-sending
                       the --noise faults and --corrupt-line strike every
                       sending of their line, repeats too (a cable that
                       damages the line each time: it is never accepted)
  --seed S             seed of the random noise bytes (default 1)
  --trace FILE         write one line per event to FILE
  --help               this text

Upload lines are counted from 1 in the order sent; a memory without a line
starting "Z$" gets one at its end.

Trace format (one event per line, fields separated by one blank):
  MS DIR SPEED HEX... | TEXT
  MS     milliseconds since the start
  DIR    H> bytes from the host that the sensor heard (one frame or command
            per line: "AA 80 55", "34", "EE EE", "4E", "52", ...)
         H! bytes from the host that the sensor discarded (wrong speed,
            shut down or fallen silent)
         S> bytes the sensor sent (one line per reply or upload line,
            timed when its sending begins)
         -- a note on the sensor's state (then TEXT follows SPEED directly)
  SPEED  the speed the host's port was set to when the event happened
  HEX    the bytes as two upper-case hex digits each
  TEXT   the same bytes, printable ones as they are, others as "."
During an upload the notes record each answer: "line I accepted" (an N),
"line I asked again" (an R), and, when an answer came for a sending the
host had already answered, "second answer to one sending of line I"; an
answer that came before the sending's last byte had left is noted
"answer before the end of line I". With --pace, a sending the machine held
up (the simulator got the processor too late) is noted "sending held up
MS ms": the host may have taken the pause for the end of a line.
Example:  12345 H> 38400 AA 81 05 55 | ....
          12446 -- 38400 rate 38400 -> 38400
)";
}

}  // namespace kal::sim

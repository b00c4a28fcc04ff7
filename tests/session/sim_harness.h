// Helpers for running the session against the simulated sensor: a temporary
// working folder, the kalvor-sim process on a pseudo-terminal and its wire
// trace.
#pragma once

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "support/run_program.h"
#include "support/temp_dir.h"
#include "support/text_files.h"

namespace kal::test {

// Names of the plain files in `dir`, sorted.
inline std::vector<std::string> files_in(const std::filesystem::path& dir) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(dir)) {
    if (entry.is_regular_file()) names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

// A fresh folder that is the working folder while the object lives.
struct TempCwd : TempDir {
  TempCwd() : TempDir("kalsession", Cwd::enter) {}
};

// Sets an environment variable while the object lives.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const std::string& value) : name_(name) {
    if (const char* old = std::getenv(name)) {
      had_ = true;
      old_ = old;
    }
    setenv(name, value.c_str(), 1);
  }
  ~ScopedEnv() {
    if (had_) {
      setenv(name_, old_.c_str(), 1);
    } else {
      unsetenv(name_);
    }
  }
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

 private:
  const char* name_;
  bool had_ = false;
  std::string old_;
};

// The simulated sensor as a child process.
class SimProcess {
 public:
  // Starts kalvor-sim with `--dir dir --port port` and `extra`; waits for
  // its "PORT=COM<n>" line. False when it did not come up.
  bool start(const std::filesystem::path& dir, int port, const std::vector<std::string>& extra) {
    std::vector<std::string> args = {std::string(KAL_BIN_DIR) + "/kalvor-sim", "--dir",
                                     dir.string(), "--port", std::to_string(port)};
    args.insert(args.end(), extra.begin(), extra.end());
    // A test process that dies must not leave the sensor running (it would
    // hold the test's output open).
    ChildOptions options;
    options.die_with_parent = true;
    if (!child_.start(args, options)) return false;
    child_.close_stdin();  // the sensor reads only its port
    const std::string wanted = "PORT=COM" + std::to_string(port);
    std::string seen;
    char c = 0;
    while (::read(child_.stdout_fd(), &c, 1) == 1) {
      seen.push_back(c);
      if (seen.find(wanted + "\n") != std::string::npos) return true;
    }
    return false;
  }

  // True while the simulator runs.
  bool running() { return child_.running(); }
  // Waits up to `limit` for the simulator to end by itself.
  bool ends_within(std::chrono::milliseconds limit) { return child_.ends_within(limit); }
  void stop() { child_.stop(); }

 private:
  ChildProcess child_;
};

// One event of the simulator's wire trace.
struct WireEvent {
  long ms = 0;
  std::string dir;    // "H>", "H!", "S>" or "--"
  int speed = 0;      // the host's port speed at the time
  std::string bytes;  // decoded from the hex digits (empty for notes)
  std::string note;   // text of a "--" note
};

inline std::vector<WireEvent> read_trace(const std::filesystem::path& path) {
  std::vector<WireEvent> events;
  std::istringstream in(read_file(path));
  std::string line;
  while (std::getline(in, line)) {
    std::istringstream fields(line);
    WireEvent e;
    fields >> e.ms >> e.dir >> e.speed;
    if (e.dir == "--") {
      std::getline(fields, e.note);
      if (!e.note.empty() && e.note[0] == ' ') e.note.erase(0, 1);
    } else {
      std::string hex;
      while (fields >> hex && hex != "|") {
        e.bytes.push_back(static_cast<char>(std::stoi(hex, nullptr, 16)));
      }
    }
    events.push_back(e);
  }
  return events;
}

// The frames the sensor heard from the host, in order, as "SPEED:HEX HEX".
inline std::vector<std::string> heard_frames(const std::vector<WireEvent>& events) {
  std::vector<std::string> frames;
  for (const WireEvent& e : events) {
    if (e.dir != "H>") continue;
    std::string text = std::to_string(e.speed) + ":";
    for (std::size_t i = 0; i < e.bytes.size(); ++i) {
      static const char kHex[] = "0123456789ABCDEF";
      const unsigned char b = static_cast<unsigned char>(e.bytes[i]);
      if (i > 0) text += ' ';
      text += kHex[b >> 4];
      text += kHex[b & 15];
    }
    frames.push_back(text);
  }
  return frames;
}

}  // namespace kal::test

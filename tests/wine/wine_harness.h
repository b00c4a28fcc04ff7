// One harness for both platforms: each case runs the Linux executable and
// the Windows one (cross-built, under Wine) the same way, in folders of
// their own, and compares what the crew would get: the files (after CR LF
// -> LF, the Windows text files with CR LF line ends), the console, the exit
// status, and for sessions what the simulated sensor heard.
//
// The Windows side runs in the test run's own Wine prefix (started by the
// "wine.start" fixture), with no debug output and no display. A Windows
// session reaches its kalvor-sim through Wine's COM mapping: the link
// <prefix>/dosdevices/com<n> to the simulator's pseudo-terminal.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <future>
#include <map>
#include <regex>
#include <set>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "support/run_program.h"
#include "support/sim_harness.h"
#include "support/temp_dir.h"
#include "support/text_files.h"

namespace kal::winetest {

namespace fs = std::filesystem;
using Lines = std::vector<std::string>;
using test::TempDir;

enum class Platform { linux_host, windows };

inline const char* name_of(Platform p) { return p == Platform::windows ? "Windows" : "Linux"; }

// The settings of every Wine run.
inline std::vector<std::pair<std::string, std::string>> wine_environment() {
  return {{"WINEPREFIX", KAL_WINE_PREFIX}, {"WINEDEBUG", "-all"}, {"WINEDLLOVERRIDES", "mscoree,mshtml="},
          {"DISPLAY", ""}};
}

inline fs::path windows_executable(std::string_view program) {
  return fs::path(KAL_WIN32_DIR) / (std::string(program) + ".exe");
}

struct ProgramRun {
  int status = -1;
  bool timed_out = false;
  std::string console;  // as written (CR LF on Windows)
};

// `program` (kalxlat, kalfetch5) of platform `p` in `dir`, `input` on its
// standard input, `env` added to its environment.
inline ProgramRun run_on(Platform p, std::string_view program, const std::vector<std::string>& args,
                  const fs::path& dir, const std::string& input,
                  std::vector<std::pair<std::string, std::string>> env = {},
                  std::chrono::milliseconds limit = std::chrono::minutes(3)) {
  std::vector<std::string> argv;
  if (p == Platform::windows) {
    argv = {KAL_WINE, windows_executable(program).string()};
    const auto wine = wine_environment();
    env.insert(env.end(), wine.begin(), wine.end());
  } else {
    argv = {(fs::path(KAL_BIN_DIR) / program).string()};
  }
  argv.insert(argv.end(), args.begin(), args.end());
  const test::ProgramOutcome o = test::run_program(argv, input, {dir, env}, limit);
  return {o.exit_status, o.timed_out, o.out};
}

// ---- comparing ---------------------------------------------------------------------

inline std::string lf_only(std::string text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') continue;
    out.push_back(text[i]);
  }
  return out;
}

// True when every line of `text` ends with CR LF (and nothing follows the last).
inline bool crlf_lines(const std::string& text) {
  if (text.empty()) return true;
  if (text.back() != '\n') return false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\n' && (i == 0 || text[i - 1] != '\r')) return false;
  }
  return true;
}

// The name of the session's RAW file in `dir` (XC<time>-<date>.RAW) without
// its extension; empty when there is none.
inline std::string raw_stem(const fs::path& dir) { return test::session_raw_name(dir).substr(0, 17); }

// What one side's console and files are once the platform's own parts are
// taken out: CR LF as LF, the time-stamped RAW name as "RAWSTEM", the text
// of a lost link's system error as "<error>".
inline std::string stem_named(std::string text, const std::string& stem) {
  if (!stem.empty()) {
    for (std::size_t at = text.find(stem); at != std::string::npos; at = text.find(stem, at)) {
      text.replace(at, stem.size(), "RAWSTEM");
    }
  }
  return text;
}

inline std::string comparable(std::string text, const std::string& stem) {
  text = stem_named(lf_only(std::move(text)), stem);
  static const std::regex lost(R"((\*\*\* Lost the link to the sensor on port [^:]+: ).*( \(error )[0-9]+\))");
  return std::regex_replace(text, lost, "$1<error>$2N)");
}

// The files a run left in `dir` (names with the RAW stem replaced), whole.
inline std::map<std::string, std::string> files_of(const fs::path& dir, const std::string& stem) {
  std::map<std::string, std::string> files;
  std::error_code ec;
  for (const auto& e : fs::directory_iterator(dir, ec)) {
    if (!e.is_regular_file()) continue;
    std::string name = e.path().filename().string();
    if (!stem.empty() && name.rfind(stem, 0) == 0) name = "RAWSTEM" + name.substr(stem.size());
    files[name] = test::read_file(e.path());
  }
  return files;
}

// Files written the same byte for byte everywhere: the ICE binary data, and
// the exports, whose formats fix their line ends (CSV: CR LF; GeoJSON and the
// HTML report: LF).
inline bool same_bytes_everywhere(const std::string& name) {
  for (const char* extension : {".DAT", ".csv", ".geojson", ".html"}) {
    if (name.ends_with(extension)) return true;
  }
  return false;
}

// The same files on both sides: the same names; binary data and exports
// byte for byte, text files after CR LF -> LF, and every Windows text file
// with CR LF line ends. `inputs` are the test's own files, not compared.
inline void expect_same_files(const fs::path& linux_dir, const fs::path& windows_dir,
                              const std::set<std::string>& inputs = {}) {
  const auto on_linux = files_of(linux_dir, raw_stem(linux_dir));
  const auto on_windows = files_of(windows_dir, raw_stem(windows_dir));
  std::set<std::string> linux_names, windows_names;
  for (const auto& [name, bytes] : on_linux) linux_names.insert(name);
  for (const auto& [name, bytes] : on_windows) windows_names.insert(name);
  EXPECT_EQ(windows_names, linux_names);
  for (const auto& [name, bytes] : on_windows) {
    if (inputs.count(name) != 0) continue;
    const auto other = on_linux.find(name);
    if (other == on_linux.end()) continue;
    if (same_bytes_everywhere(name)) {
      // The report names the RAW file, whose name holds the time of the run.
      EXPECT_EQ(stem_named(bytes, raw_stem(windows_dir)), stem_named(other->second, raw_stem(linux_dir))) << name;
      continue;
    }
    EXPECT_TRUE(crlf_lines(bytes)) << name << " has a line without CR LF";
    EXPECT_EQ(comparable(bytes, raw_stem(windows_dir)), comparable(other->second, raw_stem(linux_dir)))
        << name;
  }
}

inline void expect_same_console(const ProgramRun& on_linux, const fs::path& linux_dir, const ProgramRun& on_windows,
                                const fs::path& windows_dir) {
  EXPECT_FALSE(on_windows.timed_out);
  EXPECT_EQ(on_windows.status, on_linux.status);
  EXPECT_EQ(comparable(on_windows.console, raw_stem(windows_dir)),
            comparable(on_linux.console, raw_stem(linux_dir)));
}

// ---- sessions against kalvor-sim ---------------------------------------------------------

// The bytes the sensor heard, one frame or command a line, in order.
using test::heard_lines;

// One side of a session: a fresh simulator with `sim_options`, publishing
// COM<port>, and the folder kalfetch5 runs in.
class SessionSide {
 public:
  SessionSide(Platform p, int port) : platform_(p), port_(port) {}
  ~SessionSide() {
    sim_.stop();
    if (!link_.empty()) {
      std::error_code ec;
      fs::remove(link_, ec);
    }
  }
  SessionSide(const SessionSide&) = delete;
  SessionSide& operator=(const SessionSide&) = delete;

  // Starts the simulator (unless `no_sensor`: then the port does not exist).
  bool start(const Lines& memory, std::vector<std::string> sim_options, bool no_sensor = false) {
    if (!work_.ready()) return false;
    fs::create_directories(run_dir());
    if (no_sensor) return true;
    std::string text;
    for (const std::string& l : memory) text += l + "\n";
    test::write_file(work_.path() / "memory.txt", text);
    std::vector<std::string> args = {"--port", std::to_string(port_), "--memory",
                                     (work_.path() / "memory.txt").string(), "--trace", trace().string()};
    args.insert(args.end(), sim_options.begin(), sim_options.end());
    if (!sim_.start((work_.path() / "ports").string(), args)) return false;
    if (platform_ == Platform::windows) {
      // Wine's COM<n> is the link dosdevices/com<n>, to the device itself.
      link_ = fs::path(KAL_WINE_PREFIX) / "dosdevices" / ("com" + std::to_string(port_));
      std::error_code ec;
      fs::remove(link_, ec);
      fs::create_symlink(fs::canonical(sim_.port_path()), link_, ec);
      if (ec) return false;
    }
    return true;
  }

  ProgramRun run(const std::vector<std::string>& args, const std::string& input) {
    return run_on(platform_, "kalfetch5", args, run_dir(), input, port_environment());
  }

  // Starts kalfetch5 with standard input at its end at once, for a test that
  // acts on it while it runs.
  bool start(test::ChildProcess& child, const std::vector<std::string>& args) const {
    std::vector<std::string> argv;
    auto env = port_environment();
    if (platform_ == Platform::windows) {
      argv = {KAL_WINE, windows_executable("kalfetch5").string()};
      const auto wine = wine_environment();
      env.insert(env.end(), wine.begin(), wine.end());
    } else {
      argv = {(fs::path(KAL_BIN_DIR) / "kalfetch5").string()};
    }
    argv.insert(argv.end(), args.begin(), args.end());
    if (!child.start(argv, {run_dir(), env})) return false;
    child.close_stdin();
    return true;
  }

  std::vector<std::pair<std::string, std::string>> port_environment() const {
    if (platform_ == Platform::windows) return {};
    return {{"KALFETCH_PORT_DIR", (work_.path() / "ports").string()}};
  }

  fs::path run_dir() const { return work_.path() / "run"; }
  fs::path trace() const { return work_.path() / "trace.txt"; }
  std::string memory_now() const { return test::read_file(work_.path() / "memory.txt"); }

 private:
  Platform platform_;
  int port_;
  TempDir work_{"kal-wine"};
  test::SimProcess sim_;
  fs::path link_;
};

// The same session on both platforms at once, each against its own sensor.
struct SessionPair {
  SessionSide linux_side;
  SessionSide windows_side;
  ProgramRun on_linux, on_windows;

  explicit SessionPair(int port) : linux_side(Platform::linux_host, port), windows_side(Platform::windows, port) {}

  bool start(const Lines& memory, const std::vector<std::string>& sim_options, bool no_sensor = false) {
    return linux_side.start(memory, sim_options, no_sensor) && windows_side.start(memory, sim_options, no_sensor);
  }
  void run(const std::vector<std::string>& args, const std::string& input) {
    auto windows = std::async(std::launch::async, [&] { return windows_side.run(args, input); });
    on_linux = linux_side.run(args, input);
    on_windows = windows.get();
  }
  // Files, console, exit status and what each sensor heard: the same.
  void expect_same() {
    expect_same_console(on_linux, linux_side.run_dir(), on_windows, windows_side.run_dir());
    expect_same_files(linux_side.run_dir(), windows_side.run_dir());
    EXPECT_EQ(heard_lines(windows_side.trace()), heard_lines(linux_side.trace()));
  }
};

}  // namespace kal::winetest

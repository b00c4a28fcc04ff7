// The real kalfetch5 executable as an operator's script runs it: arguments,
// answers piped to standard input, the real clock and pacing.
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>

#include <algorithm>
#include <chrono>
#include <ctime>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "expected_lines.h"
#include "link/pty_peer.h"
#include "support/run_program.h"
#include "support/sim_harness.h"

namespace kal {
namespace {

using namespace kal::test;
namespace fs = std::filesystem;

// Runs kalfetch5 in `dir` with `args`, `input` on standard input and
// KALFETCH_PORT_DIR = `port_dir`.
ProgramOutcome run_kalfetch5(const fs::path& dir, const std::vector<std::string>& args,
                             const std::string& input, const fs::path& port_dir) {
  std::vector<std::string> argv = {std::string(KAL_BIN_DIR) + "/kalfetch5"};
  argv.insert(argv.end(), args.begin(), args.end());
  return run_program(argv, input, {dir, {{"KALFETCH_PORT_DIR", port_dir.string()}}});
}

std::vector<std::string> with_program(const std::string& program, const std::vector<std::string>& args) {
  std::vector<std::string> argv = {program};
  argv.insert(argv.end(), args.begin(), args.end());
  return argv;
}

const Lines kUsageText = usage_lines("       38400");
const Lines kReadMoreLines = {
    " Run it in the folder the files are to go to: the RAW file XChhmmss-MMDDYYYY.RAW",
    "   (time of the start, then month, day, year) and every transcription land there.",
    " Keys: q ends the search for the sensor, QQ aborts the transfer, y clears the",
    "   sensor's memory after a complete upload, / accepts the sensor height shown.",
    " Exit status: 0 done, 1 command line, 2 port, 3 no sensor, 4 quit, 5 time-out,",
    "   6 transcription, 7 RAW file, 8 sensor header.",
    " More in the README (/usr/share/doc/kalfetch5/README.md): ports named by their device "
    "(/dev/ttyUSB0), troubleshooting."};

struct BinaryCase {
  const char* name;
  std::vector<std::string> args;
  int exit_status;
  Lines out;
  const char* program = "kalfetch5";
  std::vector<std::string> files_before = {};  // made in the working folder first; none may change
};

const Lines kKalxlatHelp = {
    "kalxlat " KAL_VERSION ": transcribes a RAW file of the Kalvor sensor, once per type letter.",
    "usage: kalxlat RAWFILE [TYPES] [HEIGHT] [--csv] [--geojson] [--report]",
    "               [--antenna-offset ALONG[,ACROSS]] [--gps-lag SECONDS] [--max-hdop HDOP]",
    "  TYPES: output type letters X G D L S P I R (default X); HEIGHT: sensor height in m",
    "  --csv, --geojson: NAME.csv, NAME.geojson per survey file; --report: RAWSTEM.html",
    "  --antenna-offset ALONG[,ACROSS]: metres from the GPS antenna to the sensor, forward",
    "    (negative: towed behind) and to the right; --gps-lag SECONDS: how late a fix reaches",
    "    the RAW file; --max-hdop HDOP: fixes with a larger HDOP place no station",
    "  The outputs are written beside the RAW file. Exit status: 0 when every",
    "  transcription succeeded, 3 when the RAW file cannot be opened, 64 for a wrong",
    "  command line, else the first transcription's error code.",
};

TEST(Kalfetch5Binary, ArgumentErrorsPrintExactlyTheseLinesAndOpenNothing) {
  const BinaryCase table[] = {
      {"R alone", {"R"}, 1,
       kBannerLines + Lines{" portset= F baudset= F and LGFset= T"} + kUsageText + kRestoreLines +
           kNothingUploaded + Lines{"Exiting..."}},
      {"too many", {"a", "b", "c", "d", "e"}, 1,
       kBannerLines + Lines{" ERROR: TOO MANY ARGUMENTS"} + kNothingUploaded + Lines{"Exiting..."}},
      // Help touches no port (a laptop's own COM1 would mean minutes of
      // probing): the usage text, where to read more, status 0.
      {"--help", {"--help"}, 0, kUsageText + kReadMoreLines},
      {"-?", {"X", "-?"}, 0, kUsageText + kReadMoreLines},
      {"/?", {"/?"}, 0, kUsageText + kReadMoreLines},
      {"--version", {"--version"}, 0,
       {"kalfetch5 " KAL_VERSION " (Program KALFETCH5 V1.18, transcription v1.22)"}},
      // A typo with dashes is refused before any port or file is touched.
      {"--hlep", {"--hlep"}, 1,
       kBannerLines + Lines{" ERROR: NOT AN OPTION OF KALFETCH5: --hlep"} + kUsageText +
           kNothingUploaded + Lines{"Exiting..."}},
      {"--csv after a format", {"X", "--csv"}, 1,
       kBannerLines + Lines{" ERROR: NOT AN OPTION OF KALFETCH5: --csv"} + kUsageText +
           kNothingUploaded + Lines{"Exiting..."}},
      // kalxlat: help and version before anything else, even after a RAW name
      // that exists (it is not read, no output is written beside it).
      {"kalxlat --help", {"--help"}, 0, kKalxlatHelp, "kalxlat"},
      {"kalxlat -h", {"-h"}, 0, kKalxlatHelp, "kalxlat"},
      {"kalxlat /?", {"/?"}, 0, kKalxlatHelp, "kalxlat"},
      {"kalxlat RAW --help", {"survey.RAW", "XG", "--help"}, 0, kKalxlatHelp, "kalxlat",
       {"survey.RAW"}},
      {"kalxlat --version", {"--version"}, 0, {"kalxlat " KAL_VERSION " (transcription v1.22)"},
       "kalxlat"},
      // One transcription per letter of "-csv" would write .SAN files: refused.
      {"kalxlat -csv", {"survey.RAW", "-csv"}, 64,
       {"kalxlat: -csv is not an option (kalxlat --help lists them)"}, "kalxlat", {"survey.RAW"}},
      {"kalxlat --hlep", {"survey.RAW", "--hlep"}, 64,
       {"kalxlat: --hlep is not an option (kalxlat --help lists them)"}, "kalxlat", {"survey.RAW"}},
      {"kalxlat -x first", {"-x", "survey.RAW"}, 64,
       {"kalxlat: -x is not an option (kalxlat --help lists them)"}, "kalxlat", {"survey.RAW"}},
      // A missing RAW file is told before the height prompt, with the reason.
      {"kalxlat missing RAW", {"nothere.RAW"}, 3,
       {"cannot open nothere.RAW: No such file or directory"}, "kalxlat"},
      {"kalxlat missing RAW, two types", {"nothere.RAW", "XG", "0.3"}, 3,
       {"cannot open nothere.RAW: No such file or directory"}, "kalxlat"},
  };
  for (const BinaryCase& c : table) {
    SCOPED_TRACE(c.name);
    TempCwd cwd;
    ASSERT_TRUE(cwd.ready());
    for (const std::string& name : c.files_before) write_file(cwd.path() / name, "not read\n");
    const ProgramOutcome o =
        std::string_view(c.program) == "kalfetch5"
            ? run_kalfetch5(cwd.path(), c.args, "", cwd.path())
            : run_program(with_program(KAL_BIN_DIR "/kalxlat", c.args), "", {cwd.path(), {}});
    EXPECT_EQ(o.exit_status, c.exit_status);
    EXPECT_EQ(o.out, joined(c.out));
    // Nothing made, nothing touched: the entries are the files put there first.
    EXPECT_EQ(list_files(cwd.path()), std::set<std::string>(c.files_before.begin(), c.files_before.end()));
    for (const std::string& name : c.files_before)
      EXPECT_EQ(read_file(cwd.path() / name), "not read\n");
  }
}

// About 10 s of power-up wait, 5 s of draining at the probe, the rate change,
// the paced upload, the restore and 5 s at the end.
TEST(Kalfetch5Binary, UploadsAPacedBuiltInSurveyWithScriptedAnswers) {
  TempCwd cwd;
  ASSERT_TRUE(cwd.ready());
  const fs::path ports = cwd.path() / "ports";
  SimProcess sim;
  ASSERT_TRUE(sim.start(ports, 3, {"--builtin-lines", "40", "--pace"}));
  // "n" declines the memory clear, "/" keeps the sensor height.
  const ProgramOutcome o = run_kalfetch5(cwd.path(), {"X", "COM3", "19200"}, "n\n/\n", ports);
  EXPECT_EQ(o.exit_status, 0) << o.out;
  const Lines out = split_lines(o.out);
  auto has = [&](const std::string& line) { return std::find(out.begin(), out.end(), line) != out.end(); };
  EXPECT_TRUE(has(" Instrument detected, communicating at initial baud rate of " + std::string("       38400")));
  EXPECT_TRUE(has(" >Sensor baud rate changed to " + std::string("       19200")));
  // 40 lines, each counted twice: the last progress line is record 80.
  EXPECT_TRUE(has(" Records saved:    80"));
  EXPECT_TRUE(has(">>>Transcribe to file type X"));
  EXPECT_TRUE(has(">>>> Sensor has been shut down..."));

  const std::string raw = session_raw_name(cwd.path());
  ASSERT_FALSE(raw.empty());
  // The transcription's result, then the quick-look report beside the RAW file.
  const std::string report = raw.substr(0, 17) + ".html";
  ASSERT_GE(out.size(), 2u);
  EXPECT_EQ(out[out.size() - 2], "   Data  successfully transcribed!");
  EXPECT_EQ(out.back(), "   Quick-look report: " + report);
  EXPECT_TRUE(fs::exists(cwd.path() / report));
  const Lines raw_lines = split_lines(read_file(cwd.path() / raw));
  EXPECT_EQ(raw_lines.size(), 40u);
  EXPECT_EQ(raw_lines.back(), "Z$");
  for (const std::string& l : raw_lines) EXPECT_EQ(l.substr(1, 1), "$") << l;
}

// What `fd` delivers until `deadline`.
std::string read_until(int fd, std::chrono::steady_clock::time_point deadline) {
  std::string got;
  for (;;) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) return got;
    struct pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, static_cast<int>(left.count())) <= 0) continue;
    char buffer[4096];
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n <= 0) return got;
    got.append(buffer, static_cast<std::size_t>(n));
  }
}

// A sensor that never answers. The program writes its waiting lines, then
// sends the sensor its first byte and waits for a reply: a tenth of a second
// after that byte the lines are on the pipe. Ctrl-C then ends the program.
// About 10 s of power-up wait; run alone, as the tenth of a second is tight
// on a busy machine.
TEST(Kalfetch5BinaryPaced, LinesReachThePipeWhileTheProgramWaitsOnASilentSensor) {
  TempCwd cwd;
  ASSERT_TRUE(cwd.ready());
  testing::PtyPeer sensor(3);  // sets KALFETCH_PORT_DIR for the program
  ASSERT_TRUE(sensor.ok());
  ChildProcess program;
  ASSERT_TRUE(program.start({std::string(KAL_BIN_DIR) + "/kalfetch5", "X", "COM3", "19200"},
                            {cwd.path(), {}}));
  // The first byte of the memory-clear sequence that precedes the query.
  ASSERT_EQ(sensor.receive(1, 30000), "4");
  const auto sent = std::chrono::steady_clock::now();
  const std::string out = read_until(program.stdout_fd(), sent + std::chrono::milliseconds(100));
  const std::string waiting = joined(Lines{testing_line("       38400")} + kPowerUpAdvice + kWaitingForReply);
  EXPECT_TRUE(out.starts_with(joined(kBannerLines))) << out;
  EXPECT_TRUE(out.ends_with(waiting)) << out;

  program.send(SIGINT);
  EXPECT_TRUE(program.ends_within(std::chrono::seconds(10)));
  EXPECT_EQ(program.exit_status(), -1);  // ended by the signal, as Ctrl-C does
}

// Ctrl-C or SIGTERM while the sensor is searched for: the RAW file, created
// and still empty, goes with the program, as it does when q ends the search.
TEST(Kalfetch5Binary, EndingSignalBeforeAnyLineDeletesTheEmptyRawFile) {
  for (const int signal : {SIGINT, SIGTERM}) {
    SCOPED_TRACE(signal);
    TempCwd cwd;
    ASSERT_TRUE(cwd.ready());
    testing::PtyPeer sensor(3);  // sets KALFETCH_PORT_DIR for the program
    ASSERT_TRUE(sensor.ok());
    ChildProcess program;
    ASSERT_TRUE(program.start({std::string(KAL_BIN_DIR) + "/kalfetch5", "X", "COM3"}, {cwd.path(), {}}));
    // The search has begun once the power-up advice is out: the file exists.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    std::string out;
    while (out.find("Please ensure that Sensor is powered up.") == std::string::npos &&
           std::chrono::steady_clock::now() < deadline) {
      out += read_until(program.stdout_fd(), std::chrono::steady_clock::now() + std::chrono::milliseconds(200));
    }
    const auto before = list_files(cwd.path());
    ASSERT_EQ(before.size(), 1u) << out;
    const std::string raw = *before.begin();
    EXPECT_TRUE(raw.ends_with(".RAW"));
    EXPECT_EQ(read_file(cwd.path() / raw), "");
    program.send(signal);
    EXPECT_TRUE(program.ends_within(std::chrono::seconds(10)));
    EXPECT_EQ(program.exit_status(), -1);  // ended by the signal
    EXPECT_TRUE(list_files(cwd.path()).empty());
  }
}

// A RAW file that cannot be created (a folder holds its name; as root the
// folder's rights would not stop it): the open-error line, then the
// system's reason under it.
TEST(Kalfetch5Binary, RawFileThatCannotBeCreatedIsToldWithTheReason) {
  TempCwd cwd;
  ASSERT_TRUE(cwd.ready());
  // Every name the clock can give in the next minute, as the program forms it.
  const std::time_t now = std::time(nullptr);
  for (std::time_t t = now; t < now + 60; ++t) {
    char name[32];
    std::tm local{};
    ::localtime_r(&t, &local);
    ASSERT_GT(std::strftime(name, sizeof name, "XC%H%M%S-%m%d%Y.RAW", &local), 0u);
    fs::create_directory(cwd.path() / name);
  }
  const ProgramOutcome o = run_kalfetch5(cwd.path(), {"X", "COM3"}, "", cwd.path());
  EXPECT_EQ(o.exit_status, 7);
  const Lines out = split_lines(o.out);
  const auto open_error = std::find_if(out.begin(), out.end(), [](const std::string& l) {
    return l.starts_with(" *** Open error for outfile=XC") && l.ends_with(".RAW");
  });
  ASSERT_NE(open_error, out.end()) << o.out;
  const std::string name = open_error->substr(std::string(" *** Open error for outfile=").size());
  ASSERT_NE(open_error + 1, out.end());
  EXPECT_EQ(*(open_error + 1), "cannot create " + name + ": Is a directory");
}

}  // namespace
}  // namespace kal

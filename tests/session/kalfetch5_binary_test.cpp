// The real kalfetch5 executable as an operator's script runs it: arguments,
// answers piped to standard input, the real clock and pacing.
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <string>
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

const Lines kUsageText = usage_lines("       38400");
const Lines kReadMoreLines = {
    " More in the README (/usr/share/doc/kalfetch5/README.md): ports named by their device "
    "(/dev/ttyUSB0), troubleshooting."};

struct BinaryCase {
  const char* name;
  std::vector<std::string> args;
  int exit_status;
  Lines out;
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
  };
  for (const BinaryCase& c : table) {
    SCOPED_TRACE(c.name);
    TempCwd cwd;
    ASSERT_TRUE(cwd.ready());
    const ProgramOutcome o = run_kalfetch5(cwd.path(), c.args, "", cwd.path());
    EXPECT_EQ(o.exit_status, c.exit_status);
    EXPECT_EQ(o.out, joined(c.out));
    EXPECT_TRUE(list_files(cwd.path()).empty());
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

}  // namespace
}  // namespace kal

// kalfetch5.exe under Wine against kalvor-sim, each session side by side
// with the same session of the Linux kalfetch5 against its own simulator:
// the RAW file, the outputs, the console, the exit status and what the
// sensor heard must be the same.
#include <gtest/gtest.h>

#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <string>
#include <thread>
#include <vector>

#include "e2e/fault_survey.h"
#include "wine/wine_harness.h"

namespace kal::winetest {
namespace {

struct SessionCase {
  const char* what;
  int port;                       // COM<port>; one of its own per case
  std::vector<std::string> sim;   // simulator options
  std::vector<std::string> args;  // kalfetch5's command line
  std::string answers;            // standard input
  int status;
  const char* must_be_heard;      // a frame the sensor must have heard
};

const SessionCase kSessions[] = {
    // Upload, "y" at the clear prompt, the height typed at each
    // transcription's prompt, restore, shut-down, two transcriptions.
    {"whole session, memory cleared", 4, {}, {"XS", "COM4", "38400"}, "y\n0.35\n/\n", 0, "AA 91 19 55"},
    // Found at 9600, the upload at 115200, then back to 9600 before the
    // shut-down; a port above 9 (opened as \\.\COM12).
    {"another requested rate", 12, {"--baud", "9600"}, {"G", "COM12", "115200"}, "n\n/\n", 0, "AA 85 55"},
    // Damaged lines asked for again: a garbage line, NUL bytes, a CR in the
    // middle of a line, a line without its CR.
    {"noisy upload", 5, {"--noise", "junk:5:30", "--noise", "nul:8", "--noise", "cut:10", "--noise", "drop:12:58"},
     {"X", "COM5"}, "n\n/\n", 0, "AA 85 55"},
    // The sensor hangs up after line 6: the lost link, the time-out report,
    // the six lines transcribed.
    {"sensor hangs up", 6, {"--hangup-after", "6"}, {"X", "COM6"}, "", 5, nullptr},
};

TEST(WineSession, SameSessionOnBothPlatforms) {
  for (const SessionCase& c : kSessions) {
    SCOPED_TRACE(c.what);
    SessionPair pair(c.port);
    ASSERT_TRUE(pair.start(faulttest::survey_memory(12), c.sim));
    pair.run(c.args, c.answers);
    ASSERT_FALSE(pair.on_windows.timed_out) << pair.on_windows.console;
    EXPECT_EQ(pair.on_linux.status, c.status) << pair.on_linux.console;
    pair.expect_same();
    if (c.must_be_heard != nullptr) {
      const Lines heard_by_windows = heard_lines(pair.windows_side.trace());
      EXPECT_TRUE(std::any_of(heard_by_windows.begin(), heard_by_windows.end(),
                              [&](const std::string& l) { return l.find(c.must_be_heard) != std::string::npos; }))
          << c.must_be_heard;
    }
  }
}

// No COM3 at all: the connect-failure report names COM3, then the Windows
// error in words and the ports Windows lists; exit 2, nothing left behind.
TEST(WineSession, MissingPortIsReportedWithTheWindowsError) {
  SessionPair pair(3);
  ASSERT_TRUE(pair.start({}, {}, /*no_sensor=*/true));
  pair.run({"X", "COM3"}, "");
  EXPECT_EQ(pair.on_windows.status, 2);
  EXPECT_EQ(pair.on_linux.status, 2);
  const std::string report = " Failed to logically connect to PC comm port #           3, Error#           2\n";
  EXPECT_NE(lf_only(pair.on_windows.console).find(report), std::string::npos) << pair.on_windows.console;
  // ERROR_FILE_NOT_FOUND, 2, in the words of the system.
  const std::string windows = lf_only(pair.on_windows.console);
  const auto why = windows.find(" The port could not be opened: ");
  ASSERT_NE(why, std::string::npos) << windows;
  const std::string why_line = windows.substr(why, windows.find('\n', why) - why);
  EXPECT_TRUE(why_line.ends_with(" (error 2)")) << why_line;
  EXPECT_GT(why_line.size(), std::string(" The port could not be opened:  (error 2)").size()) << why_line;
  // Up to the lines of the platform's own (its error text and its ports),
  // the two consoles are the same.
  const auto head = [](const std::string& console) {
    const std::string text = lf_only(console);
    return text.substr(0, text.find(" The port could not be opened: "));
  };
  EXPECT_EQ(head(pair.on_windows.console), head(pair.on_linux.console));
  EXPECT_TRUE(fs::is_empty(pair.windows_side.run_dir()));
}

// Frames written just before a purge or a release (the set-baud frame of
// the restore, the shut-down frame) reach the sensor every time: four
// restoring sessions at once, each on a port of its own.
TEST(WineSession, EveryFrameBeforeAReleaseIsHeard) {
  constexpr int kRuns = 4;
  std::vector<std::unique_ptr<SessionSide>> sides;
  std::vector<std::future<ProgramRun>> runs;
  for (int i = 0; i < kRuns; ++i) {
    sides.push_back(std::make_unique<SessionSide>(Platform::windows, 20 + i));
    ASSERT_TRUE(sides.back()->start(faulttest::survey_memory(3), {"--baud", "9600"}));
  }
  for (int i = 0; i < kRuns; ++i) {
    SessionSide* side = sides[static_cast<std::size_t>(i)].get();
    const std::string port = "COM" + std::to_string(20 + i);
    runs.push_back(std::async(std::launch::async, [side, port] { return side->run({"X", port, "38400"}, "y\n/\n"); }));
  }
  for (int i = 0; i < kRuns; ++i) {
    SCOPED_TRACE("run " + std::to_string(i + 1));
    const ProgramRun r = runs[static_cast<std::size_t>(i)].get();
    EXPECT_EQ(r.status, 0) << r.console;
    const Lines frames = heard_lines(sides[static_cast<std::size_t>(i)]->trace());
    const auto count = [&](const std::string& frame) {
      return std::count_if(frames.begin(), frames.end(), [&](const std::string& l) { return l == frame; });
    };
    // Back to 9600 (set-baud code 3) at the end of the data, the clear frame
    // there (a purge follows it), the restore, and the shut-down frame (the
    // release follows it).
    EXPECT_GE(count("38400 AA 81 03 55 | ...U"), 1) << ::testing::PrintToString(frames);
    EXPECT_EQ(count("9600 AA 91 19 55 | ...U"), 1) << ::testing::PrintToString(frames);
    EXPECT_EQ(count("9600 AA 85 55 | ..U"), 1) << ::testing::PrintToString(frames);
    ASSERT_FALSE(frames.empty());
    EXPECT_EQ(frames.back(), "9600 AA 85 55 | ..U");
    EXPECT_EQ(sides[static_cast<std::size_t>(i)]->memory_now(), "");
  }
}

// Output of `child` until it holds `text` (false after `limit`).
bool wait_for_output(test::ChildProcess& child, std::string& out, const std::string& text,
                     std::chrono::milliseconds limit) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (lf_only(out).find(text) == std::string::npos) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    pollfd entry{child.stdout_fd(), POLLIN, 0};
    if (::poll(&entry, 1, 100) <= 0) continue;
    char buffer[4096];
    const ssize_t n = ::read(child.stdout_fd(), buffer, sizeof buffer);
    if (n <= 0) return false;
    out.append(buffer, static_cast<std::size_t>(n));
  }
  return true;
}

// Ctrl-C (SIGINT) in the middle of an upload ends the program on both
// platforms, and every line accepted by then is in the RAW file, whole.
TEST(WineSession, CtrlCKeepsEveryAcceptedLine) {
  const Lines memory = faulttest::survey_memory(200);
  for (const Platform platform : {Platform::linux_host, Platform::windows}) {
    SCOPED_TRACE(name_of(platform));
    SessionSide side(platform, 7);
    ASSERT_TRUE(side.start(memory, {"--pace"}));
    test::ChildProcess child;
    ASSERT_TRUE(side.start(child, {"X", "COM7", "9600"}));
    std::string out;
    // Below 9600 every line is shown; at 9600 every tenth: record 40 is the
    // 20th accepted line.
    ASSERT_TRUE(wait_for_output(child, out, "\n    40 ", std::chrono::seconds(90))) << out;
    child.send(SIGINT);
    EXPECT_TRUE(child.ends_within(std::chrono::seconds(10))) << "still running after Ctrl-C";
    child.stop(SIGKILL);
    const std::string stem = raw_stem(side.run_dir());
    ASSERT_FALSE(stem.empty());
    std::string raw = lf_only(test::read_file(side.run_dir() / (stem + ".RAW")));
    Lines lines;
    for (std::size_t start = 0, end; (end = raw.find('\n', start)) != std::string::npos; start = end + 1) {
      lines.push_back(raw.substr(start, end - start));
    }
    EXPECT_TRUE(raw.empty() || raw.back() == '\n') << "a line cut in the RAW file";
    ASSERT_GE(lines.size(), 20u);
    EXPECT_EQ(lines, Lines(memory.begin(), memory.begin() + static_cast<long>(lines.size())));
  }
}

}  // namespace
}  // namespace kal::winetest

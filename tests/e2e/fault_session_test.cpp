// kalfetch5 against kalvor-sim when things go wrong: the operator quits at
// each wait and prompt, the sensor falls silent or hangs up mid-upload, the
// adapter is gone before the connection or vanishes during the probe.
// Each run: no crash, the end (or the wait for the operator) within a
// bound, every line the sensor delivered in the RAW file, a clear message.
#include <gtest/gtest.h>

#include <signal.h>
#include <unistd.h>

#include <cstdlib>
#include <thread>

#include "e2e/fault_harness.h"
#include "e2e/fault_survey.h"
#include "session/expected_lines.h"

namespace kal::faulttest {
namespace {

// A whole session (16 s of probe, two rate changes of ~6 s, 5 s at the end)
// stays far below this; a hung program is killed at it.
constexpr int kSessionLimitMs = 120000;
constexpr int kPromptWaitMs = 60000;

// Exit statuses of kalfetch5.
constexpr int kExitOk = 0;
constexpr int kExitNoPort = 2;
constexpr int kExitAborted = 4;
constexpr int kExitTimeout = 5;

const std::string kAdvice = "   -> Restart KALFETCH after powering up Sensor.\n";
const std::string kHeightPrompt =
    "Enter Sensor height manually or type / followed by <ENTER> to accept this value \n";
// The time-out report and its recommended actions.
const Lines& kTimeoutBox = kal::test::kTimeoutReport;

void expect_normal_end(const Finished& f, int status) {
  ASSERT_FALSE(f.timed_out) << "still running at the limit\n" << numbered(f.lines);
  ASSERT_TRUE(f.exited) << "ended by signal " << f.signal << "\n" << numbered(f.lines);
  EXPECT_EQ(f.status, status) << numbered(f.lines);
}

// True when `block` stands in `lines` as consecutive lines.
bool has_block(const Lines& lines, const Lines& block) {
  if (block.empty()) return true;
  for (std::size_t i = 0; i + block.size() <= lines.size(); ++i) {
    if (std::equal(block.begin(), block.end(), lines.begin() + static_cast<long>(i))) return true;
  }
  return false;
}

Lines raw_of(const Folder& cwd) {
  const std::string name = session_raw_name(cwd.path());
  return name.empty() ? Lines{} : split_lines(read_file(cwd.path() / name));
}

Lines first_lines(const Lines& all, std::size_t n) { return Lines(all.begin(), all.begin() + static_cast<long>(n)); }

// q during the power-up wait ends the session at once, without a further
// message: no query, no upload, the empty RAW file deleted.
TEST(FaultSession, QuitDuringPowerUpWait) {
  Sensor sensor;
  ASSERT_TRUE(sensor.start(survey_memory(3), {}));
  Folder cwd;
  Kalfetch run;
  ASSERT_TRUE(run.start(cwd.path(), {"X", "COM3", "38400"}, sensor.port_dir(), Input::terminal));
  const std::size_t advice_end = run.wait_for(kAdvice, 10000);
  ASSERT_NE(advice_end, std::string::npos) << run.output();
  ASSERT_TRUE(run.press("q"));
  const Finished f = run.finish(kSessionLimitMs);
  expect_normal_end(f, kExitAborted);
  // The wait is 10 s and the end pauses 5 s: a q that was not taken would
  // have gone on to "Waiting for reply from Sensor." and the query.
  EXPECT_FALSE(has_line(f.lines, "Waiting for reply from Sensor.")) << numbered(f.lines);
  EXPECT_EQ(sensor.heard("AA 80 55"), 0);
  const Lines tail = {"   -> Restart KALFETCH after powering up Sensor.", "",
                      ">Data Upload Phase Terminated.",
                      "No data were uploaded from sensor, so no transcription was performed.",
                      "Empty RAW file deleted.", "Exiting..."};
  EXPECT_TRUE(has_block(f.lines, tail)) << numbered(f.lines);
  EXPECT_TRUE(list_files(cwd.path()).empty());
}

// q pressed ten times while the query waits for a sensor that does not
// answer: each q but the last sends the query again, the tenth ends the
// query's budget and the session ends as for q during the power-up wait,
// without announcing a sensor it never found.
TEST(FaultSession, QuitTenTimesWhileTheQueryWaits) {
  Sensor sensor;
  ASSERT_TRUE(sensor.start(survey_memory(3), {"--cold-start", "100"}));
  Folder cwd;
  Kalfetch run;
  ASSERT_TRUE(run.start(cwd.path(), {"X", "COM3", "38400"}, sensor.port_dir(), Input::terminal));
  ASSERT_NE(run.wait_for("May take 10s from cold off state.\n", 20000), std::string::npos)
      << run.output();
  ASSERT_TRUE(run.press("qqqqqqqqqq"));
  const Finished f = run.finish(kSessionLimitMs);
  expect_normal_end(f, kExitAborted);
  EXPECT_EQ(count_containing(f.lines, "Instrument detected"), 0) << numbered(f.lines);
  EXPECT_FALSE(has_line(f.lines, "Re-initializing..."));
  EXPECT_EQ(sensor.heard("H> 38400 AA 80 55"), 10);
  EXPECT_EQ(sensor.heard("AA 90 55"), 0);
  EXPECT_TRUE(has_block(f.lines, {" ", ">Data Upload Phase Terminated.",
                                  "No data were uploaded from sensor, so no transcription was performed.",
                                  "Empty RAW file deleted.", "Exiting..."}))
      << numbered(f.lines);
  EXPECT_TRUE(list_files(cwd.path()).empty());
}

// q pressed while the link moves to the requested rate is still waiting
// when the upload starts: the keyboard check before the start frame takes
// it as the time-out outcome. No start frame, no restore, no shut-down.
TEST(FaultSession, QuitBeforeTheUploadStarts) {
  Sensor sensor;
  ASSERT_TRUE(sensor.start(survey_memory(3), {}));
  Folder cwd;
  Kalfetch run;
  ASSERT_TRUE(run.start(cwd.path(), {"X", "COM3", "38400"}, sensor.port_dir(), Input::terminal));
  ASSERT_NE(run.wait_for("Instrument detected", kPromptWaitMs), std::string::npos) << run.output();
  ASSERT_TRUE(run.press("q"));
  const Finished f = run.finish(kSessionLimitMs);
  expect_normal_end(f, kExitTimeout);
  Lines expected = {">Press QQ to abort data transfer", " "};
  expected.insert(expected.end(), kTimeoutBox.begin(), kTimeoutBox.end());
  expected.insert(expected.end(), {">Data Upload Phase Terminated.",
                                   "No data were uploaded from sensor, so no transcription was performed.",
                                   "Empty RAW file deleted.", "Exiting..."});
  EXPECT_TRUE(has_block(f.lines, expected)) << numbered(f.lines);
  EXPECT_EQ(sensor.heard("AA 90 55"), 0);
  EXPECT_EQ(sensor.heard("AA 85 55"), 0);
  EXPECT_TRUE(list_files(cwd.path()).empty());
}

// q while lines flow (after an "N"): the abort outcome. The RAW file holds
// exactly the lines received, the sensor is still shut down, the partial
// file is transcribed; at the height prompt a "q" is no number and the
// prompt comes again, "/" keeps the height.
TEST(FaultSession, QuitWhileLinesFlowAborts) {
  const Lines memory = survey_memory(200);  // 244 lines, ~4 s at the paced 38400
  Sensor sensor;
  ASSERT_TRUE(sensor.start(memory, {"--pace"}));
  Folder cwd;
  Kalfetch run;
  ASSERT_TRUE(run.start(cwd.path(), {"X", "COM3", "38400"}, sensor.port_dir(), Input::terminal));
  // Record 20: the tenth line was accepted.
  ASSERT_NE(run.wait_for("\n    20 ", kPromptWaitMs), std::string::npos) << run.output();
  ASSERT_TRUE(run.press("q"));
  const std::size_t prompt = run.wait_for(kHeightPrompt, kPromptWaitMs);
  ASSERT_NE(prompt, std::string::npos) << run.output();
  ASSERT_TRUE(run.press("q\n"));
  ASSERT_NE(run.wait_for(kHeightPrompt, 10000, prompt), std::string::npos) << run.output();
  ASSERT_TRUE(run.press("/\n"));
  const Finished f = run.finish(kSessionLimitMs);
  expect_normal_end(f, kExitAborted);

  EXPECT_TRUE(has_block(f.lines, {" ", ">Aborting transfer..."})) << numbered(f.lines);
  EXPECT_FALSE(has_line(f.lines, ">End of Sensor data upload."));
  EXPECT_TRUE(has_line(f.lines, ">>>> Sensor has been shut down..."));
  EXPECT_EQ(sensor.heard("H> 38400 AA 85 55"), 1);
  const Lines raw = raw_of(cwd);
  ASSERT_GE(raw.size(), 10u) << numbered(f.lines);
  ASSERT_LT(raw.size(), memory.size());
  EXPECT_EQ(raw, first_lines(memory, raw.size()));
  EXPECT_EQ(count_containing(f.lines, kHeightPrompt.substr(0, kHeightPrompt.size() - 1)), 2);
  EXPECT_TRUE(has_line(f.lines, "   Data  successfully transcribed!")) << numbered(f.lines);
}

// The sensor falls silent after line 5; after a long wait the operator
// presses q: more than 10 x 1200 empty polls, so the time-out outcome. The
// five lines are in the RAW file and transcribed; no restore, no shut-down.
TEST(FaultSession, SilentSensorWaitsForTheOperator) {
  const Lines memory = survey_memory(10);
  Sensor sensor;
  ASSERT_TRUE(sensor.start(memory, {"--silent-after", "5"}));
  Folder cwd;
  Kalfetch run;
  ASSERT_TRUE(run.start(cwd.path(), {"X", "COM3", "1200"}, sensor.port_dir(), Input::terminal));
  // Below 9600 every accepted line is shown: line 5 is record 10.
  ASSERT_NE(run.wait_for("\n    10 " + memory[4] + "\n", kPromptWaitMs), std::string::npos)
      << run.output();
  // The program waits: still running 3 s later, nothing more shown.
  std::this_thread::sleep_for(std::chrono::seconds(3));
  const std::string before_q = run.output();
  EXPECT_EQ(before_q.substr(before_q.size() - memory[4].size() - 1), memory[4] + "\n");
  ASSERT_TRUE(run.press("q"));
  const std::size_t prompt = run.wait_for(kHeightPrompt, kPromptWaitMs);
  ASSERT_NE(prompt, std::string::npos) << run.output();
  ASSERT_TRUE(run.press("/\n"));
  const Finished f = run.finish(kSessionLimitMs);
  expect_normal_end(f, kExitTimeout);

  EXPECT_TRUE(has_block(f.lines, kTimeoutBox)) << numbered(f.lines);
  EXPECT_FALSE(has_line(f.lines, ">Restoring Sensor to standard initial baud rate..."));
  EXPECT_EQ(sensor.heard("AA 85 55"), 0);
  EXPECT_TRUE(has_line(f.lines, ">Data Upload Phase Terminated."));
  EXPECT_EQ(raw_of(cwd), first_lines(memory, 5));
  // Lines 4 and 5 are stations 1 and 2.
  EXPECT_EQ(split_lines(read_file(cwd.path() / "LINE0001.xyz")).size(), 2u);
  EXPECT_TRUE(has_line(f.lines, "   Data  successfully transcribed!")) << numbered(f.lines);
}

// The same silent sensor with the answers coming from a pipe: nobody can
// press q, so a minute without a byte is the time-out (report, RAW file
// kept, no restore, the partial file transcribed, status 5).
TEST(FaultSession, SilentSensorEndsAnUnattendedRunAfterAMinute) {
  const Lines memory = survey_memory(10);
  Sensor sensor;
  ASSERT_TRUE(sensor.start(memory, {"--silent-after", "5"}));
  Folder cwd;
  Kalfetch run;
  ASSERT_TRUE(run.start(cwd.path(), {"X", "COM3", "38400"}, sensor.port_dir(), Input::pipe, "n\n/\n"));
  const std::size_t fifth = run.wait_for("\n    10 " + memory[4] + "\n", kPromptWaitMs);
  ASSERT_NE(fifth, std::string::npos) << run.output();
  const auto silent_since = std::chrono::steady_clock::now();
  ASSERT_NE(run.wait_for("Timeout waiting for reply!!!", 90000, fifth), std::string::npos) << run.output();
  const auto waited = std::chrono::steady_clock::now() - silent_since;
  EXPECT_GE(waited, std::chrono::seconds(59));
  const Finished f = run.finish(kSessionLimitMs + 60000);
  expect_normal_end(f, kExitTimeout);
  EXPECT_TRUE(has_line(f.lines, "*** No byte from the sensor for 60 s and no operator at a terminal: "
                                "giving up the upload"))
      << numbered(f.lines);
  EXPECT_TRUE(has_block(f.lines, kTimeoutBox)) << numbered(f.lines);
  EXPECT_FALSE(has_line(f.lines, ">Restoring Sensor to standard initial baud rate..."));
  EXPECT_EQ(raw_of(cwd), first_lines(memory, 5));
  EXPECT_EQ(split_lines(read_file(cwd.path() / "LINE0001.xyz")).size(), 2u);
}

// A cable so bad that line 6 arrives damaged at every sending (its "$"
// lost), the answers coming from a pipe: nobody can press q and the sensor
// is never silent, so a minute without an accepted line is the time-out
// (the line saying why, the report, no restore, status 5). One real minute.
TEST(FaultSession, EveryLineDamagedEndsAnUnattendedRunAfterAMinute) {
  const Lines memory = survey_memory(10);
  Sensor sensor;
  ASSERT_TRUE(sensor.start(memory, {"--noise-every-sending", "--noise", "drop:6:2"}));
  Folder cwd;
  Kalfetch run;
  ASSERT_TRUE(run.start(cwd.path(), {"X", "COM3", "38400"}, sensor.port_dir(), Input::pipe, "n\n/\n"));
  const std::size_t fifth = run.wait_for("\n    10 " + memory[4] + "\n", kPromptWaitMs);
  ASSERT_NE(fifth, std::string::npos) << run.output();
  const auto accepted_last = std::chrono::steady_clock::now();
  ASSERT_NE(run.wait_for("Timeout waiting for reply!!!", 90000, fifth), std::string::npos) << run.output();
  const auto waited = std::chrono::steady_clock::now() - accepted_last;
  EXPECT_GE(waited, std::chrono::seconds(59));
  const Finished f = run.finish(kSessionLimitMs + 60000);
  expect_normal_end(f, kExitTimeout);
  EXPECT_TRUE(has_line(f.lines, "*** No line from the sensor could be accepted for 60 s and no operator at "
                                "a terminal: giving up the upload"))
      << numbered(f.lines);
  EXPECT_EQ(count_containing(f.lines, "*** No byte from the sensor"), 0);
  EXPECT_TRUE(has_block(f.lines, kTimeoutBox)) << numbered(f.lines);
  EXPECT_FALSE(has_line(f.lines, ">Restoring Sensor to standard initial baud rate..."));
  EXPECT_EQ(sensor.heard("AA 85 55"), 0);
  // The session kept asking for line 6 all the minute (a repeat about every
  // tenth of a second, after the quiet gap), every one damaged.
  EXPECT_GE(sensor.heard("line 6 asked again"), 100);
  EXPECT_EQ(sensor.heard("line 6 accepted"), 0);
  EXPECT_GE(count_containing(f.lines, " Transfer error on packet "), 100);
  // The RAW file: the five accepted lines, then only the damaged copies,
  // each behind the rejected mark.
  const Lines raw = raw_of(cwd);
  ASSERT_GT(raw.size(), 5u);
  EXPECT_EQ(first_lines(raw, 5), first_lines(memory, 5));
  const std::string damaged = std::string(kRejectedMark) + memory[5].substr(0, 1) + memory[5].substr(2);
  for (std::size_t i = 5; i < raw.size(); ++i) ASSERT_EQ(raw[i], damaged) << "RAW line " << i + 1;
}

// strace can trace here (it needs the right to); the tests that read what
// the program asks of the system skip without it.
bool can_trace() {
  return ::access("/usr/bin/strace", X_OK) == 0 &&
         std::system("/usr/bin/strace -f -o /dev/null /bin/true >/dev/null 2>&1") == 0;
}

// kalfetch5 under strace: `calls` traced into `log` (file descriptors shown
// with their paths), `extra` further strace options.
std::vector<std::string> traced_kalfetch5(const fs::path& log, const std::string& calls,
                                          std::vector<std::string> extra, std::vector<std::string> args) {
  std::vector<std::string> argv = {"-f", "-y", "-e", "trace=" + calls, "-o", log.string(),
                                   "-E", "ASAN_OPTIONS=detect_leaks=0"};
  argv.insert(argv.end(), extra.begin(), extra.end());
  argv.push_back("--");
  argv.push_back(kalfetch5_path());
  argv.insert(argv.end(), args.begin(), args.end());
  return argv;
}

// "y" at the clear prompt: the RAW file and its folder are synced to the
// disk before the clear frame leaves; when the sync fails, the frame is not
// sent, a line says why, and the session goes on with the restore.
TEST(FaultSession, MemoryIsClearedOnlyOnceTheRawFileIsOnDisk) {
  if (!can_trace()) GTEST_SKIP() << "strace cannot trace here";
  for (const bool sync_fails : {false, true}) {
    SCOPED_TRACE(sync_fails ? "sync fails" : "sync works");
    const Lines memory = survey_memory(5);
    Sensor sensor;
    ASSERT_TRUE(sensor.start(memory, {}));
    Folder cwd;
    const fs::path log = sensor.ports.path() / "strace.txt";
    std::vector<std::string> inject;
    if (sync_fails) inject = {"-e", "inject=fsync:error=EIO"};
    Kalfetch run;
    ASSERT_TRUE(run.start_program("/usr/bin/strace", cwd.path(),
                                  traced_kalfetch5(log, "fsync,write", inject, {"X", "COM3", "38400"}),
                                  sensor.port_dir(), Input::pipe, "y\n/\n"));
    const Finished f = run.finish(kSessionLimitMs);
    expect_normal_end(f, kExitOk);
    const std::string raw_name = session_raw_name(cwd.path());
    ASSERT_FALSE(raw_name.empty());
    EXPECT_EQ(raw_of(cwd), memory);

    // The system calls in order: the last syncs before the clear frame.
    const Lines calls = split_lines(read_file(log));
    const auto frame = std::find_if(calls.begin(), calls.end(), [](const std::string& l) {
      return l.find("write(") != std::string::npos && l.find("\"\\252\\221\\31U\"") != std::string::npos;
    });
    const auto synced = [&](const std::string& path) {
      return std::any_of(calls.begin(), frame, [&](const std::string& l) {
        return l.find("fsync(") != std::string::npos && l.find("<" + path + ">") != std::string::npos &&
               l.find("= 0") != std::string::npos;
      });
    };
    const std::string folder = fs::canonical(cwd.path()).string();
    if (!sync_fails) {
      ASSERT_NE(frame, calls.end()) << read_file(log);
      EXPECT_TRUE(synced(folder + "/" + raw_name)) << read_file(log);
      EXPECT_TRUE(synced(folder)) << read_file(log);
      EXPECT_EQ(sensor.heard("H> 38400 AA 91 19 55"), 1);
      EXPECT_EQ(read_file(sensor.memory_file), "");
    } else {
      EXPECT_EQ(frame, calls.end());
      EXPECT_EQ(sensor.heard("AA 91 19 55"), 0);
      EXPECT_EQ(read_file(sensor.memory_file), joined(memory));
      EXPECT_TRUE(has_line(f.lines, "*** Sensor data memory NOT cleared: the RAW file is not safely on disk."))
          << numbered(f.lines);
      EXPECT_TRUE(has_line(f.lines, "*** The RAW file " + raw_name +
                                        " could not be synced to disk: Input/output error (error 5)"))
          << numbered(f.lines);
    }
    // The restore, the shut-down and the transcription follow either way.
    EXPECT_TRUE(has_line(f.lines, ">>>> Sensor has been shut down...")) << numbered(f.lines);
    EXPECT_TRUE(has_line(f.lines, "   Data  successfully transcribed!")) << numbered(f.lines);
  }
}

// The sensor hangs up after line 6: the lost link is named with its port
// and error, the time-out report follows, no line is lost and the partial
// data are transcribed. Standard input is at its end throughout.
TEST(FaultSession, HangUpMidUploadLosesNoLine) {
  const Lines memory = survey_memory(10);
  Sensor sensor;
  ASSERT_TRUE(sensor.start(memory, {"--hangup-after", "6"}));
  Folder cwd;
  Kalfetch run;
  ASSERT_TRUE(run.start(cwd.path(), {"X", "COM3", "38400"}, sensor.port_dir(), Input::pipe));
  const Finished f = run.finish(kSessionLimitMs);
  expect_normal_end(f, kExitTimeout);

  EXPECT_EQ(count_containing(f.lines, "*** Lost the link to the sensor on port COM3: "), 1)
      << numbered(f.lines);
  EXPECT_TRUE(has_block(f.lines, kTimeoutBox)) << numbered(f.lines);
  EXPECT_EQ(raw_of(cwd), first_lines(memory, 6));
  // Lines 4 to 6 are stations 1 to 3.
  const Lines xyz = split_lines(read_file(cwd.path() / "LINE0001.xyz"));
  ASSERT_EQ(xyz.size(), 3u);
  EXPECT_EQ(xyz[2].substr(0, 6), "     3");
  EXPECT_TRUE(has_line(f.lines, "   Data  successfully transcribed!")) << numbered(f.lines);
}

// q at the clear-memory prompt is "any other key": no clear frame, the
// memory stays; the end of input on the terminal (Ctrl-D) at the height
// prompt keeps the height.
TEST(FaultSession, QuitAtClearPromptClearsNothing) {
  const Lines memory = survey_memory(5);
  Sensor sensor;
  ASSERT_TRUE(sensor.start(memory, {}));
  Folder cwd;
  Kalfetch run;
  ASSERT_TRUE(run.start(cwd.path(), {"X", "COM3", "38400"}, sensor.port_dir(), Input::terminal));
  const std::size_t clear_prompt =
      run.wait_for("Press Y for yes, or any other key to exit.\n", kPromptWaitMs);
  ASSERT_NE(clear_prompt, std::string::npos) << run.output();
  ASSERT_TRUE(run.press("q"));
  ASSERT_NE(run.wait_for(kHeightPrompt, kPromptWaitMs, clear_prompt), std::string::npos)
      << run.output();
  ASSERT_TRUE(run.press("\x04"));
  const Finished f = run.finish(kSessionLimitMs);
  expect_normal_end(f, kExitOk);

  EXPECT_EQ(sensor.heard("AA 91 19 55"), 0);
  EXPECT_EQ(read_file(sensor.memory_file), joined(memory));
  EXPECT_TRUE(has_line(f.lines, ">>>> Sensor has been shut down..."));
  EXPECT_EQ(raw_of(cwd), memory);
  EXPECT_EQ(split_lines(read_file(cwd.path() / "LINE0001.xyz")).size(), 5u);
  EXPECT_TRUE(has_line(f.lines, "   Data  successfully transcribed!")) << numbered(f.lines);
}

const Lines kConnectFailure = {
    "",
    "Error in KALFETCH5:",
    // "Failed ..." with the port and the error in 12 characters each.
    " Failed to logically connect to PC comm port #           3, Error#           2",
    "",
    " This message usually means that your USB-Serial adapter is not plugged into",
    " a USB port or that the COM port that your USB-Serial adapter is set up to use",
    " is not the same COM port that you have selected, either directly in your ",
    " command line or indirectly by not specifying a COM port (in which case, ",
    " COM1 is assumed.)",
    "",
    "",
    // Why, then the ports there are (or a line saying there are none).
    " The port could not be opened: No such file or directory (error 2)",
};
const Lines kNothingDone = {
    "No data were uploaded from sensor, so no transcription was performed.",
    "Empty RAW file deleted.",
    "Exiting...",
};

// Opens of "COM3" recorded by strace in `log`.
int open_attempts(const fs::path& log) {
  int n = 0;
  for (const std::string& l : split_lines(read_file(log)))
    if (l.find("/COM3\"") != std::string::npos && l.find("open") != std::string::npos) ++n;
  return n;
}

// No adapter: the port folder has no COM3, or COM3 is a link to a device
// that is gone. 101 attempts (counted with strace when it is installed),
// then the connect-failure report with error 2 (no such file).
TEST(FaultSession, AdapterGoneBeforeConnect) {
  // strace needs the right to trace; without it the attempts are not counted.
  const bool count_opens = can_trace();
  for (const bool dangling : {false, true}) {
    SCOPED_TRACE(dangling ? "dangling link" : "no COM3");
    Folder ports, cwd;
    if (dangling) fs::create_symlink("/dev/pts/does-not-exist", ports.path() / "COM3");
    const fs::path log = ports.path() / "strace.txt";
    Kalfetch run;
    std::vector<std::string> args = {"X", "COM3", "38400"};
    if (count_opens) {
      // strace runs kalfetch5 itself; the arguments after "--" are its own.
      // LeakSanitizer cannot work under ptrace: a sanitizer build leaves it off there.
      args.insert(args.begin(), {"-f", "-e", "trace=open,openat", "-o", log.string(), "-E",
                                 "ASAN_OPTIONS=detect_leaks=0", "--", kalfetch5_path()});
    }
    ASSERT_TRUE(count_opens ? run.start_program("/usr/bin/strace", cwd.path(), args, ports.path())
                            : run.start(cwd.path(), args, ports.path(), Input::pipe));
    const Finished f = run.finish(kSessionLimitMs);
    expect_normal_end(f, kExitNoPort);
    EXPECT_TRUE(has_block(f.lines, kConnectFailure)) << numbered(f.lines);
    EXPECT_TRUE(has_block(f.lines, kNothingDone)) << numbered(f.lines);
    // The dangling COM3 is listed as the port whose device is missing.
    EXPECT_EQ(has_line(f.lines, "   " + (ports.path() / "COM3").string() + " -> (missing)"), dangling)
        << numbered(f.lines);
    EXPECT_TRUE(has_line(f.lines, " Serial ports on this machine:") ||
                has_line(f.lines, " No serial port was found on this machine."))
        << numbered(f.lines);
    EXPECT_FALSE(has_line(f.lines, "Please ensure that Sensor is powered up."));
    EXPECT_TRUE(list_files(cwd.path()).empty());
    if (count_opens) {
      EXPECT_EQ(open_attempts(log), 101);
    }
  }
}

// The sensor vanishes while the program waits at the first rate (SIGTERM to
// the sim: its line closes and its link goes), during the power-up wait or
// while the query waits for a reply (a sensor that ignores its queries).
// The program ends with a clear line about the port, after the first rate:
// it does not spin through the other rates.
TEST(FaultSession, AdapterGoneDuringProbe) {
  struct Case {
    const char* what;
    std::vector<std::string> options;
    std::string kill_after;  // output after which the sim goes
  };
  const Case cases[] = {
      {"power-up wait", {}, kAdvice},
      {"query", {"--cold-start", "100"}, "May take 10s from cold off state.\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Sensor sensor;
    ASSERT_TRUE(sensor.start(survey_memory(3), c.options));
    Folder cwd;
    Kalfetch run;
    ASSERT_TRUE(run.start(cwd.path(), {"X", "COM3", "38400"}, sensor.port_dir(), Input::pipe));
    ASSERT_NE(run.wait_for(c.kill_after, 20000), std::string::npos) << run.output();
    sensor.sim.stop();
    const Finished f = run.finish(kSessionLimitMs);
    expect_normal_end(f, kExitNoPort);
    // A line names the port and the error: the lost link (from the session
    // or from the protocol routine that met it), or, when the purges fail
    // and the port is opened afresh, the missing device.
    int naming_port = 0;
    for (const std::string& l : f.lines) {
      const bool port = l.find("COM3") != std::string::npos ||
                        l.find("COM           3") != std::string::npos ||
                        l.find("port #           3") != std::string::npos;
      const bool error = l.find("rror") != std::string::npos || l.find("lost") != std::string::npos;
      if (port && error) ++naming_port;
    }
    EXPECT_GE(naming_port, 1) << numbered(f.lines);
    EXPECT_EQ(count_containing(f.lines, "Testing for connection at baud rate of"), 1);
    EXPECT_TRUE(has_block(f.lines, {"No data were uploaded from sensor, so no transcription was performed.",
                                    "Empty RAW file deleted.", "Exiting..."}))
        << numbered(f.lines);
    // 10 s of power-up wait, at most ~7 s of draining and polling, 2 s after
    // a connect failure and 5 s at the end; no rate beyond the first.
    EXPECT_LT(f.seconds, 45.0);
    EXPECT_TRUE(list_files(cwd.path()).empty());
  }
}

}  // namespace
}  // namespace kal::faulttest

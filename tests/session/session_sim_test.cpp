// The whole session, in this process with a fast clock, against the
// simulated sensor on a pseudo-terminal: console lines, the bytes on the
// wire and the files left behind.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "expected_lines.h"
#include "session/session.h"
#include "support/fake_console.h"
#include "support/scoped_env.h"
#include "support/sim_harness.h"

namespace kal {
namespace {

using namespace kal::test;
namespace fs = std::filesystem;

constexpr int kPort = 3;
const std::string kRawName = "XC143015-12082026.RAW";  // the fixture's clock: 14:30:15, 8 Dec 2026

// Builds "prefix1".."prefixN".
Lines numbered(const std::string& prefix, int n) {
  Lines out;
  for (int i = 1; i <= n; ++i) out.push_back(prefix + std::to_string(i));
  return out;
}

// " Instrument detected, ..." + the rate right-aligned in 12.
std::string detected_line(const std::string& rate_in_12) {
  return std::string(" Instrument detected, communicating at initial baud rate of ") + rate_in_12;
}
std::string changed_line(const std::string& rate_in_12) {
  return std::string(" >Sensor baud rate changed to ") + rate_in_12;
}

class SessionSim : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(cwd_.ready());
    console_.set_clock(2026, 12, 8, 14, 30, 15);
    console_.sleep_divisor = 10;
    console_.set_watchdog(200'000'000);
    fs::create_directory(cwd_.path() / "sim");
  }

  fs::path sim_file(const std::string& name) const { return cwd_.path() / "sim" / name; }

  // Starts the sensor with `memory` (when given) and the extra options; the
  // wire trace goes to sim/trace.txt.
  void start_sensor(const std::optional<Lines>& memory, std::vector<std::string> options = {}) {
    if (memory) {
      write_file(sim_file("memory.txt"), joined(*memory));
      options.insert(options.begin(), {"--memory", sim_file("memory.txt").string()});
    }
    options.insert(options.end(), {"--trace", sim_file("trace.txt").string()});
    ASSERT_TRUE(sim_.start(cwd_.path() / "ports", kPort, options));
    env_.emplace("KALFETCH_PORT_DIR", (cwd_.path() / "ports").string());
  }

  int run(const std::vector<std::string>& args) {
    const int status = KALFETCH5(args);
    EXPECT_FALSE(console_.watchdog_fired()) << "the session kept polling without an end";
    return status;
  }

  Lines lines() const { return without_sensor_io(console_.lines); }
  std::vector<WireEvent> trace() const { return read_trace(sim_file("trace.txt")); }
  // The frames and commands the sensor heard, without the clear sequence.
  std::vector<std::string> frames() const {
    std::vector<std::string> out;
    for (const std::string& f : heard_frames(trace())) {
      const std::string bytes = f.substr(f.find(':') + 1);
      if (bytes != "34" && bytes != "EE EE") out.push_back(f);
    }
    return out;
  }
  std::string raw() const { return read_file(cwd_.path() / kRawName); }
  bool has_line(const std::string& line) const {
    const Lines all = lines();
    return std::find(all.begin(), all.end(), line) != all.end();
  }
  long frame_count(const std::string& frame) const {
    const std::vector<std::string> all = frames();
    return std::count(all.begin(), all.end(), frame);
  }
  std::set<std::string> files() const { return list_files(cwd_.path(), Listing::plain_files); }

  TempCwd cwd_;
  SimProcess sim_;
  std::optional<ScopedEnv> env_;
  FakeConsole console_;
};

// Identification, a comment, two file headers with the same survey name and
// a few data lines.
const Lines kSurvey = {
    "C$000000 KALVOR-H10 SW VERSION 1.5a",
    "C$123456 Start of line one",
    "H$121530 LINE0001 081226 100",
    "T$1",
    "T$2",
    "T$3",
    "H$010203 LINE0001 081226 5",
    "T$4",
    "Z$",
};

TEST_F(SessionSim, FoundAt38400UploadsEveryLineAndKeepsTheMemoryOnNo) {
  start_sensor(kSurvey);
  console_.press_after_line("Press Y for yes", 'n');
  run({"X", "COM3"});

  // Each accepted line counts twice: 2, 4, ... 18 for nine lines.
  const Lines expected =
      kBannerLines + Lines{" portset= T baudset= F and LGFset= T", "", testing_line("       38400")} +
      kPowerUpAdvice + kWaitingForReply +
      Lines{detected_line("       38400"), changed_line("       38400")} + kUploadStart +
      Lines{
          "InstrumentID >KALVOR-H10 SW VERSION 1.5a              ",
          "     2 C$000000 KALVOR-H10 SW VERSION 1.5a",
          "     4 C$123456 Start of line one",
          " >Kalvor Length =         100",
          " >Output file: LINE0001.raw       ",
          "     6 H$121530 LINE0001 081226 100",
          "     8 T$1",
          "    10 T$2",
          "    12 T$3",
          // Same stem again: " ", the numbers 01 02 03 in I2 each, ".raw".
          " >Output file: LINE0001  1 2 3.raw",
          "    14 H$010203 LINE0001 081226 5",
          "    16 T$4",
          "    18 Z$",
          ">End of Sensor data upload.",
          changed_line("       38400"),
          " ",
          "Transfer Complete.",
          " Records saved:    18",
          " ",
      } +
      kClearPrompt + kRestoreLines + kShutDownLines +
      Lines{">Data Upload Phase Terminated.", " ", "Start Data Transcription Phase",
            " Transcribing RAW data files from Sensor to file types X as follows:",
            ">>>Transcribe to file type X"};
  const Lines got = lines();
  ASSERT_GE(got.size(), expected.size());
  EXPECT_EQ(Lines(got.begin(), got.begin() + static_cast<long>(expected.size())), expected);
  // The transcription's own dialogue follows, then exactly one result line
  // and the line naming the quick-look report written beside the RAW file.
  ASSERT_GE(got.size(), 2u);
  const std::string& result = got[got.size() - 2];
  EXPECT_TRUE(result == "   Data  successfully transcribed!" || result.rfind("   Error code was ", 0) == 0)
      << result;
  EXPECT_EQ(got.back(), "   Quick-look report: XC143015-12082026.html");
  EXPECT_TRUE(std::filesystem::exists(cwd_.path() / "XC143015-12082026.html"));

  EXPECT_EQ(raw(), joined(kSurvey));
  // Comment text: columns 10-25, upper-cased, in slot 1.
  EXPECT_EQ(read_file(cwd_.path() / "fort.9"), "    1 START OF LINE ON\n");

  // The set-baud frame goes out although the rate stays 38400 (code 5); an
  // "N" follows every line but "Z$"; no clear-memory frame; shut-down last.
  const std::vector<std::string> expected_frames = {
      "38400:AA 80 55",    "38400:AA 81 05 55", "38400:AA 80 55", "38400:AA 90 55",
      "38400:4E",          "38400:4E",          "38400:4E",       "38400:4E",
      "38400:4E",          "38400:4E",          "38400:4E",       "38400:4E",
      "38400:AA 81 05 55", "38400:AA 80 55",    "38400:AA 85 55",
  };
  EXPECT_EQ(frames(), expected_frames);
  // The sensor kept its memory.
  EXPECT_EQ(read_file(sim_file("memory.txt")), joined(kSurvey));
}

TEST_F(SessionSim, FoundAt9600AndRestoredToItBeforeTheShutDown) {
  const Lines memory = {"T$1", "T$2", "Z$"};
  start_sensor(memory, {"--baud", "9600"});
  console_.press_after_line("Press Y for yes", 'n');
  EXPECT_EQ(run({"X", "COM3"}), kExitOk);

  const Lines expected =
      kBannerLines + Lines{" portset= T baudset= F and LGFset= T", "", testing_line("       38400")} +
      kPowerUpAdvice + kWaitingForReply + Lines{"Re-initializing..."} + kPowerUpAdvice +
      kWaitingForReply + Lines{"Trying next baud rate", testing_line("        9600")} +
      kPowerUpAdvice + kWaitingForReply +
      Lines{detected_line("        9600"), changed_line("       38400")} + kUploadStart +
      Lines{"     2 T$1", "     4 T$2", "     6 Z$", ">End of Sensor data upload.",
            changed_line("        9600"), " ", "Transfer Complete.", " Records saved:     6", " "} +
      kClearPrompt + kRestoreLines +
      // The upload ran at 38400, not at the rate found: a second change.
      Lines{changed_line("        9600")} + kShutDownLines +
      Lines{">Data Upload Phase Terminated.", " ", "Start Data Transcription Phase"};
  const Lines got = lines();
  ASSERT_GE(got.size(), expected.size());
  EXPECT_EQ(Lines(got.begin(), got.begin() + static_cast<long>(expected.size())), expected);

  // Nothing sent at 38400 was heard while the sensor listened at 9600.
  bool discarded_at_38400 = false;
  for (const WireEvent& e : trace()) {
    if (e.dir == "H!" && e.speed == 38400) discarded_at_38400 = true;
  }
  EXPECT_TRUE(discarded_at_38400);
  const std::vector<std::string> expected_frames = {
      "9600:AA 80 55",     "9600:AA 81 05 55", "38400:AA 80 55",   "38400:AA 90 55",
      "38400:4E",          "38400:4E",         "38400:AA 81 03 55", "9600:AA 80 55",
      "9600:AA 81 03 55",  "9600:AA 80 55",    "9600:AA 85 55",
  };
  EXPECT_EQ(frames(), expected_frames);
  EXPECT_EQ(raw(), joined(memory));
}

TEST_F(SessionSim, SensorThatIgnoresTheFirstQueryIsFoundAfterReinitializing) {
  const Lines memory = {"T$1", "Z$"};
  start_sensor(memory, {"--cold-start", "1"});
  console_.press_after_line("Press Y for yes", 'n');
  EXPECT_EQ(run({"X", "COM3"}), kExitOk);
  const Lines expected = Lines{testing_line("       38400")} + kPowerUpAdvice + kWaitingForReply +
                         Lines{"Re-initializing..."} + kPowerUpAdvice + kWaitingForReply +
                         Lines{detected_line("       38400")};
  EXPECT_EQ(section(lines(), testing_line("       38400"), changed_line("       38400")), expected);
}

TEST_F(SessionSim, ClearMemoryOnYSendsTheClearFrameBeforeTheShutDown) {
  const Lines memory = {"T$1", "T$2", "Z$"};
  start_sensor(memory);
  console_.press_after_line("Press Y for yes", 'Y');
  EXPECT_EQ(run({"X", "COM3", "38400"}), kExitOk);
  const std::vector<std::string> got = frames();
  const std::vector<std::string> tail(got.end() - 4, got.end());
  const std::vector<std::string> expected_tail = {"38400:AA 81 05 55", "38400:AA 80 55",
                                                  "38400:AA 91 19 55", "38400:AA 85 55"};
  EXPECT_EQ(tail, expected_tail);
  EXPECT_EQ(read_file(sim_file("memory.txt")), "");
  EXPECT_EQ(raw(), joined(memory));
}

TEST_F(SessionSim, MemoryOfOnlyTheEndLineLeavesNoFiles) {
  start_sensor(Lines{"Z$"});
  EXPECT_EQ(run({"X", "COM3"}), kExitOk);
  const Lines expected = Lines{"     2 Z$", ">End of Sensor data upload.", changed_line("       38400"),
                               " ", "Sensor data memory empty; nothing to save.", " "} +
                         kRestoreLines + kShutDownLines +
                         Lines{">Data Upload Phase Terminated."} + kNothingUploaded +
                         Lines{"Empty RAW file deleted.", "Exiting..."};
  EXPECT_EQ(section(lines(), "     2 Z$", "<none>"), expected);
  EXPECT_TRUE(files().empty());
  for (const std::string& f : frames()) EXPECT_EQ(f.find("AA 91"), std::string::npos);
}

TEST_F(SessionSim, CorruptedLineIsAnsweredWithRAndBothCopiesAreKept) {
  start_sensor(Lines{"T$1", "T$2", "T$3", "T$4", "Z$"}, {"--corrupt-line", "3"});
  console_.press_after_line("Press Y for yes", 'n');
  EXPECT_EQ(run({"X", "COM3"}), kExitOk);
  // Line 3 arrives as "T#3": written behind the rejected mark (record 5),
  // rejected, announced as packet 6; its repetition is written (6) and
  // accepted (7).
  const Lines expected = {"     2 T$1",
                          "     4 T$2",
                          " Transfer error on packet     6 -Retrying.",
                          "     7 T$3",
                          "     9 T$4",
                          "    11 Z$",
                          ">End of Sensor data upload."};
  EXPECT_EQ(section(lines(), "     2 T$1", changed_line("       38400")).size(), 7u);
  EXPECT_EQ(section(lines(), "     2 T$1", changed_line("       38400")), expected);
  EXPECT_TRUE(has_line(" Records saved:    11"));
  EXPECT_EQ(raw(), "T$1\nT$2\n*REJECTED* T#3\nT$3\nT$4\nZ$\n");
  std::vector<std::string> answers;
  for (const std::string& f : frames()) {
    if (f == "38400:4E" || f == "38400:52") answers.push_back(f.substr(6));
  }
  EXPECT_EQ(answers, (std::vector<std::string>{"4E", "4E", "52", "4E", "4E"}));
}

TEST_F(SessionSim, QDuringThePowerUpWaitEndsTheSessionWithoutAQuery) {
  start_sensor(Lines{"T$1", "Z$"});
  console_.press_after_line("Please ensure that Sensor is powered up.", 'q');
  EXPECT_EQ(run({"X", "COM3"}), kExitAborted);
  const Lines expected =
      kBannerLines + Lines{" portset= T baudset= F and LGFset= T", "", testing_line("       38400")} +
      kPowerUpAdvice + Lines{">Data Upload Phase Terminated."} + kNothingUploaded +
      Lines{"Empty RAW file deleted.", "Exiting..."};
  EXPECT_EQ(lines(), expected);
  EXPECT_TRUE(frames().empty());
  EXPECT_TRUE(files().empty());
}

TEST_F(SessionSim, OtherKeysDuringThePowerUpWaitChangeNothing) {
  start_sensor(Lines{"T$1", "Z$"});
  console_.press_after_line("Please ensure that Sensor is powered up.", 'x');
  console_.press_after_line("Please ensure that Sensor is powered up.", '\xE0');
  console_.press_after_line("Please ensure that Sensor is powered up.", 'H');
  console_.press_after_line("Press Y for yes", 'n');
  EXPECT_EQ(run({"X", "COM3"}), kExitOk);
  EXPECT_TRUE(has_line(detected_line("       38400")));
}

TEST_F(SessionSim, TenQuitsWithoutAnyReplyEndTheSessionAsAQuit) {
  start_sensor(Lines{"T$1", "Z$"}, {"--cold-start", "1000"});
  for (int i = 0; i < 10; ++i) console_.press_after_line("Waiting for reply from Sensor.", 'q');
  EXPECT_EQ(run({"X", "COM3"}), kExitAborted);
  const Lines expected =
      kBannerLines + Lines{" portset= T baudset= F and LGFset= T", "", testing_line("       38400")} +
      kPowerUpAdvice + kWaitingForReply + Lines{">Data Upload Phase Terminated."} +
      kNothingUploaded + Lines{"Empty RAW file deleted.", "Exiting..."};
  EXPECT_EQ(lines(), expected);
  EXPECT_EQ(console_.keys_left(), 0u);
}

// Ten data lines and the end line.
const Lines kTenLines = numbered("D$", 10) + Lines{"Z$"};

TEST_F(SessionSim, QWhileLinesFlowAbortsAndTheSensorIsShutDown) {
  start_sensor(kTenLines);
  // Seen after line 5 is accepted (records 9, 10); its "N" still goes out.
  console_.press_after_line("    10 D$5", 'q');
  EXPECT_EQ(run({"X", "COM3"}), kExitAborted);
  const Lines expected = Lines{"    10 D$5", " ", ">Aborting transfer..."} + kRestoreLines +
                         kShutDownLines +
                         Lines{">Data Upload Phase Terminated.", " ", "Start Data Transcription Phase"};
  EXPECT_EQ(section(lines(), "    10 D$5", " Transcribing RAW data files from Sensor to file types X as follows:"),
            expected);
  EXPECT_EQ(raw(), joined(numbered("D$", 5)));
  EXPECT_EQ(frame_count("38400:4E"), 5);
}

TEST_F(SessionSim, QDuringAShortSilenceAborts) {
  start_sensor(kTenLines, {"--silent-after", "3"});
  console_.press_after_line_and_idle_polls("     6 D$3", 1000, 'q');  // within 10 x 38400 polls
  EXPECT_EQ(run({"X", "COM3"}), kExitAborted);
  const Lines expected = Lines{"     6 D$3", " ", ">Aborting transfer..."} + kRestoreLines;
  EXPECT_EQ(section(lines(), "     6 D$3", ""), expected);
  EXPECT_EQ(raw(), joined(numbered("D$", 3)));
}

TEST_F(SessionSim, QAfterALongSilenceIsATimeOutWithoutRestoreOrShutDown) {
  start_sensor(kTenLines, {"--silent-after", "3"});
  // More than 10 x 38400 = 384000 empty polls.
  console_.press_after_line_and_idle_polls("     6 D$3", 500'000, 'q');
  EXPECT_EQ(run({"X", "COM3"}), kExitTimeout);
  const Lines expected = Lines{"     6 D$3"} + kTimeoutReport +
                         Lines{">Data Upload Phase Terminated.", " ", "Start Data Transcription Phase",
                               " Transcribing RAW data files from Sensor to file types X as follows:",
                               ">>>Transcribe to file type X"};
  EXPECT_EQ(section(lines(), "     6 D$3", "<none>").size() >= expected.size(), true);
  const Lines got = section(lines(), "     6 D$3", "<none>");
  EXPECT_EQ(Lines(got.begin(), got.begin() + static_cast<long>(std::min(got.size(), expected.size()))),
            expected);
  // The partial RAW file is kept and transcribed.
  EXPECT_EQ(raw(), joined(numbered("D$", 3)));
  for (const std::string& f : frames()) EXPECT_EQ(f.find("AA 85"), std::string::npos);
}

// The port named by its device path, as a USB adapter is (/dev/ttyUSB0):
// the lost link is named by the device too.
TEST_F(SessionSim, HangUpDuringTheUploadLosesNoLineAndEndsTheSession) {
  start_sensor(kTenLines, {"--hangup-after", "4"});
  const std::string device = fs::canonical(cwd_.path() / "ports" / "COM3").string();
  EXPECT_EQ(run({"X", device}), kExitTimeout);
  const Lines got = lines();
  const auto lost = std::find_if(got.begin(), got.end(), [&](const std::string& l) {
    return l.rfind("*** Lost the link to the sensor on port " + device + ": ", 0) == 0;
  });
  ASSERT_NE(lost, got.end()) << console_.transcript();
  // One line names the port and the error, then the time-out report.
  EXPECT_EQ(Lines(lost + 1, lost + 1 + static_cast<long>(kTimeoutReport.size())), kTimeoutReport);
  EXPECT_EQ(std::find(got.begin(), got.end(), kRestoreLines[0]), got.end());
  EXPECT_NE(std::find(got.begin(), got.end(), ">>>Transcribe to file type X"), got.end());
  // Every line the sensor sent before it hung up is in the RAW file.
  EXPECT_EQ(raw(), joined(numbered("D$", 4)));
  EXPECT_TRUE(sim_.ends_within(std::chrono::seconds(15)));
}

TEST_F(SessionSim, UnreadableHeaderEndsTheUploadButStillShutsTheSensorDown) {
  const Lines memory = {"C$000000 KALVOR-H10 SW VERSION 1.5a", "H$0A0203 LINE0001 081226 100", "T$1",
                        "Z$"};
  start_sensor(memory);
  EXPECT_EQ(run({"X", "COM3"}), kExitParseError);
  // Record 3 is the header; the line is shown in 256 characters.
  const Lines expected =
      Lines{"     2 C$000000 KALVOR-H10 SW VERSION 1.5a",
            " *** Fatal parsing error in input string at " + std::string("           3") +
                std::string("H$0A0203 LINE0001 081226 100") + std::string(256 - 28, ' ')} +
      kRestoreLines + kShutDownLines + Lines{">Data Upload Phase Terminated."};
  EXPECT_EQ(section(lines(), "     2 C$000000 KALVOR-H10 SW VERSION 1.5a", " "), expected);
  EXPECT_EQ(raw(), joined(Lines(memory.begin(), memory.begin() + 2)));
  EXPECT_EQ(frame_count("38400:4E"), 1);
}

TEST_F(SessionSim, HeadersAndCommentsAreReportedAndListed) {
  const Lines memory = {
      "H$010203          081226 100",  // first line, no survey name
      "C$111111 same comment",
      "C$222222 Same Comment",           // the same text once upper-cased
      "C$000000 USER OFFSETS ENABLED",   // not read as an identification
      "H$040506 LINE0002 081226 7",      // 26 characters
      "Z$",
  };
  start_sensor(memory);
  console_.press_after_line("Press Y for yes", 'n');
  EXPECT_EQ(run({"X", "COM3"}), kExitOk);
  const Lines expected = {
      " >Kalvor Length =         100",
      ">No data in file preceding header:",
      ">Deleting empty default output file",
      " >Output file: Default.raw        ",
      "     2 H$010203          081226 100",
      "     4 C$111111 same comment",
      "     6 C$222222 Same Comment",
      "     8 C$000000 USER OFFSETS ENABLED",
      " >Kalvor Length =           7",
      " >Output file: LINE0002.raw       ",
      "    10 H$040506 LINE0002 081226 7",
      "    12 Z$",
  };
  EXPECT_EQ(section(lines(), " >Kalvor Length =         100", ">End of Sensor data upload."), expected);
  EXPECT_EQ(read_file(cwd_.path() / "fort.9"), "    1 SAME COMMENT    \n");
  EXPECT_EQ(raw(), joined(memory));
}

TEST_F(SessionSim, RawFileThatCannotBeWrittenStopsBeforeAnyLineIsAccepted) {
  // The RAW name leads to a device that is always full.
  fs::create_symlink("/dev/full", cwd_.path() / kRawName);
  start_sensor(kTenLines);
  EXPECT_EQ(run({"X", "COM3"}), kExitRawFileError);
  const Lines expected = Lines{" *** Write error on outfile=" + kRawName,
                               "cannot write " + kRawName + ": No space left on device", " ",
                               ">Aborting transfer..."} +
                         kRestoreLines + kShutDownLines + Lines{">Data Upload Phase Terminated."} +
                         kNothingUploaded + Lines{"Exiting..."};
  EXPECT_EQ(section(lines(), " *** Write error on outfile=" + kRawName, "<none>"), expected);
  // No line was acknowledged: the sensor still holds all of them.
  EXPECT_EQ(frame_count("38400:4E"), 0);
}

TEST_F(SessionSim, BuiltInSurveyIsTranscribedOncePerTypeInOrder) {
  start_sensor(std::nullopt, {"--builtin-lines", "30"});
  console_.press_after_line("Press Y for yes", 'n');
  EXPECT_EQ(run({"LX", "COM3"}), kExitOk);
  const Lines got = lines();
  std::vector<std::string> hand_off;
  for (const std::string& l : got) {
    if (l.rfind(">>>Transcribe to file type ", 0) == 0 || l == "   Data  successfully transcribed!" ||
        l.rfind("   Error code was ", 0) == 0) {
      hand_off.push_back(l);
    }
  }
  const std::vector<std::string> expected = {
      ">>>Transcribe to file type X", "   Data  successfully transcribed!",
      ">>>Transcribe to file type L", "   Data  successfully transcribed!"};
  EXPECT_EQ(hand_off, expected);
  // One report after all the transcriptions, named on the last line.
  EXPECT_EQ(got.back(), "   Quick-look report: XC143015-12082026.html");
  EXPECT_EQ(std::count_if(got.begin(), got.end(),
                          [](const std::string& l) { return l.find("Quick-look report") != std::string::npos; }),
            1);
  // 30 lines, each counted twice.
  EXPECT_NE(std::find(got.begin(), got.end(), " Records saved:    60"), got.end());
  // The RAW file and the transcription's outputs are left beside each other.
  const auto names = files();
  EXPECT_NE(std::find(names.begin(), names.end(), kRawName), names.end());
  EXPECT_GT(names.size(), 2u);
}

struct ProgressCase {
  const char* rate;
  Lines shown;
};

// Fifteen data lines: records 2, 4, ... 30 and the end line 32. At 38400 the
// progress shows every record up to 20, then only multiples of 10; below
// 9600 every accepted line is shown.
Lines progress_shown(const Lines& all) {
  Lines shown;
  for (const std::string& l : all) {
    if (l.size() > 7 && l[6] == ' ' && l.substr(7, 1) != " " && l.find('$') == 8) shown.push_back(l);
  }
  return shown;
}

TEST_F(SessionSim, ProgressLinesAt38400ThinOutAfterRecord20) {
  start_sensor(numbered("D$", 15) + Lines{"Z$"});
  console_.press_after_line("Press Y for yes", 'n');
  EXPECT_EQ(run({"X", "COM3", "38400"}), kExitOk);
  const Lines expected = {"     2 D$1",  "     4 D$2",  "     6 D$3",  "     8 D$4",
                          "    10 D$5",  "    12 D$6",  "    14 D$7",  "    16 D$8",
                          "    18 D$9",  "    20 D$10", "    30 D$15"};
  EXPECT_EQ(progress_shown(lines()), expected);
}

TEST_F(SessionSim, ProgressLinesBelow9600ShowEveryAcceptedLine) {
  start_sensor(numbered("D$", 15) + Lines{"Z$"});
  console_.press_after_line("Press Y for yes", 'n');
  EXPECT_EQ(run({"X", "COM3", "4800"}), kExitOk);
  Lines expected;
  for (int i = 1; i <= 15; ++i) {
    const std::string record = std::to_string(2 * i);
    expected.push_back(std::string(6 - record.size(), ' ') + record + " D$" + std::to_string(i));
  }
  expected.push_back("    32 Z$");
  EXPECT_EQ(progress_shown(lines()), expected);
  EXPECT_TRUE(has_line(changed_line("        4800")));
}

TEST_F(SessionSim, CommentListKeepsOneHundredSlotsAndTheLastOneTakesTheRest) {
  // 101 distinct comments, then the first one again.
  Lines memory;
  Lines expected_list;
  for (int i = 1; i <= 101; ++i) {
    const std::string number = std::string(i < 10 ? "00" : i < 100 ? "0" : "") + std::to_string(i);
    memory.push_back("C$010101 note " + number);
    // The text in columns 10-25, upper-cased and padded to 16.
    const std::string text = "NOTE " + number + std::string(8, ' ');
    // Slots 1..99 take the first 99; the 100th and the 101st go to slot 100.
    const int slot = std::min(i, 100);
    const std::string slot_text = std::to_string(slot);
    expected_list.push_back(std::string(5 - slot_text.size(), ' ') + slot_text + " " + text);
  }
  memory.push_back("C$020202 Note 001");
  memory.push_back("Z$");
  start_sensor(memory);
  console_.press_after_line("Press Y for yes", 'n');
  EXPECT_EQ(run({"X", "COM3"}), kExitOk);
  EXPECT_EQ(read_file(cwd_.path() / "fort.9"), joined(expected_list));
  EXPECT_EQ(raw(), joined(memory));
}

TEST_F(SessionSim, QRightAfterTheAbortHintIsATimeOutBeforeAnyLine) {
  start_sensor(kTenLines);
  console_.press_after_line(">Press QQ to abort data transfer", 'q');
  EXPECT_EQ(run({"X", "COM3"}), kExitTimeout);
  const Lines expected = kUploadStart + kTimeoutReport +
                         Lines{">Data Upload Phase Terminated."} + kNothingUploaded +
                         Lines{"Empty RAW file deleted.", "Exiting..."};
  EXPECT_EQ(section(lines(), ">Press QQ to abort data transfer", "<none>"), expected);
  EXPECT_TRUE(files().empty());
  EXPECT_EQ(frame_count("38400:AA 90 55"), 0);
}

TEST_F(SessionSim, UnreadableModelNumberIsAParseError) {
  // "KALVOR-" is followed by "X1Z": no three-digit number.
  const Lines memory = {"C$000000 KALVOR-X1Z SW VERSION 1.5a", "D$1", "Z$"};
  start_sensor(memory);
  EXPECT_EQ(run({"X", "COM3"}), kExitParseError);
  const std::string id = "KALVOR-X1Z SW VERSION 1.5a";
  const Lines expected = {"InstrumentID >" + id + std::string(40 - id.size(), ' '),
                          " *** Fatal parsing error in input string at " + std::string("           1") +
                              memory[0] + std::string(256 - memory[0].size(), ' '),
                          kRestoreLines[0]};
  EXPECT_EQ(section(lines(), expected[0], kRestoreLines[1]), expected);
  EXPECT_EQ(raw(), memory[0] + "\n");
  EXPECT_EQ(frame_count("38400:4E"), 0);
}

TEST_F(SessionSim, OverlongCommentAndHeaderAreRequestedAgain) {
  const Lines memory = {"C$123456 first comment", "H$010203 LINE0001 081226 100", "D$1", "Z$"};
  // Line 1 arrives once padded to 60 characters (over 50), line 2 to 30
  // (a header must have 26 or 28).
  start_sensor(memory, {"--noise", "long:1:60", "--noise", "long:2:30"});
  console_.press_after_line("Press Y for yes", 'n');
  EXPECT_EQ(run({"X", "COM3"}), kExitOk);
  const Lines expected = {
      " Transfer error on packet     2 -Retrying.",
      "     3 C$123456 first comment",
      " Transfer error on packet     5 -Retrying.",
      " >Kalvor Length =         100",
      " >Output file: LINE0001.raw       ",
      "     6 H$010203 LINE0001 081226 100",
      "     8 D$1",
      "    10 Z$",
  };
  EXPECT_EQ(section(lines(), expected[0], ">End of Sensor data upload."), expected);
  const std::string padded_comment = memory[0] + std::string(60 - memory[0].size(), ' ');
  const std::string padded_header = memory[1] + std::string(30 - memory[1].size(), ' ');
  EXPECT_EQ(raw(), joined({"*REJECTED* " + padded_comment, memory[0], "*REJECTED* " + padded_header, memory[1],
                           "D$1", "Z$"}));
  EXPECT_EQ(frame_count("38400:52"), 2);
}

}  // namespace
}  // namespace kal

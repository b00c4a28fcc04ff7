// kalfetch5 against a sensor whose line is noisy: every kind of damage in
// one upload, standard input at its end from the start (a script that gave
// no answers). The damaged lines are asked for again with "R", every good
// line of the memory reaches the RAW file, the pieces of the damaged ones
// stand there marked as rejected, the prompts take the end of input as "no"
// and "keep the value", and the run ends normally. Every output of every
// type, the exports and the report are those of the same memory received
// clean: a noisy cable never changes the survey data.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <set>
#include <string>

#include "e2e/fault_harness.h"
#include "e2e/fault_survey.h"

namespace kal::faulttest {
namespace {

constexpr int kSessionLimitMs = 150000;

TEST(FaultNoise, EveryDamageInOneUploadLosesNoLine) {
  const Lines memory = survey_memory(20);  // 3 header lines, 20 stations, 4 GGA, Z$: 28 lines
  ASSERT_EQ(memory.size(), 28u);
  // Upload lines counted from 1: 2 is the comment, 8 and 12 are stations.
  Sensor sensor;
  ASSERT_TRUE(sensor.start(memory, {"--noise", "long:2:300",      // comment longer than 50
                                    "--noise", "junk:5:40",       // a garbage line before line 5
                                    "--noise", "long:8:300",      // 300 characters: cut at 256
                                    "--noise", "nul:10",          // two NUL bytes inside
                                    "--noise", "cr:12",           // CR without LF
                                    "--noise", "burst:15:100000"  // far more than the ring holds
                                   }));
  Folder cwd;
  Kalfetch run;
  ASSERT_TRUE(run.start(cwd.path(), {"XGDLSP", "COM3", "38400"}, sensor.port_dir(), Input::pipe));
  const Finished f = run.finish(kSessionLimitMs);
  ASSERT_FALSE(f.timed_out) << numbered(f.lines);
  ASSERT_TRUE(f.exited) << "signal " << f.signal;
  EXPECT_EQ(f.status, 0) << numbered(f.lines);

  const std::string raw_name = session_raw_name(cwd.path());
  ASSERT_FALSE(raw_name.empty()) << numbered(f.lines);
  const Lines raw = trimmed_lines(split_lines(read_file(cwd.path() / raw_name)));
  std::string missing;
  EXPECT_TRUE(holds_in_order(raw, memory, missing)) << "missing: " << missing << "\n" << numbered(raw);
  // The 300-character line 8 is refused whole: its first 256 characters
  // (written behind the rejected mark, as every damaged piece is) are
  // followed by its clean repeat, not by its blank rest answered as a line
  // of its own.
  const Lines raw_as_written = split_lines(read_file(cwd.path() / raw_name));
  const std::string cut_line8 =
      std::string(kRejectedMark) + memory[7] + std::string(256 - memory[7].size(), ' ');
  const auto at = std::find(raw_as_written.begin(), raw_as_written.end(), cut_line8);
  ASSERT_NE(at, raw_as_written.end()) << numbered(raw_as_written);
  ASSERT_NE(at + 1, raw_as_written.end());
  EXPECT_EQ(*(at + 1), memory[7]);
  // Each damaged line is answered with a transfer error: the long comment,
  // the junk line, the cut-off tail of line 8, the NUL line, the burst.
  EXPECT_GE(count_containing(f.lines, " Transfer error on packet "), 5) << numbered(f.lines);
  EXPECT_GE(sensor.heard("H> 38400 52"), 5);
  // The upload reached the end-of-data line.
  EXPECT_TRUE(has_line(f.lines, ">End of Sensor data upload.")) << numbered(f.lines);
  EXPECT_TRUE(has_line(f.lines, "Clear Sensor data memory?"));
  // End of input at the clear prompt is "any other key": nothing cleared.
  EXPECT_EQ(sensor.heard("AA 91 19 55"), 0);
  EXPECT_EQ(read_file(sensor.memory_file), joined(memory));
  // End of input at the height prompt keeps 0.2.
  EXPECT_TRUE(has_line(f.lines, ">>>> Sensor has been shut down..."));
  EXPECT_TRUE(has_line(f.lines, ">>>Transcribe to file type X"));
  EXPECT_TRUE(has_line(f.lines, "   Data  successfully transcribed!")) << numbered(f.lines);
  // Every station reaches the survey's output (a line accepted twice, when an
  // "R" crossed an "N", gives its station twice).
  std::set<int> stations;
  for (const std::string& l : split_lines(read_file(cwd.path() / "LINE0001.xyz"))) {
    if (l.starts_with("\\")) continue;  // the header lines of the G output, written over the X one
    stations.insert(std::stoi(l.substr(0, 6)));
  }
  std::set<int> all;
  for (int i = 1; i <= 20; ++i) all.insert(i);
  EXPECT_EQ(stations, all);

  std::vector<std::pair<int, int>> damaged;
  expect_memory_and_marked_pieces(raw_as_written, memory, damaged);
  ASSERT_FALSE(damaged.empty());
  std::string problem;
  const Outputs clean = clean_crew_outputs(memory, problem);
  ASSERT_FALSE(clean.empty()) << problem;
  const Outputs noisy = crew_outputs(cwd.path(), raw_name, problem);
  ASSERT_FALSE(noisy.empty()) << problem;
  std::vector<std::string> sentences;
  expect_outputs_as_clean(noisy, clean, static_cast<int>(raw_as_written.size()),
                          static_cast<int>(memory.size()), sentences);
  // Both reports, the session's and kalxlat's, count the damaged
  // transmissions: one per "R" the sensor heard.
  const std::size_t asked = static_cast<std::size_t>(sensor.heard("H> 38400 52"));
  EXPECT_EQ(damaged.size(), asked);
  const std::string want = test::damaged_sentence(asked, damaged.front().first, damaged.back().second);
  EXPECT_EQ(sentences, (std::vector<std::string>{want, want}));
}

}  // namespace
}  // namespace kal::faulttest

namespace kal::faulttest {
namespace {

// The numbers K of the simulator's notes "line K <what>", in trace order.
std::vector<int> noted_lines(const std::string& trace_file, std::string_view what) {
  std::vector<int> numbers;
  const std::string suffix = " " + std::string(what);
  for (const std::string& l : test::trace_lines(trace_file)) {
    const auto at = l.find(" -- ");
    const auto line = l.find(" line ", at == std::string::npos ? 0 : at);
    if (at == std::string::npos || line == std::string::npos) continue;
    if (l.size() < suffix.size() || l.compare(l.size() - suffix.size(), suffix.size(), suffix) != 0) continue;
    numbers.push_back(std::stoi(l.substr(line + 6)));
  }
  return numbers;
}

// Every rate the session offers; the paced sensor sends byte by byte at
// the byte rate, as a UART hands the bytes over.
const std::vector<std::string> kPacedRates = {"1200",  "2400",  "4800",  "9600",
                                              "19200", "38400", "57600", "115200"};

bool slow_rate(const std::string& baud) { return std::stoi(baud) < 9600; }

std::vector<std::string> with_paced_sensor(std::vector<std::string> options) {
  options.insert(options.begin(), "--byte-writes");
  return options;
}

// "sending held up MS ms" notes of MS >= 100: a simulator the machine held
// up that long leaves a pause the session rightly takes for the end of a line.
int long_hold_ups(const std::string& trace_file) {
  int n = 0;
  for (const std::string& l : test::trace_lines(trace_file)) {
    const auto at = l.find("sending held up ");
    if (at != std::string::npos && std::stoi(l.substr(at + 16)) >= 100) ++n;
  }
  return n;
}

// The trace lines before and at each note holding `text`, for a failure's
// message.
std::string trace_around(const std::string& trace_file, std::string_view text) {
  const Lines trace = test::trace_lines(trace_file);
  std::string out;
  for (std::size_t i = 0; i < trace.size(); ++i) {
    if (trace[i].find(text) == std::string::npos) continue;
    for (std::size_t j = i >= 8 ? i - 8 : 0; j <= i; ++j) out += trace[j].substr(0, 160) + "\n";
  }
  return out;
}

// A clean line at the real byte rate, from a sensor that begins each line
// 120 ms after the answer that asked for it (longer than the quiet gap that
// ends a transmission: a quiet line before the first byte ends nothing):
// every line accepted at its first sending, none asked again, the RAW file
// the memory itself.
class PacedLinkClean : public ::testing::TestWithParam<std::string> {};

TEST_P(PacedLinkClean, EveryLineIsAcceptedAtItsFirstSending) {
  const std::string baud = GetParam();
  const Lines memory = survey_memory(slow_rate(baud) ? 10 : 40);  // 16 or 52 lines
  Sensor sensor;
  ASSERT_TRUE(sensor.start(memory, with_paced_sensor({"--reply-delay", "120"})));
  Folder cwd;
  Kalfetch run;
  ASSERT_TRUE(run.start(cwd.path(), {"X", "COM3", baud}, sensor.port_dir(), Input::pipe, "n\n"));
  const Finished f = run.finish(kSessionLimitMs);
  ASSERT_FALSE(f.timed_out) << numbered(f.lines);
  EXPECT_EQ(f.status, 0) << numbered(f.lines);

  const int hold_ups = long_hold_ups(sensor.trace_file);
  std::vector<int> expected(memory.size() - 1);
  for (std::size_t k = 0; k < expected.size(); ++k) expected[k] = static_cast<int>(k) + 1;
  const std::vector<int> accepted = noted_lines(sensor.trace_file, "accepted");
  const int asked = static_cast<int>(noted_lines(sensor.trace_file, "asked again").size());
  EXPECT_EQ(accepted, expected);
  if (hold_ups == 0) {
    EXPECT_EQ(asked, 0) << numbered(f.lines);
    EXPECT_EQ(count_containing(f.lines, " Transfer error on packet "), 0) << numbered(f.lines);
    EXPECT_EQ(split_lines(read_file(cwd.path() / session_raw_name(cwd.path()))), memory);
  } else {
    EXPECT_LE(asked, hold_ups) << "the simulator was held up " << hold_ups << " times";
  }
  EXPECT_EQ(sensor.heard("second answer to one sending"), 0)
      << trace_around(sensor.trace_file, "second answer to one sending");
  EXPECT_EQ(sensor.heard("answer before the end of line"), 0)
      << trace_around(sensor.trace_file, "answer before the end of line");
  EXPECT_TRUE(has_line(f.lines, "   Data  successfully transcribed!")) << numbered(f.lines);
}

INSTANTIATE_TEST_SUITE_P(Rates, PacedLinkClean, ::testing::ValuesIn(kPacedRates));

// The outputs of a clean session of `memory`, made once for all the rates
// that compare with them.
const Outputs& clean_outputs_of(const Lines& memory) {
  static std::map<std::string, Outputs> made;
  const std::string key = joined(memory);
  auto found = made.find(key);
  if (found == made.end()) {
    std::string problem;
    found = made.emplace(key, clean_crew_outputs(memory, problem)).first;
    if (found->second.empty()) ADD_FAILURE() << problem;
  }
  return found->second;
}

// A noisy cable at the real byte rate, byte by byte: bytes turned into CR
// (in the middle, right after the tag), a byte with its top bit flipped (in
// a reading and in a GGA sentence), a lost CR, a lost LF, noise right after
// a line end, a tail held back less than the quiet gap, a garbage line, a
// burst, NUL bytes, an over-long line and a comment run into the next
// station, all in one upload of 35 lines (at the slow rates a shorter
// burst). From the simulator's own record: every line of the memory
// accepted exactly once, in order, and no sending answered twice or
// answered before it had arrived whole. The survey files of every type, the
// exports and the report are those of the same memory received clean.
class PacedLinkNoise : public ::testing::TestWithParam<std::string> {};

TEST_P(PacedLinkNoise, NoisyUploadAnswersEachTransmissionOnce) {
  const std::string baud = GetParam();
  const bool slow = slow_rate(baud);
  constexpr int every = 2;
  // Upload lines counted from 1: a fault on line `every` * k, k = 1..12.
  auto line = [](int k) { return std::to_string(every * k); };
  Lines memory = survey_memory(25);  // 3 header lines, 25 stations, 5 GGA, Z$
  // A second comment as upload line 29, before the station of line 30.
  memory.insert(memory.begin() + 28, "C$100422 SECOND COMMENT");
  ASSERT_EQ(memory.size(), 35u);
  ASSERT_EQ(memory[static_cast<std::size_t>(every * 3 - 1)].size(), 57u);  // the drops strike T$ stations
  ASSERT_EQ(memory[static_cast<std::size_t>(every * 4 - 1)].size(), 57u);
  ASSERT_EQ(memory[26].substr(0, 8), "G$GPGGA,");  // upload line 27
  ASSERT_EQ(memory[29].substr(0, 2), "T$");         // upload lines 30 and 31
  ASSERT_EQ(memory[30].substr(0, 2), "T$");
  Sensor sensor;
  ASSERT_TRUE(sensor.start(memory, with_paced_sensor({
                                       "--noise", "cut:" + line(1),             // CR in the middle
                                       "--noise", "flip:" + line(2),            // a byte above 127
                                       "--noise", "drop:" + line(3) + ":58",    // the CR lost: LF alone
                                       "--noise", "drop:" + line(4) + ":59",    // the LF lost: CR, then silence
                                       "--noise", "after:" + line(5) + ":30",   // noise right after the line end
                                       "--noise", "tail:" + line(6) + ":8",     // the tail 8 ms late
                                       "--noise", "junk:" + line(7) + ":40",    // a garbage line before the line
                                       "--noise", "burst:" + line(8) + (slow ? ":200" : ":2000"),
                                       "--noise", "cut:" + line(9) + ":5",      // CR after "T$10"
                                       "--noise", "nul:" + line(10),
                                       "--noise", "long:" + line(11) + ":300",
                                       "--noise", "cut:" + line(12) + ":3",     // "T$" alone, then the rest
                                       "--noise", "flip:27",                    // a byte above 127 in a GGA sentence
                                       "--noise", "join:29",                    // the comment run into the station
                                       "--noise", "after:31:2"})));             // two noise bytes after the line end
  Folder cwd;
  Kalfetch run;
  ASSERT_TRUE(run.start(cwd.path(), {"XGDLSP", "COM3", baud}, sensor.port_dir(), Input::pipe, "n\n"));
  const Finished f = run.finish(kSessionLimitMs);
  ASSERT_FALSE(f.timed_out) << numbered(f.lines);
  EXPECT_EQ(f.status, 0) << numbered(f.lines);

  std::vector<int> expected(memory.size() - 1);  // Z$ is never answered
  for (std::size_t k = 0; k < expected.size(); ++k) expected[k] = static_cast<int>(k) + 1;
  EXPECT_EQ(noted_lines(sensor.trace_file, "accepted"), expected);
  EXPECT_EQ(sensor.heard("second answer to one sending"), 0)
      << trace_around(sensor.trace_file, "second answer to one sending");
  EXPECT_EQ(sensor.heard("answer before the end of line"), 0)
      << trace_around(sensor.trace_file, "answer before the end of line");
  // Each damaged sending was asked for again once: every faulted line but
  // the 4th (its CR arrived, then silence: a clean line), the 5th (answered
  // before the noise came, or run together with it) and the 6th (its tail
  // came within the quiet gap); the GGA sentence and the joined comment too.
  const std::vector<int> asked = noted_lines(sensor.trace_file, "asked again");
  for (int l : {2, 4, 6, 14, 16, 18, 20, 22, 24, 27, 29}) {
    EXPECT_EQ(std::count(asked.begin(), asked.end(), l), 1) << "line " << l;
  }
  for (int l : {8, 12}) EXPECT_EQ(std::count(asked.begin(), asked.end(), l), 0) << "line " << l;

  const std::string raw_name = session_raw_name(cwd.path());
  ASSERT_FALSE(raw_name.empty()) << numbered(f.lines);
  const Lines raw = split_lines(read_file(cwd.path() / raw_name));
  std::string missing;
  EXPECT_TRUE(holds_in_order(trimmed_lines(raw), memory, missing)) << "missing: " << missing;
  EXPECT_TRUE(has_line(f.lines, "   Data  successfully transcribed!")) << numbered(f.lines);

  std::vector<std::pair<int, int>> damaged;
  expect_memory_and_marked_pieces(raw, memory, damaged);
  EXPECT_EQ(damaged.size(), asked.size());
  ASSERT_FALSE(damaged.empty());
  const Outputs& clean = clean_outputs_of(memory);
  ASSERT_FALSE(clean.empty());
  std::string problem;
  const Outputs noisy = crew_outputs(cwd.path(), raw_name, problem);
  ASSERT_FALSE(noisy.empty()) << problem;
  std::vector<std::string> sentences;
  expect_outputs_as_clean(noisy, clean, static_cast<int>(raw.size()), static_cast<int>(memory.size()),
                          sentences);
  const std::string want = test::damaged_sentence(asked.size(), damaged.front().first, damaged.back().second);
  EXPECT_EQ(sentences, (std::vector<std::string>{want, want}));
}

INSTANTIATE_TEST_SUITE_P(Rates, PacedLinkNoise, ::testing::ValuesIn(kPacedRates));

}  // namespace
}  // namespace kal::faulttest

// kalfetch5 against a sensor whose line is noisy: every kind of damage in
// one upload, standard input at its end from the start (a script that gave
// no answers). The damaged lines are asked for again with "R", every good
// line of the memory reaches the RAW file, the prompts take the end of
// input as "no" and "keep the value", and the run ends normally.
#include <gtest/gtest.h>

#include <algorithm>
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
  ASSERT_TRUE(run.start(cwd.path(), {"X", "COM3", "38400"}, sensor.port_dir(), Input::pipe));
  const Finished f = run.finish(kSessionLimitMs);
  ASSERT_FALSE(f.timed_out) << numbered(f.lines);
  ASSERT_TRUE(f.exited) << "signal " << f.signal;
  EXPECT_EQ(f.status, 0) << numbered(f.lines);

  const std::string raw_name = session_raw_name(cwd.path());
  ASSERT_FALSE(raw_name.empty()) << numbered(f.lines);
  const Lines raw = trimmed_lines(split_lines(slurp(cwd.path() / raw_name)));
  std::string missing;
  EXPECT_TRUE(holds_in_order(raw, memory, missing)) << "missing: " << missing << "\n" << numbered(raw);
  // The 300-character line 8 is refused whole: its first 256 characters
  // (written, as every received line is) are followed by its clean repeat,
  // not by its blank rest answered as a line of its own.
  const Lines raw_as_written = split_lines(slurp(cwd.path() / raw_name));
  const std::string cut_line8 = memory[7] + std::string(256 - memory[7].size(), ' ');
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
  EXPECT_EQ(slurp(sensor.memory_file), joined(memory));
  // End of input at the height prompt keeps 0.2.
  EXPECT_TRUE(has_line(f.lines, ">>>> Sensor has been shut down..."));
  EXPECT_TRUE(has_line(f.lines, ">>>Transcribe to file type X"));
  EXPECT_TRUE(has_line(f.lines, "   Data  successfully transcribed!")) << numbered(f.lines);
  // Every station reaches the survey's output (a line accepted twice, when an
  // "R" crossed an "N", gives its station twice).
  std::set<int> stations;
  for (const std::string& l : split_lines(slurp(cwd.path() / "LINE0001.xyz"))) {
    stations.insert(std::stoi(l.substr(0, 6)));
  }
  std::set<int> all;
  for (int i = 1; i <= 20; ++i) all.insert(i);
  EXPECT_EQ(stations, all);
}

}  // namespace
}  // namespace kal::faulttest

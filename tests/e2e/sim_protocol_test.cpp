// kalvor-sim as a host meets it: the query, the listening speed, the rate
// change, the clear sequence, shut-down, cold start and the wire trace.
#include <gtest/gtest.h>

#include <regex>

#include "support/sim_harness.h"

namespace kal::test {
namespace {

const std::string kReady = "KALVOR READY\r\n";

class SimProtocol : public ::testing::Test {
 protected:
  void start(std::vector<std::string> args, int host_baud = 38400) {
    args.insert(args.begin(), {"--port", "3", "--trace", folder.file("wire.trace")});
    ASSERT_TRUE(sim.start(folder.path(), args)) << sim.ready_output();
    ASSERT_TRUE(line.open(sim.port_path(), host_baud));
  }

  std::string trace() const { return folder.file("wire.trace"); }

  TempDir folder;
  SimProcess sim;
  SensorLine line;
};

TEST_F(SimProtocol, PublishesTheSlaveAsComNInTheFolder) {
  start({});
  EXPECT_EQ(sim.ready_output(), "PORT_DIR=" + folder.path().string() + "\nPORT=COM3\n");
  EXPECT_TRUE(std::filesystem::is_symlink(folder.file("COM3")));
  EXPECT_EQ(sim.stop(), 0);
  EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(folder.file("COM3"))))
      << "the link is removed on SIGTERM";
}

TEST_F(SimProtocol, MakesTheFolderWhenMissing) {
  const std::string nested = folder.file("a/b");
  ASSERT_TRUE(sim.start(nested, {"--port", "12"}));
  EXPECT_EQ(sim.port_path(), nested + "/COM12");
  EXPECT_TRUE(std::filesystem::is_symlink(nested + "/COM12"));
}

TEST_F(SimProtocol, AnswersTheQueryAtItsSpeed) {
  start({});
  line.send(kQueryFrame);
  EXPECT_EQ(line.read_line(2000), kReady);
}

TEST_F(SimProtocol, IgnoresAQueryAtAnotherSpeed) {
  start({}, 9600);
  line.send(kQueryFrame);
  EXPECT_TRUE(wait_for_trace(trace(), "H! 9600 AA 80 55"));
  EXPECT_EQ(line.read_for(300), "");
  line.set_speed(38400);
  line.send(kQueryFrame);
  EXPECT_EQ(line.read_line(2000), kReady) << "still alive at its own speed";
}

TEST_F(SimProtocol, StartsAtTheRateGiven) {
  start({"--baud", "115200"}, 38400);
  line.send(kQueryFrame);
  EXPECT_TRUE(wait_for_trace(trace(), "H! 38400 AA 80 55"));
  EXPECT_EQ(line.read_for(300), "");
  line.set_speed(115200);
  line.send(kQueryFrame);
  EXPECT_EQ(line.read_line(2000), kReady);
}

TEST_F(SimProtocol, AnswersWithTheReplyGiven) {
  start({"--reply", "KALVOR REPLY 21HQ"});
  line.send(kQueryFrame);
  EXPECT_EQ(line.read_line(2000), "KALVOR REPLY 21HQ\r\n");
}

// Walks the sensor through every code of the rate table: each frame is sent
// at the rate the sensor listens at, after which it hears only the new rate.
TEST_F(SimProtocol, SetBaudFrameSwitchesToTheRateOfItsCode) {
  struct Step {
    int code;
    int baud;
  };
  const Step steps[] = {{3, 9600},  {0, 1200},  {7, 115200}, {1, 2400},
                        {6, 57600}, {2, 4800},  {4, 19200},  {5, 38400}};
  start({});
  int current = 38400;
  for (const Step& step : steps) {
    SCOPED_TRACE(step.baud);
    line.send(set_baud_frame(step.code));
    EXPECT_TRUE(wait_for_trace(trace(), "rate " + std::to_string(current) + " -> " +
                                            std::to_string(step.baud)));
    EXPECT_EQ(line.read_for(100), "") << "the rate change is not answered";
    if (step.baud != current) {
      line.send(kQueryFrame);
      EXPECT_TRUE(wait_for_trace(trace(), "H! " + std::to_string(current) + " AA 80 55"));
      EXPECT_EQ(line.read_for(100), "") << "the old rate is no longer heard";
    }
    line.set_speed(step.baud);
    line.send(kQueryFrame);
    EXPECT_EQ(line.read_line(2000), kReady);
    current = step.baud;
  }
}

TEST_F(SimProtocol, SetBaudWithAnUnknownCodeKeepsTheRate) {
  start({});
  line.send(set_baud_frame(8));
  line.read_for(150);
  line.send(kQueryFrame);
  EXPECT_EQ(line.read_line(2000), kReady);
}

TEST_F(SimProtocol, ClearSequenceIsNotAnswered) {
  start({});
  line.send("4");
  line.send("\xEE\xEE");
  EXPECT_EQ(line.read_for(300), "");
  line.send(kQueryFrame);
  EXPECT_EQ(line.read_line(2000), kReady);
}

TEST_F(SimProtocol, ShutDownSilencesTheSensor) {
  start({});
  line.send(kShutDownFrame);
  line.read_for(150);
  const std::string frames[] = {kQueryFrame, kStartUploadFrame, set_baud_frame(3)};
  for (const auto& frame : frames) {
    line.send(frame);
    EXPECT_EQ(line.read_for(300), "");
  }
}

TEST_F(SimProtocol, ColdStartIgnoresTheFirstQueries) {
  start({"--cold-start", "2"});
  for (int query = 1; query <= 2; ++query) {
    line.send(kQueryFrame);
    EXPECT_EQ(line.read_for(300), "") << "query " << query;
  }
  line.send(kQueryFrame);
  EXPECT_EQ(line.read_line(2000), kReady);
  line.send(kQueryFrame);
  EXPECT_EQ(line.read_line(2000), kReady) << "answers every later query";
}

TEST_F(SimProtocol, BrokenFramesAreNotTakenForCommands) {
  start({});
  // A query without its end byte, a frame of an unknown command, a clear-memory
  // frame with a wrong key byte, then a valid query right after a stray 0xAA.
  line.send("\xAA\x80\x54");
  line.send("\xAA\x42\x55");
  line.send("\xAA\x91\x18\x55");
  EXPECT_EQ(line.read_for(300), "");
  line.send("\xAA");
  line.send(kQueryFrame);
  EXPECT_EQ(line.read_line(2000), kReady);
}

// Any byte stream: the sensor neither crashes nor loses its way. The stream
// avoids the two commands that would change what the check below expects
// (0x81 rate change, 0x85 shut-down).
TEST_F(SimProtocol, SurvivesAnyByteStream) {
  start({"--builtin-lines", "12"});
  std::string noise;
  unsigned state = 12345;
  for (int i = 0; i < 20000; ++i) {
    state = state * 1103515245u + 12345u;
    auto byte = static_cast<unsigned char>(state >> 16);
    if (byte == 0x81 || byte == 0x85) byte = 0xAA;
    noise.push_back(static_cast<char>(byte));
  }
  noise += std::string("\xAA\x90\x55N\x00\xFFR", 7) + noise;
  line.send(noise);
  line.read_for(500);
  line.send("4");  // ends any upload the noise started
  line.read_for(200);
  line.send(kQueryFrame);
  EXPECT_EQ(line.read_line(2000), kReady);
  EXPECT_EQ(sim.wait_exit(0), -2) << "still running";
}

TEST_F(SimProtocol, TraceShowsEachFrameWithDirectionAndHostSpeed) {
  start({}, 9600);
  line.send(kQueryFrame);
  line.read_for(300);
  line.set_speed(38400);
  line.send(kQueryFrame);
  ASSERT_EQ(line.read_line(2000), kReady);
  line.send(set_baud_frame(5));
  line.read_for(200);
  sim.stop();

  const auto lines = trace_lines(folder.file("wire.trace"));
  // ms, direction, host speed, hex bytes, "|", the bytes as text.
  const std::string expected[] = {
      "H! 9600 AA 80 55 | ..U",
      "H> 38400 AA 80 55 | ..U",
      "S> 38400 4B 41 4C 56 4F 52 20 52 45 41 44 59 0D 0A | KALVOR READY..",
      "H> 38400 AA 81 05 55 | ...U",
      "-- 38400 rate 38400 -> 38400",
  };
  std::size_t at = 0;
  const std::regex timed("^[0-9]+ (.*)$");
  for (const auto& trace_line : lines) {
    std::smatch m;
    ASSERT_TRUE(std::regex_match(trace_line, m, timed)) << trace_line;
    if (at < std::size(expected) && m[1] == expected[at]) ++at;
  }
  EXPECT_EQ(at, std::size(expected)) << "missing: " << (at < std::size(expected) ? expected[at] : "");
}

struct BadCommandLine {
  std::vector<std::string> args;
};

TEST(SimCommandLine, RefusesBadOptionsWithStatus2) {
  const BadCommandLine cases[] = {
      {{"--port", "3"}},                                   // no folder
      {{"--dir", "/tmp"}},                                 // no port
      {{"--dir", "/tmp", "--port", "3", "--baud", "1000"}},  // not a sensor rate
      {{"--dir", "/tmp", "--port", "x"}},
      {{"--dir", "/tmp", "--port", "3", "--noise", "loud:3"}},
      {{"--dir", "/tmp", "--port", "3", "--memory", "/nonexistent/memory.txt"}},
      {{"--dir", "/tmp", "--port", "3", "--frobnicate"}},
  };
  for (const auto& c : cases) {
    std::string command = sim_executable();
    for (const auto& a : c.args) command += " '" + a + "'";
    SCOPED_TRACE(command);
    const int raw = std::system((command + " >/dev/null 2>&1").c_str());
    ASSERT_TRUE(WIFEXITED(raw));
    EXPECT_EQ(WEXITSTATUS(raw), 2);
  }
}

TEST(SimCommandLine, HelpDocumentsTheTraceFormat) {
  TempDir folder;
  const std::string out = folder.file("help.txt");
  const int raw = std::system((sim_executable() + " --help >" + out).c_str());
  ASSERT_TRUE(WIFEXITED(raw));
  EXPECT_EQ(WEXITSTATUS(raw), 0);
  const std::string text = folder.read_file("help.txt");
  EXPECT_NE(text.find("Trace format"), std::string::npos);
  EXPECT_NE(text.find("12345 H> 38400 AA 81 05 55"), std::string::npos);
}

}  // namespace
}  // namespace kal::test

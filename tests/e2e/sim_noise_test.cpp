// The noise kalvor-sim can put on the wire during an upload: each strikes
// the chosen line's first sending only, and "R" brings the clean line.
#include <gtest/gtest.h>

#include <functional>

#include "support/sim_harness.h"

namespace kal::test {
namespace {

const std::string kLine1 = "C$000000 KALVOR-4 SN00000042";
const std::string kLine2 = "T$101502 100      1 CONV      1     0   211  -129   182    64 12470  2321   13  -6";

bool has_no(std::string_view text, std::string_view bytes) {
  return text.find_first_of(bytes) == std::string_view::npos;
}

struct NoiseCase {
  const char* noise;
  // Checks what arrived for line 2's first sending (everything read after
  // the "N" until quiet).
  std::function<void(const std::string&)> check;
};

TEST(SimNoise, DisturbsTheFirstSendingOfTheLineOnly) {
  const NoiseCase cases[] = {
      {"junk:2:20",
       [](const std::string& got) {
         // 20 garbage bytes and CR LF, then the line itself.
         ASSERT_EQ(got.size(), 22 + kLine2.size() + 2);
         const std::string junk = got.substr(0, 20);
         EXPECT_TRUE(has_no(junk, std::string("\r\n$\0", 4)));
         EXPECT_EQ(got.substr(20), "\r\n" + kLine2 + "\r\n");
       }},
      {"long:2",
       [](const std::string& got) {
         // Padded with blanks to 300 characters: longer than a 256-character line.
         EXPECT_EQ(got, kLine2 + std::string(300 - kLine2.size(), ' ') + "\r\n");
       }},
      {"long:2:400",
       [](const std::string& got) {
         EXPECT_EQ(got, kLine2 + std::string(400 - kLine2.size(), ' ') + "\r\n");
       }},
      {"nul:2",
       [](const std::string& got) {
         EXPECT_EQ(got, kLine2.substr(0, 3) + std::string(2, '\0') + kLine2.substr(3) + "\r\n");
       }},
      {"cr:2", [](const std::string& got) { EXPECT_EQ(got, kLine2 + "\r"); }},
      // Run into the next line (Z$) without a line end between them.
      {"join:2", [](const std::string& got) { EXPECT_EQ(got, kLine2 + "Z$\r\n"); }},
      {"burst:2:5000",
       [](const std::string& got) {
         // 5000 bytes without any line end, then the line.
         ASSERT_EQ(got.size(), 5000 + kLine2.size() + 2);
         EXPECT_TRUE(has_no(got.substr(0, 5000), std::string("\r\n$\0", 4)));
         EXPECT_EQ(got.substr(5000), kLine2 + "\r\n");
       }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.noise);
    TempDir folder;
    SimProcess sim;
    const std::string memory = folder.write_file("memory.txt", kLine1 + "\n" + kLine2 + "\nZ$\n");
    ASSERT_TRUE(sim.start(folder.path(), {"--port", "6", "--memory", memory, "--noise", c.noise}));
    SensorLine line;
    ASSERT_TRUE(line.open(sim.port_path(), 38400));
    line.send(kStartUploadFrame);
    ASSERT_EQ(line.read_line(2000), kLine1 + "\r\n") << "line 1 is not touched";
    line.send("N");
    c.check(line.read_for(500));
    line.send("R");
    EXPECT_EQ(line.read_for(300), kLine2 + "\r\n") << "the repeat is clean";
    line.send("N");
    EXPECT_EQ(line.read_line(2000), "Z$\r\n");
  }
}

// A cable that damages the line each time: the repeats asked for with "R"
// are damaged the same way, and the lines around it are not.
TEST(SimNoise, NoiseEverySendingStrikesTheRepeatsToo) {
  TempDir folder;
  SimProcess sim;
  const std::string memory = folder.write_file("memory.txt", kLine1 + "\n" + kLine2 + "\nZ$\n");
  ASSERT_TRUE(sim.start(folder.path(),
                        {"--port", "6", "--memory", memory, "--noise", "nul:2", "--noise-every-sending"}));
  SensorLine line;
  ASSERT_TRUE(line.open(sim.port_path(), 38400));
  line.send(kStartUploadFrame);
  ASSERT_EQ(line.read_line(2000), kLine1 + "\r\n");
  line.send("N");
  const std::string damaged = kLine2.substr(0, 3) + std::string(2, '\0') + kLine2.substr(3) + "\r\n";
  EXPECT_EQ(line.read_line(2000), damaged);
  for (int repeat = 0; repeat < 3; ++repeat) {
    line.send("R");
    EXPECT_EQ(line.read_line(2000), damaged) << "repeat " << repeat;
  }
  line.send("N");
  EXPECT_EQ(line.read_line(2000), "Z$\r\n");
}

TEST(SimNoise, SameSeedSameGarbage) {
  std::string first;
  for (int run = 0; run < 2; ++run) {
    TempDir folder;
    SimProcess sim;
    const std::string memory = folder.write_file("memory.txt", kLine1 + "\nZ$\n");
    ASSERT_TRUE(sim.start(folder.path(),
                          {"--port", "6", "--memory", memory, "--noise", "junk:1:40", "--seed", "7"}));
    SensorLine line;
    ASSERT_TRUE(line.open(sim.port_path(), 38400));
    line.send(kStartUploadFrame);
    const std::string junk = line.read_line(2000);
    ASSERT_EQ(junk.size(), 42u);
    if (run == 0) first = junk;
    else EXPECT_EQ(junk, first);
  }
}

}  // namespace
}  // namespace kal::test

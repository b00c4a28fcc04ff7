// kalvor-sim's upload as a host meets it: a memory file sent line by line
// with the N/R handshake, the clear-memory frame, and the faults.
#include <gtest/gtest.h>

#include "support/sim_harness.h"

namespace kal::test {
namespace {

const std::vector<std::string> kMemory = {
    "C$000000 KALVOR-21HQ SN21HQ0001 SW VERSION 5.1a",
    "C$120102 Start grid B",
    "H$120110 LINE0007 311226 215",
    "T$120110 000      1 CONV      1     0   211  -129   182    64 12470  2321   13  -6",
    "X$120110 000    245   -88   215    67   269   -63   242    60",
    "Z$",
};

std::string memory_text(const std::vector<std::string>& lines, std::string_view end = "\n") {
  std::string text;
  for (const auto& l : lines) text += l + std::string(end);
  return text;
}

class SimUpload : public ::testing::Test {
 protected:
  void start(std::vector<std::string> args, std::string_view memory = {}) {
    const std::string file =
        folder.write_file("memory.txt", memory.empty() ? memory_text(kMemory) : memory);
    args.insert(args.begin(), {"--port", "4", "--memory", file});
    ASSERT_TRUE(sim.start(folder.path(), args)) << sim.ready_output();
    ASSERT_TRUE(line.open(sim.port_path(), 38400));
  }

  // Uploads answering "N" to every line until "Z$"; the lines as received.
  std::vector<std::string> upload_all() {
    std::vector<std::string> got;
    line.send(kStartUploadFrame);
    for (int i = 0; i < 1000; ++i) {
      std::string l = line.read_line(2000);
      if (l.empty()) break;
      got.push_back(l);
      if (l.rfind("Z$", 0) == 0) break;
      line.send("N");
    }
    return got;
  }

  TempDir folder;
  SimProcess sim;
  SensorLine line;
};

TEST_F(SimUpload, SendsTheMemoryLinesInOrderEachEndedByCrLf) {
  start({});
  const auto got = upload_all();
  ASSERT_EQ(got.size(), kMemory.size());
  for (std::size_t i = 0; i < got.size(); ++i) EXPECT_EQ(got[i], kMemory[i] + "\r\n");
}

TEST_F(SimUpload, WaitsForNBeforeTheNextLine) {
  start({});
  line.send(kStartUploadFrame);
  EXPECT_EQ(line.read_line(2000), kMemory[0] + "\r\n");
  EXPECT_EQ(line.read_for(400), "") << "nothing before the answer";
  line.send("N");
  EXPECT_EQ(line.read_line(2000), kMemory[1] + "\r\n");
}

TEST_F(SimUpload, RRepeatsTheSameLine) {
  start({});
  line.send(kStartUploadFrame);
  line.read_line(2000);
  line.send("N");
  ASSERT_EQ(line.read_line(2000), kMemory[1] + "\r\n");
  for (int repeat = 0; repeat < 3; ++repeat) {
    line.send("R");
    EXPECT_EQ(line.read_line(2000), kMemory[1] + "\r\n");
  }
  line.send("N");
  EXPECT_EQ(line.read_line(2000), kMemory[2] + "\r\n");
}

TEST_F(SimUpload, ReadsCrLfLineEndsAndAddsTheMissingEndOfData) {
  // CR LF ends, and a last line without any end; no "Z$" line.
  start({}, "C$000000 KALVOR-4 SN00000042\r\nT$ first\r\nT$ last");
  const auto got = upload_all();
  const std::vector<std::string> expected = {"C$000000 KALVOR-4 SN00000042\r\n", "T$ first\r\n",
                                             "T$ last\r\n", "Z$\r\n"};
  EXPECT_EQ(got, expected);
}

TEST_F(SimUpload, UploadCanBeRunAgain) {
  start({});
  EXPECT_EQ(upload_all().size(), kMemory.size());
  EXPECT_EQ(upload_all().size(), kMemory.size());
}

TEST_F(SimUpload, TheNextFrameEndsTheUploadAfterZ) {
  // The host never answers "Z$"; it goes on with the rate change and queries.
  start({});
  upload_all();
  line.send(set_baud_frame(5));
  EXPECT_EQ(line.read_for(200), "");
  line.send(kQueryFrame);
  EXPECT_EQ(line.read_line(2000), "KALVOR READY\r\n");
  line.send("N");
  EXPECT_EQ(line.read_for(300), "") << "no upload runs any more";
}

TEST_F(SimUpload, ClearSequenceCancelsTheUpload) {
  start({});
  line.send(kStartUploadFrame);
  line.read_line(2000);
  line.send("4");
  line.send("N");
  EXPECT_EQ(line.read_for(300), "");
}

TEST_F(SimUpload, ClearMemoryEmptiesTheMemoryFile) {
  start({});
  line.send(kClearMemoryFrame);
  EXPECT_EQ(line.read_for(300), "") << "not answered";
  EXPECT_EQ(folder.read_file("memory.txt"), "");
  const std::vector<std::string> only_end = {"Z$\r\n"};
  EXPECT_EQ(upload_all(), only_end);
}

TEST_F(SimUpload, CorruptLineIsSentOnceWithItsDollarReplaced) {
  start({"--corrupt-line", "3"});
  line.send(kStartUploadFrame);
  EXPECT_EQ(line.read_line(2000), kMemory[0] + "\r\n");
  line.send("N");
  EXPECT_EQ(line.read_line(2000), kMemory[1] + "\r\n");
  line.send("N");
  EXPECT_EQ(line.read_line(2000), "H#120110 LINE0007 311226 215\r\n");
  line.send("R");
  EXPECT_EQ(line.read_line(2000), kMemory[2] + "\r\n");
  line.send("R");
  EXPECT_EQ(line.read_line(2000), kMemory[2] + "\r\n") << "only once";
  line.send("N");
  EXPECT_EQ(line.read_line(2000), kMemory[3] + "\r\n");
}

TEST_F(SimUpload, SilentAfterLineSendsNothingMore) {
  start({"--silent-after", "2"});
  line.send(kStartUploadFrame);
  EXPECT_EQ(line.read_line(2000), kMemory[0] + "\r\n");
  line.send("N");
  EXPECT_EQ(line.read_line(2000), kMemory[1] + "\r\n");
  line.send("N");
  EXPECT_EQ(line.read_for(400), "");
  line.send("R");
  line.send(kQueryFrame);
  EXPECT_EQ(line.read_for(400), "");
}

TEST_F(SimUpload, HangupAfterLineClosesTheLineWhenTheHostAnswersIt) {
  start({"--hangup-after", "2"});
  line.send(kStartUploadFrame);
  EXPECT_EQ(line.read_line(2000), kMemory[0] + "\r\n");
  line.send("N");
  EXPECT_EQ(line.read_line(2000), kMemory[1] + "\r\n") << "the last line is not lost";
  EXPECT_EQ(line.read_for(300), "") << "the line stays up until the answer";
  EXPECT_FALSE(line.hung_up());
  line.send("N");
  EXPECT_TRUE(line.wait_hangup(3000));
  EXPECT_EQ(line.read_for(100), "") << "no third line";
  EXPECT_TRUE(line.hangup_errno() == 0 || line.hangup_errno() == EIO) << line.hangup_errno();
  EXPECT_EQ(sim.wait_exit(3000), 0);
  EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(folder.file("COM4"))));
}

TEST_F(SimUpload, HangupComesEvenWhenTheHostDoesNotRead) {
  start({"--hangup-after", "1"});
  line.send(kStartUploadFrame);
  // Not reading: the sim gives the host 10 s, then hangs up anyway.
  EXPECT_EQ(sim.wait_exit(15000), 0);
  EXPECT_TRUE(line.wait_hangup(1000));
}

// 10 bits a byte: the identification line (47 characters and CR LF) takes
// 49 * 10 / 1200 s = 408 ms at 1200 baud. Only the lower bound is checked.
TEST_F(SimUpload, PaceSendsAtTheByteRateOfTheCurrentBaud) {
  start({"--pace", "--baud", "1200"});
  line.set_speed(1200);
  const auto begin = std::chrono::steady_clock::now();
  line.send(kStartUploadFrame);
  EXPECT_EQ(line.read_line(3000), kMemory[0] + "\r\n");
  const auto took = std::chrono::steady_clock::now() - begin;
  EXPECT_GE(took, std::chrono::milliseconds(380));
}

// Every byte in a read of its own, as a UART at 2400 baud hands them over
// (4.2 ms apart): the 49 bytes of the identification line come in many
// reads, not one. A reader the machine holds up may take a few together.
TEST_F(SimUpload, ByteWritesSendEachByteApart) {
  start({"--byte-writes", "--baud", "2400"});
  line.set_speed(2400);
  line.send(kStartUploadFrame);
  std::string got;
  int reads = 0;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(3);
  while (got.find("\r\n") == std::string::npos && std::chrono::steady_clock::now() < deadline) {
    pollfd entry{line.fd(), POLLIN, 0};
    if (::poll(&entry, 1, 100) <= 0) continue;
    char buffer[256];
    const ssize_t n = ::read(line.fd(), buffer, sizeof buffer);
    if (n <= 0) continue;
    got.append(buffer, static_cast<std::size_t>(n));
    ++reads;
  }
  EXPECT_EQ(got, kMemory[0] + "\r\n");
  EXPECT_GE(reads, 25) << "bytes came together";
}

// The sensor begins each sending, the repeats too, 300 ms after the frame
// or answer that asked for it.
TEST_F(SimUpload, ReplyDelayHoldsEachSendingBack) {
  start({"--reply-delay", "300"});
  for (const std::string& ask : {kStartUploadFrame, std::string("N"), std::string("R")}) {
    SCOPED_TRACE(ask);
    const auto begin = std::chrono::steady_clock::now();
    line.send(ask);
    EXPECT_EQ(line.read_for(250), "") << "nothing before the delay";
    EXPECT_EQ(line.read_line(2000), kMemory[ask == "N" || ask == "R" ? 1 : 0] + "\r\n");
    EXPECT_GE(std::chrono::steady_clock::now() - begin, std::chrono::milliseconds(300));
  }
}

}  // namespace
}  // namespace kal::test

// The serial-port service over pseudo-terminals.
#include "link/serial_port.h"

#include <gtest/gtest.h>
#include <termios.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include "pty_peer.h"

namespace kal {
namespace {

using testing::PtyPeer;
using testing::wait_for_line;

constexpr std::uint32_t kSessionOptions = 7;

// A port connected over a fresh pseudo-terminal, released at the end.
class SerialPortTest : public ::testing::Test {
 protected:
  void connect(std::uint32_t options = kSessionOptions) {
    ASSERT_TRUE(peer_.ok());
    ASSERT_EQ(SERIAL_CONNECT(&port_, &options), kSerialOk);
    connected_ = true;
  }
  void TearDown() override {
    if (connected_) SERIAL_RELEASE(&port_);
  }

  std::int32_t port_ = 3;
  PtyPeer peer_{3};
  bool connected_ = false;
};

TEST_F(SerialPortTest, SecondConnectIsRefusedAndFirstKeepsWorking) {
  connect();
  std::uint32_t options = kSessionOptions;
  EXPECT_EQ(SERIAL_CONNECT(&port_, &options), kSerialBadPort);
  std::int32_t count = 0;
  EXPECT_EQ(SERIAL_WRITE(&port_, "PING", &count), kSerialOk);
  EXPECT_EQ(count, 4);
  EXPECT_EQ(peer_.receive(4), "PING");
}

TEST_F(SerialPortTest, ReleaseTwiceGives87AndTheReleasedPortIsUnknown) {
  connect();
  EXPECT_EQ(SERIAL_RELEASE(&port_), kSerialOk);
  connected_ = false;
  EXPECT_EQ(SERIAL_RELEASE(&port_), kSerialBadPort);
  std::int32_t ready = 0, count = 0;
  EXPECT_EQ(SERIAL_PEEK_LINE(&port_, &ready, &count), kSerialBadPort);
  EXPECT_EQ(SERIAL_PURGE(&port_), kSerialBadPort);
  // The port can be connected again afterwards.
  connect();
}

TEST_F(SerialPortTest, BadPortArguments) {
  std::int32_t negative = -1;
  std::int32_t unknown = 250;
  std::int32_t baud = 0;
  std::int32_t ready = 0, count = 0;
  char buffer[8];
  struct Case {
    const char* what;
    std::int32_t status;
  };
  const Case cases[] = {
      {"connect, missing port", SERIAL_CONNECT(nullptr)},
      {"connect, negative port", SERIAL_CONNECT(&negative)},
      {"release, unknown port", SERIAL_RELEASE(&unknown)},
      {"get state, missing port", SERIAL_GET_STATE(nullptr, &baud, nullptr, nullptr, nullptr)},
      {"get state, unknown port", SERIAL_GET_STATE(&unknown, &baud, nullptr, nullptr, nullptr)},
      {"set state, unknown port", SERIAL_SET_STATE(&unknown, &baud, nullptr, nullptr, nullptr)},
      {"timeouts, unknown port", SERIAL_SET_TIMEOUTS(&unknown, nullptr, nullptr, nullptr)},
      {"write, unknown port", SERIAL_WRITE(&unknown, "X", &count)},
      {"read, unknown port", SERIAL_READ(&unknown, buffer, 8, &count)},
      {"peek, unknown port", SERIAL_PEEK_LINE(&unknown, &ready, &count)},
      {"purge, negative port", SERIAL_PURGE(&negative)},
  };
  for (const Case& c : cases) EXPECT_EQ(c.status, kSerialBadPort) << c.what;
}

TEST_F(SerialPortTest, MissingDeviceGivesThePlatformError) {
  std::int32_t absent = 42;  // no COM42 link in the port folder
  EXPECT_EQ(SERIAL_CONNECT(&absent), ENOENT);
}

// The service's own codes share their numbers with errno values (1 EPERM,
// 8 ENOEXEC, 12 ENOMEM, 29 ESPIPE, 87 EUSERS) but not their meaning: a
// failed write must not read "Illegal seek". System errors keep the
// system's words.
TEST(SerialErrorText, OwnCodesInWordsOfTheirOwn) {
  for (const std::int32_t own :
       {kSerialReaderRunning, kSerialNoMemory, kSerialReaderKilled, kSerialShortWrite, kSerialBadPort}) {
    const std::string text = serial_error_text(own);
    EXPECT_FALSE(text.empty()) << own;
    EXPECT_NE(text, std::strerror(own)) << own;
  }
  EXPECT_EQ(serial_error_text(ENOENT), std::strerror(ENOENT));
  EXPECT_EQ(serial_error_text(EIO), std::strerror(EIO));
}

TEST_F(SerialPortTest, OtherThreadsCannotUseThePort) {
  connect();
  std::int32_t port = port_;
  auto other = std::async(std::launch::async, [port]() mutable {
    std::int32_t count = 0;
    return std::vector<std::int32_t>{SERIAL_WRITE(&port, "X", &count), SERIAL_PURGE(&port),
                                      SERIAL_RELEASE(&port), SERIAL_CONNECT(&port)};
  });
  for (std::int32_t status : other.get()) EXPECT_EQ(status, kSerialBadPort);
  EXPECT_EQ(SERIAL_PURGE(&port_), kSerialOk);
}

TEST_F(SerialPortTest, PortNumbersAbove255) {
  PtyPeer high(300);
  ASSERT_TRUE(high.ok());
  std::int32_t port = 300;
  ASSERT_EQ(SERIAL_CONNECT(&port), kSerialOk);
  std::int32_t count = 0;
  EXPECT_EQ(SERIAL_WRITE(&port, "HI", &count), kSerialOk);
  EXPECT_EQ(high.receive(2), "HI");
  EXPECT_EQ(SERIAL_RELEASE(&port), kSerialOk);
  EXPECT_EQ(SERIAL_RELEASE(&port), kSerialBadPort);
}

TEST_F(SerialPortTest, SettingsAreRefusedWhileTheReaderRunsAndAcceptedAfterPurge) {
  connect();
  std::int32_t baud = 9600, parity = 0, bits = 8, stop = 0;
  std::uint32_t interval = 2, multiplier = 0, constant = 1000;
  std::int32_t count = 1;
  ASSERT_EQ(SERIAL_WRITE(&port_, "N", &count), kSerialOk);  // starts the reader
  EXPECT_EQ(SERIAL_SET_STATE(&port_, &baud, &parity, &bits, &stop), kSerialReaderRunning);
  EXPECT_EQ(SERIAL_SET_TIMEOUTS(&port_, &interval, &multiplier, &constant), kSerialReaderRunning);
  ASSERT_EQ(SERIAL_PURGE(&port_), kSerialOk);
  EXPECT_EQ(SERIAL_SET_STATE(&port_, &baud, &parity, &bits, &stop), kSerialOk);
  EXPECT_EQ(SERIAL_SET_TIMEOUTS(&port_, &interval, &multiplier, &constant), kSerialOk);
}

TEST_F(SerialPortTest, LineSettingsReachTheDevice) {
  connect();
  struct Case {
    std::int32_t baud, stop_bits;  // asked, with 8 data bits and no parity
    speed_t speed;
    std::int32_t want_stop;  // as read back
  };
  // Below 300 baud the stop-bit code becomes 2 whatever was asked; at 300
  // the code asked stays.
  const Case cases[] = {
      {9600, 0, B9600, 0},     {115200, 0, B115200, 0}, {1200, 2, B1200, 2},
      {110, 0, B110, 2},       {299, 0, B300, 0},       {300, 0, B300, 0},
      {57600, 1, B57600, 2},   {38400, 0, B38400, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.baud);
    const std::int32_t parity = 0, bits = 8;
    const std::int32_t status = SERIAL_SET_STATE(&port_, &c.baud, &parity, &bits, &c.stop_bits);
    if (c.baud == 299) {
      // Not a rate of this system: refused, and the device is unchanged.
      EXPECT_EQ(status, EINVAL);
      continue;
    }
    ASSERT_EQ(status, kSerialOk);
    std::int32_t got_baud = -1, got_parity = -1, got_bits = -1, got_stop = -1;
    ASSERT_EQ(SERIAL_GET_STATE(&port_, &got_baud, &got_parity, &got_bits, &got_stop), kSerialOk);
    EXPECT_EQ(got_baud, c.baud);
    EXPECT_EQ(got_parity, 0);
    EXPECT_EQ(got_bits, 8);
    EXPECT_EQ(got_stop, c.want_stop);
    const struct termios t = peer_.settings();
    EXPECT_EQ(cfgetospeed(&t), c.speed);
    EXPECT_EQ((t.c_cflag & CSTOPB) != 0, c.want_stop == 2);
    EXPECT_EQ(t.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
  }
}

// A Linux pseudo-terminal always runs 8 data bits without parity; a setting
// the device does not take is reported, not silently dropped.
TEST_F(SerialPortTest, SettingsTheDeviceCannotTakeAreReported) {
  connect();
  const std::int32_t baud = 4800, even = 2, seven = 7, eight = 8, none = 0, stop = 0;
  EXPECT_EQ(SERIAL_SET_STATE(&port_, &baud, &even, &eight, &stop), EINVAL);
  EXPECT_EQ(SERIAL_SET_STATE(&port_, &baud, &none, &seven, &stop), EINVAL);
  const std::int32_t bad_parity = 5, bad_bits = 9, bad_stop = 3;
  EXPECT_EQ(SERIAL_SET_STATE(&port_, &baud, &bad_parity, nullptr, nullptr), EINVAL);
  EXPECT_EQ(SERIAL_SET_STATE(&port_, &baud, nullptr, &bad_bits, nullptr), EINVAL);
  EXPECT_EQ(SERIAL_SET_STATE(&port_, &baud, nullptr, nullptr, &bad_stop), EINVAL);
}

TEST_F(SerialPortTest, OmittedSettingsStayAsTheyWere) {
  connect();
  std::int32_t baud = 4800, parity = 0, bits = 8, stop = 2;
  ASSERT_EQ(SERIAL_SET_STATE(&port_, &baud, &parity, &bits, &stop), kSerialOk);
  std::int32_t new_baud = 19200;
  ASSERT_EQ(SERIAL_SET_STATE(&port_, &new_baud, nullptr, nullptr, nullptr), kSerialOk);
  std::int32_t got_baud = 0, got_parity = 9, got_bits = 0, got_stop = 0;
  ASSERT_EQ(SERIAL_GET_STATE(&port_, &got_baud, &got_parity, &got_bits, &got_stop), kSerialOk);
  EXPECT_EQ(got_baud, 19200);
  EXPECT_EQ(got_parity, 0);
  EXPECT_EQ(got_bits, 8);
  EXPECT_EQ(got_stop, 2);
  // Each output is stored only when given.
  std::int32_t untouched = -7;
  ASSERT_EQ(SERIAL_GET_STATE(&port_, nullptr, &untouched, nullptr, nullptr), kSerialOk);
  EXPECT_EQ(untouched, 0);
  ASSERT_EQ(SERIAL_GET_STATE(&port_, nullptr, nullptr, nullptr, nullptr), kSerialOk);
}

TEST_F(SerialPortTest, OkCrLfWithSessionOptions) {
  connect(kSessionOptions);
  peer_.send("OK\r\n");
  std::int32_t ready = 0, count = 0;
  ASSERT_EQ(wait_for_line(port_, ready, count), kSerialOk);
  EXPECT_EQ(ready, 1);
  EXPECT_EQ(count, 2);
  std::string line(256, '?');
  ASSERT_EQ(SERIAL_READ(&port_, line.data(), 256, &count), kSerialOk);
  EXPECT_EQ(count, 2);
  EXPECT_EQ(line, "OK" + std::string(254, ' '));
  // The LF is still unread: no line yet, and it is stripped from the next.
  ASSERT_EQ(SERIAL_PEEK_LINE(&port_, &ready, &count), kSerialOk);
  EXPECT_EQ(ready, 0);
  EXPECT_EQ(count, 0);
  peer_.send("X\r");
  ASSERT_EQ(wait_for_line(port_, ready, count), kSerialOk);
  EXPECT_EQ(ready, 1);
  EXPECT_EQ(count, 1);
  ASSERT_EQ(SERIAL_READ(&port_, line.data(), 256, &count), kSerialOk);
  EXPECT_EQ(count, 1);
  EXPECT_EQ(line, "X" + std::string(255, ' '));
}

// Each option word applied to the same bytes: what peek reports and what a
// read of 16 bytes stores.
TEST_F(SerialPortTest, LineEndingOptionsTable) {
  struct Case {
    std::uint32_t options;
    const char* sent;
    std::int32_t ready;
    std::string line;  // the first read's stored bytes
  };
  const Case cases[] = {
      // CR ends, CR and LF stripped (the default 23 behaves as 7).
      {23, "AB\r\n", 1, "AB"},
      // LF ends, nothing stripped: the CR is stored and counted.
      {8, "AB\r\n", 1, "AB\r\n"},
      // LF ends, CR stripped.
      {9, "AB\r\n", 1, "AB\n"},
      // CR then LF ends; a lone CR does not.
      {12, "A\rB\r\n", 1, "A\rB\r\n"},
      // The same with both stripped.
      {15, "A\rB\r\n", 1, "AB"},
      // CR ends but is kept.
      {4, "AB\rC", 1, "AB\r"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.options);
    connect(c.options);
    peer_.send(c.sent);
    std::int32_t ready = 0, count = 0;
    ASSERT_EQ(wait_for_line(port_, ready, count), kSerialOk);
    EXPECT_EQ(ready, c.ready);
    EXPECT_EQ(count, static_cast<std::int32_t>(c.line.size()));
    char buffer[16];
    ASSERT_EQ(SERIAL_READ(&port_, buffer, 16, &count), kSerialOk);
    EXPECT_EQ(std::string(buffer, 16), c.line + std::string(16 - c.line.size(), ' '));
    ASSERT_EQ(SERIAL_RELEASE(&port_), kSerialOk);
    connected_ = false;
  }
}

TEST_F(SerialPortTest, CrLfEndsOneLineOnlyOnce) {
  connect(12);  // a LF directly after a CR ends the line; nothing stripped
  peer_.send("A\r\n\nB\r\n");
  std::int32_t ready = 0, count = 0;
  ASSERT_EQ(wait_for_line(port_, ready, count), kSerialOk);
  char buffer[8];
  ASSERT_EQ(SERIAL_READ(&port_, buffer, 8, &count), kSerialOk);
  EXPECT_EQ(std::string(buffer, 8), "A\r\n     ");
  // The lone LF follows a LF, not a CR: it is part of the next line.
  ASSERT_EQ(SERIAL_READ(&port_, buffer, 8, &count), kSerialOk);
  EXPECT_EQ(count, 4);
  EXPECT_EQ(std::string(buffer, 8), "\nB\r\n    ");
}

// A read of what has been received never waits: bytes without a line end
// come out at once, and a read of an empty ring gives none. (The unread
// count may already include bytes on their way from the driver; a reader
// that asked a waiting read for them could wait for ever on a sensor that
// sends nothing more before it is answered.)
TEST_F(SerialPortTest, ReadReceivedNeverWaits) {
  connect();
  peer_.send("AB");
  std::int32_t unread = 0;
  std::int64_t quiet_us = 0;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(3);
  do {  // until the reader has delivered both bytes
    ASSERT_EQ(SERIAL_UNREAD(&port_, &unread, &quiet_us), kSerialOk);
  } while ((unread < 2 || quiet_us == 0) && std::chrono::steady_clock::now() < deadline);
  ASSERT_EQ(unread, 2);
  for (const char* expected : {"AB", ""}) {
    // Only the connecting thread may read: a watchdog ends a read that
    // waits (with a line end after 2 s), so that the test fails, not hangs.
    std::promise<void> returned;
    std::thread watchdog([&peer = peer_, done = returned.get_future()] {
      if (done.wait_for(std::chrono::seconds(2)) != std::future_status::ready) peer.send("\r\n");
    });
    const auto started = std::chrono::steady_clock::now();
    std::int32_t count = -1;
    char buffer[8];
    const std::int32_t status = SERIAL_READ_RECEIVED(&port_, buffer, 8, &count);
    const auto took = std::chrono::steady_clock::now() - started;
    returned.set_value();
    watchdog.join();
    EXPECT_LT(took, std::chrono::seconds(1)) << "the read waited for bytes that had not come";
    EXPECT_EQ(status, kSerialOk);
    EXPECT_EQ(std::string(buffer, static_cast<std::size_t>(count)), expected);
  }
}

TEST_F(SerialPortTest, WithoutLineEndBitsReadTakesExactlyTheCapacity) {
  connect(3);  // strip CR and LF, no line end
  peer_.send("12\r\n345678");
  std::int32_t ready = 9, count = 9;
  char buffer[5];
  ASSERT_EQ(SERIAL_READ(&port_, buffer, 5, &count), kSerialOk);
  EXPECT_EQ(count, 5);
  EXPECT_EQ(std::string(buffer, 5), "12345");
  ASSERT_EQ(SERIAL_PEEK_LINE(&port_, &ready, &count), kSerialOk);
  EXPECT_EQ(ready, 0);
  EXPECT_EQ(count, 0);
}

TEST_F(SerialPortTest, EmptyRingPeeksNothing) {
  connect();
  std::int32_t ready = 9, count = 9;
  ASSERT_EQ(SERIAL_PEEK_LINE(&port_, &ready, &count), kSerialOk);
  EXPECT_EQ(ready, 0);
  EXPECT_EQ(count, 0);
}

TEST_F(SerialPortTest, WriteCounts) {
  connect();
  struct Case {
    std::string text;
    std::int32_t count_in;
    std::int32_t status;
    std::int32_t count_out;
    std::string on_wire;
  };
  const Case cases[] = {
      // Count 0: the text without its trailing blanks.
      {"AB  ", 0, kSerialOk, 2, "AB"},
      // An explicit count sends exactly that many bytes, blanks included.
      {"AB  ", 3, kSerialOk, 3, "AB "},
      {std::string("\xAA\x80\x55", 3), 3, kSerialOk, 3, "\xAA\x80\x55"},
      // A count beyond the text: only the text goes out, reported as short.
      {"XYZ", 5, kSerialShortWrite, 3, "XYZ"},
      // All blanks and count 0: nothing is sent.
      {"    ", 0, kSerialOk, 0, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    std::int32_t count = c.count_in;
    EXPECT_EQ(SERIAL_WRITE(&port_, c.text, &count), c.status);
    EXPECT_EQ(count, c.count_out);
    EXPECT_EQ(peer_.receive_all(), c.on_wire);
  }
  EXPECT_EQ(SERIAL_WRITE(&port_, "Q  ", nullptr), kSerialOk);
  EXPECT_EQ(peer_.receive_all(), "Q");
}

TEST_F(SerialPortTest, ReleaseDropsUnreadBytes) {
  connect();
  peer_.send("HELLO\r");
  std::int32_t ready = 0, count = 0;
  ASSERT_EQ(wait_for_line(port_, ready, count), kSerialOk);
  ASSERT_EQ(ready, 1);  // the line sits in the ring
  ASSERT_EQ(SERIAL_RELEASE(&port_), kSerialOk);
  connected_ = false;
  connect();
  ASSERT_EQ(SERIAL_PEEK_LINE(&port_, &ready, &count), kSerialOk);
  EXPECT_EQ(ready, 0);
  peer_.send("NEXT\r");
  ASSERT_EQ(wait_for_line(port_, ready, count), kSerialOk);
  char buffer[8];
  ASSERT_EQ(SERIAL_READ(&port_, buffer, 8, &count), kSerialOk);
  EXPECT_EQ(std::string(buffer, 8), "NEXT    ");
}

TEST_F(SerialPortTest, PurgeDropsUnreadBytesAndTheNextReadStartsAfresh) {
  connect();
  peer_.send("OLD\r");
  std::int32_t ready = 0, count = 0;
  ASSERT_EQ(wait_for_line(port_, ready, count), kSerialOk);
  ASSERT_EQ(ready, 1);
  ASSERT_EQ(SERIAL_PURGE(&port_), kSerialOk);
  ASSERT_EQ(SERIAL_PEEK_LINE(&port_, &ready, &count), kSerialOk);
  EXPECT_EQ(ready, 0);
  peer_.send("NEW\r");
  ASSERT_EQ(wait_for_line(port_, ready, count), kSerialOk);
  char buffer[4];
  ASSERT_EQ(SERIAL_READ(&port_, buffer, 4, &count), kSerialOk);
  EXPECT_EQ(std::string(buffer, 4), "NEW ");
}

// 1 MiB of numbered 64-byte lines, sent as fast as the pseudo-terminal
// takes them, while the consumer starts late and pauses now and then: the
// ring fills up many times, and every line must arrive whole and in order.
TEST_F(SerialPortTest, MegabyteBurstArrivesCompleteAndInOrder) {
  connect();
  constexpr int kLines = 16384;  // 16384 * 64 bytes = 1 MiB
  auto line_text = [](int i) {
    std::string text = "LINE" + std::to_string(i) + ":";
    while (text.size() < 63) text.push_back(static_cast<char>('a' + (i + text.size()) % 26));
    return text;
  };
  std::int32_t ready = 0, count = 0;
  ASSERT_EQ(SERIAL_PEEK_LINE(&port_, &ready, &count), kSerialOk);  // reader runs
  std::thread sender([&] {
    std::string all;
    for (int i = 0; i < kLines; ++i) all += line_text(i) + "\r";
    peer_.send(all);
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(300));  // let the ring fill
  int mismatches = 0;
  int received = 0;
  std::string buffer(256, ' ');
  for (int i = 0; i < kLines; ++i) {
    if (i % 2048 == 0) std::this_thread::sleep_for(std::chrono::milliseconds(50));
    if (SERIAL_READ(&port_, buffer.data(), 256, &count) != kSerialOk) break;
    ++received;
    if (count != 63 || buffer.substr(0, 63) != line_text(i)) ++mismatches;
  }
  sender.join();
  EXPECT_EQ(received, kLines);
  EXPECT_EQ(mismatches, 0);
}

TEST_F(SerialPortTest, HangUpEndsTheReaderWithAnError) {
  connect();
  std::int32_t ready = 0, count = 0;
  ASSERT_EQ(SERIAL_PEEK_LINE(&port_, &ready, &count), kSerialOk);
  peer_.close_master();
  std::int32_t status = wait_for_line(port_, ready, count, 5000);
  EXPECT_EQ(status, EIO);
  char buffer[8];
  EXPECT_EQ(SERIAL_READ(&port_, buffer, 8, &count), EIO);
  EXPECT_EQ(SERIAL_PEEK_LINE(&port_, &ready, &count), EIO);
  EXPECT_EQ(SERIAL_RELEASE(&port_), kSerialOk);
  connected_ = false;
}

// A line that arrived complete before the hang-up is still delivered; only
// then do peek and read report the dead link. A partial line is not a line.
TEST_F(SerialPortTest, LinesReceivedBeforeAHangUpAreStillDelivered) {
  connect();
  std::int32_t ready = 0, count = 0;
  ASSERT_EQ(SERIAL_PEEK_LINE(&port_, &ready, &count), kSerialOk);
  peer_.send("T$ LAST\r\nPART");
  ASSERT_EQ(wait_for_line(port_, ready, count, 5000), kSerialOk);
  peer_.close_master();
  std::this_thread::sleep_for(std::chrono::milliseconds(200));  // the reader meets the hang-up
  EXPECT_EQ(SERIAL_PEEK_LINE(&port_, &ready, &count), kSerialOk);
  EXPECT_EQ(ready, 1);
  EXPECT_EQ(count, 7);  // "T$ LAST": the CR ends the line and is not stored
  char buffer[10];
  EXPECT_EQ(SERIAL_READ(&port_, buffer, 10, &count), kSerialOk);
  EXPECT_EQ(std::string(buffer, 10), "T$ LAST   ");
  EXPECT_EQ(SERIAL_PEEK_LINE(&port_, &ready, &count), EIO);
  EXPECT_EQ(SERIAL_READ(&port_, buffer, 10, &count), EIO);
}

TEST_F(SerialPortTest, ReadWaitingForDataReturnsWhenTheLineHangsUp) {
  connect();
  std::thread hang_up([this] {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    peer_.close_master();
  });
  char buffer[8];
  std::int32_t count = -1;
  EXPECT_EQ(SERIAL_READ(&port_, buffer, 8, &count), EIO);
  EXPECT_EQ(count, 0);
  hang_up.join();
}

}  // namespace
}  // namespace kal

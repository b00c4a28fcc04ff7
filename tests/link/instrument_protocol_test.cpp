// The sensor protocol over a pseudo-terminal, with a scripted console.
#include "link/instrument_protocol.h"

#include <gtest/gtest.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "link/serial_port.h"
#include "link/termios_speeds.h"
#include "pty_peer.h"
#include "support/fake_console.h"

namespace kal {
namespace {

using test::FakeConsole;
using testing::PtyPeer;
using testing::wait_for_line;

const std::string kQuery("\xAA\x80\x55", 3);
const std::string kClearSequence("4\xEE\xEE", 3);

std::string set_baud_frame(int code) {
  return std::string("\xAA\x81", 2) + static_cast<char>(code) + "\x55";
}

std::int32_t speed_to_baud(const struct termios& t) { return baud_of(cfgetospeed(&t)); }

// The sensor's end of the cable: records every byte the host sends and,
// when answering, replies to a query frame that arrives while the host's
// line runs at the sensor's rate; a set-baud frame moves the sensor's rate.
class Sensor {
 public:
  Sensor(PtyPeer& peer, bool answers, std::int32_t rate, std::string reply = "KALVOR READY")
      : peer_(peer), answers_(answers), rate_(rate), reply_(std::move(reply)) {
    thread_ = std::thread([this] { run(); });
  }
  ~Sensor() { stop(); }

  void stop() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
  }
  std::string wire() {
    std::lock_guard<std::mutex> hold(mutex_);
    return wire_;
  }
  // Waits until the host's bytes in flight have been taken off the line.
  // A purge on the host side discards what the sensor has not read yet (as
  // on a real cable, where the 100 ms pauses before each purge give the
  // bytes time to leave), so tests with shortened sleeps settle the line at
  // each 100 ms pause.
  void settle() {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    std::size_t last = wire().size();
    int stable = 0;
    while (stable < 3 && std::chrono::steady_clock::now() < deadline) {
      int pending = 0;
      ioctl(peer_.master(), FIONREAD, &pending);
      std::this_thread::sleep_for(std::chrono::microseconds(200));
      const std::size_t now = wire().size();
      stable = (pending == 0 && now == last) ? stable + 1 : 0;
      last = now;
    }
  }
  // Waits until at least n bytes were received (or 2 s passed).
  std::string wire_of_at_least(std::size_t n) {
    for (int i = 0; i < 2000 && wire().size() < n; ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    return wire();
  }

 private:
  void run() {
    std::string pending;
    while (!stop_) {
      struct pollfd p{peer_.master(), POLLIN, 0};
      if (::poll(&p, 1, 10) <= 0 || (p.revents & POLLIN) == 0) continue;
      char buffer[256];
      const ssize_t n = ::read(peer_.master(), buffer, sizeof buffer);
      if (n <= 0) continue;
      {
        std::lock_guard<std::mutex> hold(mutex_);
        wire_.append(buffer, static_cast<std::size_t>(n));
      }
      pending.append(buffer, static_cast<std::size_t>(n));
      react(pending);
    }
  }

  void react(std::string& pending) {
    for (;;) {
      const std::size_t start = pending.find('\xAA');
      if (start == std::string::npos) {
        pending.clear();
        return;
      }
      pending.erase(0, start);
      if (pending.size() < 3) return;
      if (pending[1] == '\x80' && pending[2] == '\x55') {
        if (answers_ && speed_to_baud(peer_.settings()) == rate_)
          peer_.send(reply_ + "\r\n");
        pending.erase(0, 3);
      } else if (pending[1] == '\x81') {
        if (pending.size() < 4) return;
        const int code = static_cast<unsigned char>(pending[2]);
        if (code < 8) rate_ = kBaudCodeTable[code];
        pending.erase(0, 4);
      } else {
        pending.erase(0, 1);
      }
    }
  }

  PtyPeer& peer_;
  bool answers_;
  std::int32_t rate_;
  std::string reply_;
  std::atomic<bool> stop_{false};
  std::mutex mutex_;
  std::string wire_;
  std::thread thread_;
};

// Hooks that hold each 100 ms pause until the bytes written before it have
// reached the sensor, so that the purge after the pause cannot discard
// them. The byte counts follow the routines' own sequence of pauses.
//
// KALVOR_CHANGE_BAUD: pause 0 ends the opening drain; then per attempt a
// (0-based): set-baud frame, pauses 1-4 (4 bytes sent), clear sequence and
// query, pauses 5-6 (10 bytes sent).
std::function<void(std::int32_t)> change_baud_pacing(Sensor& sensor) {
  auto pauses = std::make_shared<int>(0);
  return [&sensor, pauses](std::int32_t ms) {
    if (ms != 100) return;
    const int n = (*pauses)++;
    if (n == 0) return;
    const int attempt = (n - 1) / 6;
    const int step = (n - 1) % 6;
    sensor.wire_of_at_least(static_cast<std::size_t>(10 * attempt + (step < 4 ? 4 : 10)));
  };
}

// KALVOR_QUERY restarted by q at every wait poll: per round r, pause 0
// before the purge (3r bytes sent), pauses 1-2 after the query (3r + 3).
std::function<void(std::int32_t)> query_round_pacing(Sensor& sensor) {
  auto pauses = std::make_shared<int>(0);
  return [&sensor, pauses](std::int32_t ms) {
    if (ms != 100) return;
    const int n = (*pauses)++;
    sensor.wire_of_at_least(static_cast<std::size_t>(3 * (n / 3) + (n % 3 == 0 ? 0 : 3)));
  };
}

class ProtocolTest : public ::testing::Test {
 protected:
  void SetUp() override {
    reset_protocol_state();
    ASSERT_TRUE(peer_.ok());
    std::uint32_t options = 7;
    ASSERT_EQ(SERIAL_CONNECT(&port_, &options), kSerialOk);
    set_rate(9600);
  }
  void TearDown() override { SERIAL_RELEASE(&port_); }

  void set_rate(std::int32_t baud) {
    const std::int32_t parity = 0, bits = 8, stop = 0;
    ASSERT_EQ(SERIAL_PURGE(&port_), kSerialOk);
    ASSERT_EQ(SERIAL_SET_STATE(&port_, &baud, &parity, &bits, &stop), kSerialOk);
  }
  std::int32_t rate() {
    std::int32_t baud = 0;
    EXPECT_EQ(SERIAL_GET_STATE(&port_, &baud, nullptr, nullptr, nullptr), kSerialOk);
    return baud;
  }
  // Sends `line` from the sensor's side and waits until the port has it.
  void deliver(const std::string& line) {
    peer_.send(line);
    std::int32_t ready = 0, count = 0;
    ASSERT_EQ(wait_for_line(port_, ready, count), kSerialOk);
    ASSERT_EQ(ready, 1);
  }

  std::int32_t port_ = 5;
  PtyPeer peer_{5};
};

TEST(SensorReply, RecognitionTable) {
  struct Case {
    std::string line;
    bool reply;
  };
  const Case cases[] = {
      {"KALVOR READY", true},
      {"KALVOR REPLY", true},
      {"KALVOR REPLY V5.1 SN 0042", true},  // only the first 12 characters count
      {"KALVOR READY" + std::string(244, ' '), true},
      {"Kalvor Ready", false},
      {"KALVOR ready", false},
      {"KALVOR REPLx", false},
      {"KALVOR READ", false},  // 11 characters
      {" KALVOR READY", false},
      {"KALVOR  READY", false},
      {"KALVOR-REPLY", false},
      {"", false},
      {std::string(256, ' '), false},
  };
  for (const Case& c : cases) EXPECT_EQ(is_sensor_reply(c.line), c.reply) << c.line;
}

TEST(RetryLine, Layout) {
  FakeConsole console;
  struct Case {
    const char* tag;
    std::int32_t status, port;
    const char* line;
  };
  // Free-form: a leading blank, texts as they stand, integers in 12 columns.
  const Case cases[] = {
      {"Error CCIO3", 5, 3, " Error CCIO3           5 on port COM           3: retry..."},
      {"Error \"4\" command", 87, 12,
       " Error \"4\" command          87 on port COM          12: retry..."},
      {"Error MWD2", 29, 1, " Error MWD2          29 on port COM           1: retry..."},
  };
  for (const Case& c : cases) print_retry_line(c.tag, c.status, c.port);
  ASSERT_EQ(console.lines.size(), std::size(cases));
  for (std::size_t i = 0; i < std::size(cases); ++i) EXPECT_EQ(console.lines[i], cases[i].line);
}

TEST_F(ProtocolTest, ReadDataOnASilentLineKeepsTheBuffer) {
  FakeConsole console;
  std::string buffer = "UNCHANGED";
  EXPECT_EQ(KALVOR_READ_DATA(port_, buffer), 0);
  EXPECT_EQ(buffer, "UNCHANGED");
  EXPECT_EQ(console.sleeps.size(), 100u);
  EXPECT_EQ(console.sleeps_of(25), 100u);  // 100 polls of 25 ms: about 2.5 s
  EXPECT_TRUE(console.lines.empty());
}

TEST_F(ProtocolTest, ReadDataKeepsTheLastLineAndShowsEach) {
  FakeConsole console;
  std::string buffer;
  int sleeps = 0;
  console.on_sleep = [&](std::int32_t) {
    ++sleeps;
    if (sleeps == 1) deliver("FIRST\r\n");
    if (sleeps == 50) deliver("SECOND LINE\r\n");
  };
  EXPECT_EQ(KALVOR_READ_DATA(port_, buffer), 0);
  EXPECT_EQ(buffer, "SECOND LINE" + std::string(245, ' '));
  ASSERT_EQ(console.lines.size(), 2u);
  EXPECT_EQ(console.lines[0], " >(sensor I/O)");
  EXPECT_EQ(console.lines[1], " >(sensor I/O)");
  EXPECT_EQ(console.sleeps.size(), 100u);  // nothing ends the polls early
}

TEST_F(ProtocolTest, ClearDrainsThenSendsTheClearSequence) {
  FakeConsole console;
  Sensor sensor(peer_, false, 9600);
  deliver("OLD 1\r\nOLD 2\r\n");
  std::string unused;
  EXPECT_EQ(KALVOR_CLEAR(port_, unused), 0);
  EXPECT_EQ(sensor.wire_of_at_least(3), kClearSequence);
  // Two lines drained (one 100 ms poll each), a poll that finds none, then
  // the pause before the purge.
  EXPECT_EQ(console.sleeps, (std::vector<std::int32_t>{100, 100, 100, 100}));
  EXPECT_TRUE(console.lines.empty());
  std::int32_t ready = 9, count = 9;
  ASSERT_EQ(SERIAL_PEEK_LINE(&port_, &ready, &count), kSerialOk);
  EXPECT_EQ(ready, 0);
}

TEST_F(ProtocolTest, ClearOnADeadLinkEndsWithOneLine) {
  FakeConsole console;
  std::int32_t ready = 0, count = 0;
  ASSERT_EQ(SERIAL_PEEK_LINE(&port_, &ready, &count), kSerialOk);
  peer_.close_master();  // the cable is pulled
  std::string unused;
  EXPECT_EQ(KALVOR_CLEAR(port_, unused), kLinkLost);
  ASSERT_EQ(console.lines.size(), 1u);
  EXPECT_EQ(console.lines[0], std::string(" Error CCIO3 on port COM           5: link lost, error") +
                                  "           5 (" + std::strerror(EIO) + ")");
}

// With the cable pulled the bounded loops end as designed: the query's ten
// purges fail (1), and the rate change gives up after 100 failed reads of
// the line settings, 100 ms apart, without a message (1).
TEST_F(ProtocolTest, DeadLinkEndsTheBoundedLoops) {
  FakeConsole console;
  std::int32_t ready = 0, count = 0;
  ASSERT_EQ(SERIAL_PEEK_LINE(&port_, &ready, &count), kSerialOk);
  peer_.close_master();
  std::string reply = "BEFORE";
  EXPECT_EQ(KALVOR_QUERY(port_, reply), kQueryPortRefused);
  EXPECT_EQ(reply, "BEFORE");
  console.sleeps.clear();
  std::int32_t current = -1;
  EXPECT_EQ(KALVOR_CHANGE_BAUD(port_, 115200, current), 1);
  EXPECT_EQ(console.sleeps_of(100), 1u + 99u);  // one drain poll, 99 pauses
  EXPECT_TRUE(console.lines.empty());
}

TEST(ClearRetries, OperatorLeavesWithQ) {
  FakeConsole console;
  console.keys = {'x', 'q'};
  std::int32_t not_connected = 9;
  std::string unused;
  // Every purge of a port that is not connected fails with 87: a retry line
  // each time; the x is taken and ignored, the q ends the loop.
  EXPECT_EQ(KALVOR_CLEAR(not_connected, unused), kQueryOperatorQuit);
  const std::string retry = " Error CCIO3          87 on port COM           9: retry...";
  EXPECT_EQ(console.lines, (std::vector<std::string>{retry, retry}));
  EXPECT_TRUE(console.keys.empty());
}

TEST_F(ProtocolTest, QueryFindsTheSensor) {
  FakeConsole console(10);
  Sensor sensor(peer_, true, 9600, "KALVOR REPLY V5");
  std::string reply;
  EXPECT_EQ(KALVOR_QUERY(port_, reply), kQueryAnswered);
  EXPECT_EQ(reply, "KALVOR REPLY V5" + std::string(241, ' '));
  EXPECT_EQ(sensor.wire_of_at_least(3), kQuery);
}

// Sleeps of KALVOR_QUERY after its opening drain (100 polls of 25 ms): 100 ms
// before the purge (#1), 100 ms after the query frame (#2), then one 100 ms
// sleep per wait poll. A line delivered during the sleep of poll j is seen
// by poll j+1, so j polls count.
TEST_F(ProtocolTest, OtherLineRepeatsTheQueryAndThePollCountGoesOn) {
  FakeConsole console;
  Sensor sensor(peer_, false, 9600);
  int hundreds = 0;
  console.on_sleep = [&](std::int32_t ms) {
    if (ms != 100) return;
    ++hundreds;
    sensor.settle();
    if (hundreds == 3) deliver("HELLO\r\n");          // poll 1 of the first query
    if (hundreds == 7) deliver("KALVOR READY\r\n");   // poll 1 of the second
  };
  // First query: poll 1 counts, poll 2 sees HELLO (#4). Second query: #5
  // before the purge, #6 after the frame, poll 1 counts (#7), poll 2 sees
  // the reply (#8). Poll count: 2.
  std::string reply;
  EXPECT_EQ(KALVOR_QUERY(port_, reply), kQueryAnswered);
  EXPECT_EQ(reply.substr(0, 12), "KALVOR READY");
  EXPECT_EQ(hundreds, 8);
  EXPECT_EQ(sensor.wire_of_at_least(6), kQuery + kQuery);

  // The next call on a silent line has 19 polls left: 2 + 19 sleeps.
  console.on_sleep = nullptr;
  console.sleeps.clear();
  EXPECT_EQ(KALVOR_QUERY(port_, reply), kQueryNoReply);
  EXPECT_EQ(console.sleeps_of(100), 21u);
  // After a 6 the count starts again: 2 + 21 sleeps.
  console.sleeps.clear();
  EXPECT_EQ(KALVOR_QUERY(port_, reply), kQueryNoReply);
  EXPECT_EQ(console.sleeps_of(100), 23u);
  EXPECT_EQ(console.sleeps_of(25), 100u);
}

TEST_F(ProtocolTest, PollCountSurvivesAnAnswer) {
  FakeConsole console;
  int hundreds = 0;
  console.on_sleep = [&](std::int32_t ms) {
    if (ms == 100 && ++hundreds == 7) deliver("KALVOR READY\r\n");  // during poll 5
  };
  std::string reply;
  EXPECT_EQ(KALVOR_QUERY(port_, reply), kQueryAnswered);
  console.on_sleep = nullptr;
  console.sleeps.clear();
  EXPECT_EQ(KALVOR_QUERY(port_, reply), kQueryNoReply);
  EXPECT_EQ(console.sleeps_of(100), 2u + 16u);  // polls 6 to 21
}

TEST_F(ProtocolTest, TenQPressesWithoutReplyAreAQuitNotAnAnswer) {
  FakeConsole console;
  Sensor sensor(peer_, false, 9600);
  console.on_sleep = query_round_pacing(sensor);
  console.keys.assign(10, 'q');
  std::string reply = "BEFORE";
  EXPECT_EQ(KALVOR_QUERY(port_, reply), kQueryOperatorQuit);
  EXPECT_EQ(reply, "BEFORE");
  // Each q restarts with a drain and a new query: ten frames in all.
  std::string ten;
  for (int i = 0; i < 10; ++i) ten += kQuery;
  EXPECT_EQ(sensor.wire_of_at_least(30), ten);
  EXPECT_EQ(console.sleeps_of(25), 1000u);
  // The q presses did not use up polls: the next silent call has all 21.
  console.on_sleep = nullptr;
  console.sleeps.clear();
  EXPECT_EQ(KALVOR_QUERY(port_, reply), kQueryNoReply);
  EXPECT_EQ(console.sleeps_of(100), 23u);
}

TEST_F(ProtocolTest, OtherKeysAndFewerQsDoNotEndTheQuery) {
  FakeConsole console;
  console.keys = {'x', 'Q', 'a'};
  std::string reply;
  // x: taken, poll counts. Q: restart (budget 9 left). a: taken, counts.
  EXPECT_EQ(KALVOR_QUERY(port_, reply), kQueryNoReply);
  EXPECT_TRUE(console.keys.empty());
  // Two opening sequences (#1, #2 each), then 21 counted polls plus the
  // poll that took the Q.
  EXPECT_EQ(console.sleeps_of(100), 2u + 1u + 2u + 21u);
}

TEST_F(ProtocolTest, ChangeBaudTo115200) {
  FakeConsole console(10);
  Sensor sensor(peer_, true, 9600);
  console.on_sleep = change_baud_pacing(sensor);
  std::int32_t current = 0;
  EXPECT_EQ(KALVOR_CHANGE_BAUD(port_, 115200, current), 0);
  EXPECT_EQ(current, 9600);
  EXPECT_EQ(rate(), 115200);
  EXPECT_EQ(speed_to_baud(peer_.settings()), 115200);
  EXPECT_EQ(sensor.wire_of_at_least(10), set_baud_frame(7) + kClearSequence + kQuery);
  EXPECT_EQ(set_baud_frame(7), std::string("\xAA\x81\x07\x55", 4));
  ASSERT_FALSE(console.lines.empty());
  // Free-form: the text, then the integer right-aligned in 12 columns.
  EXPECT_EQ(console.lines.back(), " >Sensor baud rate changed to " + std::string(6, ' ') + "115200");
}

TEST_F(ProtocolTest, ChangeBaudToTheSameRateStillSendsTheFrame) {
  FakeConsole console(10);
  Sensor sensor(peer_, true, 9600);
  console.on_sleep = change_baud_pacing(sensor);
  std::int32_t current = 0;
  EXPECT_EQ(KALVOR_CHANGE_BAUD(port_, 9600, current), 0);
  EXPECT_EQ(current, 9600);
  EXPECT_EQ(rate(), 9600);
  EXPECT_EQ(sensor.wire_of_at_least(10),
            std::string("\xAA\x81\x03\x55", 4) + kClearSequence + kQuery);
  EXPECT_EQ(console.lines.back(), " >Sensor baud rate changed to " + std::string(8, ' ') + "9600");
}

TEST_F(ProtocolTest, ChangeBaudWithASilentSensorLeavesTheOldRate) {
  FakeConsole console;
  Sensor sensor(peer_, false, 9600);
  console.on_sleep = change_baud_pacing(sensor);
  std::int32_t current = 0;
  EXPECT_EQ(KALVOR_CHANGE_BAUD(port_, 57600, current), 1);
  EXPECT_EQ(current, 9600);
  EXPECT_EQ(rate(), 9600);
  EXPECT_EQ(speed_to_baud(peer_.settings()), 9600);
  std::string attempt = set_baud_frame(6) + kClearSequence + kQuery;
  std::string ten;
  for (int i = 0; i < 10; ++i) ten += attempt;
  EXPECT_EQ(sensor.wire_of_at_least(ten.size()), ten);
  ASSERT_EQ(console.lines.size(), 1u);
  EXPECT_EQ(console.lines[0], " Failure to set baud rate to " + std::string(7, ' ') + "57600" +
                                  ", current baud rate=" + std::string(8, ' ') + "9600");
}

TEST_F(ProtocolTest, UnknownRateUsesTheCodeOfThePreviousCall) {
  FakeConsole console(10);
  Sensor sensor(peer_, true, 9600);
  console.on_sleep = change_baud_pacing(sensor);
  std::int32_t current = 0;
  ASSERT_EQ(KALVOR_CHANGE_BAUD(port_, 4800, current), 0);  // code 2
  ASSERT_EQ(rate(), 4800);
  console.on_sleep = nullptr;
  sensor.stop();
  const std::size_t before = sensor.wire().size();
  Sensor later(peer_, false, 4800);
  console.sleep_divisor = 0;
  console.on_sleep = change_baud_pacing(later);
  // 14400 is not in the table: the frame carries code 2 again; the sensor
  // stays silent and the port goes back to 4800.
  EXPECT_EQ(KALVOR_CHANGE_BAUD(port_, 14400, current), 1);
  EXPECT_EQ(current, 4800);
  EXPECT_EQ(rate(), 4800);
  EXPECT_EQ(before, 10u);
  EXPECT_EQ(later.wire_of_at_least(4).substr(0, 4), set_baud_frame(2));
}

}  // namespace
}  // namespace kal

// The port of a run whose command line names none and whose COM1 has no
// serial hardware: the decision on the ports present, and the real
// executable with ports given through KALFETCH_PORT_DIR.
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "expected_lines.h"
#include "link/pty_peer.h"
#include "session/port_choice.h"
#include "support/sim_harness.h"
#include "support/fake_console.h"
#include "support/run_program.h"

namespace kal {
namespace {

using namespace kal::test;
namespace fs = std::filesystem;

const SerialPortChoice kCom3{3, "", "COM3"};
const SerialPortChoice kCom5{5, "", "COM5"};
const SerialPortChoice kUsb0{0, "/dev/ttyUSB0", "/dev/ttyUSB0"};

const Lines kTwoListed = {
    " No port given and COM1 is no serial port here. Serial ports on this machine:",
    "    1  COM3",
    "    2  /dev/ttyUSB0",
};
const std::string kAsk = " Type the number of the sensor's port and press Enter (q quits):";

struct PickCase {
  const char* name;
  std::vector<SerialPortChoice> present;
  bool terminal;
  std::vector<std::string> typed;
  PortChoice result;
  std::int32_t port;
  const char* device_path;
  Lines lines;
};

TEST(PortChoice, PicksAsTheTableSays) {
  const PickCase table[] = {
      // Nothing to offer instead: COM1 stays, its connect failure tells the rest.
      {"none present", {}, true, {}, PortChoice::keep, 1, "", {}},
      {"one COM entry", {kCom3}, false, {}, PortChoice::chosen, 3, "",
       {" No port given and COM1 is no serial port here: using COM3, the only one."}},
      {"one device", {kUsb0}, false, {}, PortChoice::chosen, kDevicePathPort, "/dev/ttyUSB0",
       {" No port given and COM1 is no serial port here: using /dev/ttyUSB0, the only one."}},
      // Without a terminal nobody can pick: the list and how to name one.
      {"several, no terminal", {kCom3, kUsb0}, false, {}, PortChoice::none_chosen, 1, "",
       kTwoListed + Lines{" Name the sensor's port on the command line, such as: kalfetch5 X COM3"}},
      {"several, second picked", {kCom3, kUsb0}, true, {"2"}, PortChoice::chosen, kDevicePathPort,
       "/dev/ttyUSB0", kTwoListed + Lines{kAsk, " Using /dev/ttyUSB0."}},
      {"several, wrong answers first", {kCom3, kUsb0}, true, {"x", "3", "0", " 1 "}, PortChoice::chosen, 3,
       "",
       kTwoListed + Lines{kAsk, " Not a number of the list: 1 to 2.", kAsk, " Not a number of the list: 1 to 2.",
                          kAsk, " Not a number of the list: 1 to 2.", kAsk, " Using COM3."}},
      {"several, q", {kCom3, kCom5}, true, {"q"}, PortChoice::quit, 1, "",
       Lines{kTwoListed[0], "    1  COM3", "    2  COM5", kAsk}},
      {"several, end of input", {kCom3, kCom5}, true, {}, PortChoice::quit, 1, "",
       Lines{kTwoListed[0], "    1  COM3", "    2  COM5", kAsk}},
  };
  for (const PickCase& c : table) {
    SCOPED_TRACE(c.name);
    FakeConsole console;
    console.terminal = c.terminal;
    for (const std::string& line : c.typed) console.type_line(line);
    session_settings s;  // port 1, nothing named
    EXPECT_EQ(pick_port(s, c.present), c.result);
    EXPECT_EQ(console.lines, c.lines);
    EXPECT_EQ(s.port_number, c.port);
    EXPECT_EQ(s.device_path, c.device_path);
  }
}

TEST(PortChoice, NamedPortIsNeverReplaced) {
  FakeConsole console;
  session_settings s;
  s.port_number = 7;  // COM7, named on the command line, whatever is behind it
  s.portset = true;
  EXPECT_EQ(choose_port(s), PortChoice::keep);
  EXPECT_EQ(s.port_number, 7);
  EXPECT_TRUE(console.lines.empty());
}

std::vector<std::string> kalfetch5_with(const std::vector<std::string>& args) {
  std::vector<std::string> argv = {std::string(KAL_BIN_DIR) + "/kalfetch5"};
  argv.insert(argv.end(), args.begin(), args.end());
  return argv;
}

// The only port present (COM3 of the port folder; COM1 there names no
// device) is used: the line says so and the sensor's line is opened on it.
TEST(PortChoiceBinary, TheOnlyPortPresentIsUsed) {
  TempCwd cwd;
  ASSERT_TRUE(cwd.ready());
  testing::PtyPeer sensor(3);  // sets KALFETCH_PORT_DIR for the program
  ASSERT_TRUE(sensor.ok());
  fs::create_symlink("/nonexistent/ttyS0", fs::path(std::getenv("KALFETCH_PORT_DIR")) / "COM1");
  ChildProcess program;
  ASSERT_TRUE(program.start(kalfetch5_with({"X"}), {cwd.path(), {}}));
  // The first byte of the clear sequence reaches COM3: it was opened.
  ASSERT_EQ(sensor.receive(1, 30000), "4");
  program.send(SIGTERM);
  ASSERT_TRUE(program.ends_within(std::chrono::seconds(10)));
  std::string out;
  char buffer[4096];
  for (ssize_t n; (n = ::read(program.stdout_fd(), buffer, sizeof buffer)) > 0;)
    out.append(buffer, static_cast<std::size_t>(n));
  EXPECT_NE(out.find("\n No port given and COM1 is no serial port here: using COM3, the only one.\n"),
            std::string::npos)
      << out;
}

// What `fd` delivers until `text` has come or 30 s have passed.
std::string read_until_seen(int fd, std::string_view text, std::string& got) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (got.find(text) == std::string::npos && std::chrono::steady_clock::now() < deadline) {
    struct pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, 200) <= 0) continue;
    char buffer[4096];
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n <= 0) break;
    got.append(buffer, static_cast<std::size_t>(n));
  }
  return got;
}

// Several ports and a terminal: the list, the question, and the port of the
// number typed is the one opened.
TEST(PortChoiceBinary, SeveralPortsOnATerminalTheTypedNumberIsUsed) {
  TempCwd cwd;
  ASSERT_TRUE(cwd.ready());
  testing::PtyPeer sensor(3);  // sets KALFETCH_PORT_DIR for the program
  ASSERT_TRUE(sensor.ok());
  const fs::path ports = std::getenv("KALFETCH_PORT_DIR");
  fs::create_symlink("/dev/null", ports / "COM7");  // listed, never opened
  fs::create_symlink("/nonexistent/ttyS0", ports / "COM1");
  int keyboard = -1, terminal = -1;
  ASSERT_EQ(::openpty(&keyboard, &terminal, nullptr, nullptr, nullptr), 0);
  int out[2];
  ASSERT_EQ(::pipe(out), 0);
  const std::string program = std::string(KAL_BIN_DIR) + "/kalfetch5";
  const pid_t pid = ::fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    ::setsid();
    ::dup2(terminal, STDIN_FILENO);
    ::dup2(out[1], STDOUT_FILENO);
    if (::chdir(cwd.path().c_str()) != 0) ::_exit(126);
    ::execl(program.c_str(), program.c_str(), "X", static_cast<char*>(nullptr));
    ::_exit(127);
  }
  ::close(terminal);
  ::close(out[1]);
  std::string got;
  read_until_seen(out[0], "(q quits):\n", got);
  EXPECT_NE(got.find(" No port given and COM1 is no serial port here. Serial ports on this machine:\n"
                     "    1  COM3\n"
                     "    2  COM7\n"
                     " Type the number of the sensor's port and press Enter (q quits):\n"),
            std::string::npos)
      << got;
  ASSERT_EQ(::write(keyboard, "1\r", 2), 2);
  // The first byte of the clear sequence reaches COM3: it was opened.
  EXPECT_EQ(sensor.receive(1, 30000), "4");
  ::kill(pid, SIGTERM);
  int status = 0;
  ::waitpid(pid, &status, 0);
  read_until_seen(out[0], "<the end>", got);
  EXPECT_NE(got.find("\n Using COM3.\n"), std::string::npos) << got;
  ::close(out[0]);
  ::close(keyboard);
}

// Several ports and no terminal: the list, how to name one, status 2, and
// no port opened (the links name /dev/null) and no RAW file.
TEST(PortChoiceBinary, SeveralPortsWithoutATerminalAreListed) {
  TempCwd cwd;
  ASSERT_TRUE(cwd.ready());
  TempDir ports("kalports");
  ASSERT_TRUE(ports.ready());
  fs::create_symlink("/dev/null", ports.path() / "COM5");
  fs::create_symlink("/dev/null", ports.path() / "COM12");
  fs::create_symlink("/nonexistent/ttyS0", ports.path() / "COM1");
  const ProgramOutcome o =
      run_program(kalfetch5_with({"X"}), "", {cwd.path(), {{"KALFETCH_PORT_DIR", ports.path().string()}}});
  EXPECT_EQ(o.exit_status, 2);
  EXPECT_EQ(o.out, joined(kBannerLines + Lines{" portset= F baudset= F and LGFset= T",
                                               " No port given and COM1 is no serial port here. Serial "
                                               "ports on this machine:",
                                               "    1  COM5", "    2  COM12",
                                               " Name the sensor's port on the command line, such as: "
                                               "kalfetch5 X COM5"} +
                          kNothingUploaded + Lines{"Exiting..."}));
  EXPECT_TRUE(list_files(cwd.path()).empty());
}

// No port at all: COM1 is tried as before and its failure lists none.
TEST(PortChoiceBinary, NoPortPresentFailsOnComOne) {
  TempCwd cwd;
  ASSERT_TRUE(cwd.ready());
  TempDir ports("kalports");
  ASSERT_TRUE(ports.ready());
  const ProgramOutcome o =
      run_program(kalfetch5_with({"X"}), "", {cwd.path(), {{"KALFETCH_PORT_DIR", ports.path().string()}}});
  EXPECT_EQ(o.exit_status, 2);
  EXPECT_NE(o.out.find("\n No serial port was found on this machine.\n"), std::string::npos) << o.out;
  EXPECT_EQ(o.out.find("No port given"), std::string::npos) << o.out;
}

}  // namespace
}  // namespace kal

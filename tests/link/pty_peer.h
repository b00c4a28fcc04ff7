// A pseudo-terminal standing in for the sensor's cable: the test holds the
// master side, and the service opens the slave as port n through a COM<n>
// link in a temporary KALFETCH_PORT_DIR.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <string_view>
#include <thread>

#include "link/serial_port.h"
#include "support/temp_dir.h"

namespace kal::testing {

class PtyPeer {
 public:
  explicit PtyPeer(std::int32_t port) : port_(port) {
    char name[256] = {};
    ok_ = openpty(&master_, &slave_, name, nullptr, nullptr) == 0;
    if (!ok_) return;
    ok_ = folder_.ready();
    if (!ok_) return;
    std::filesystem::create_symlink(name, folder_.path() / ("COM" + std::to_string(port)));
    setenv("KALFETCH_PORT_DIR", folder_.path().c_str(), 1);
  }

  ~PtyPeer() {
    close_master();
    if (slave_ >= 0) ::close(slave_);
  }

  PtyPeer(const PtyPeer&) = delete;
  PtyPeer& operator=(const PtyPeer&) = delete;

  bool ok() const { return ok_; }
  std::int32_t port() const { return port_; }
  int master() const { return master_; }

  void send(std::string_view bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
      const ssize_t n = ::write(master_, bytes.data() + done, bytes.size() - done);
      if (n <= 0) return;
      done += static_cast<std::size_t>(n);
    }
  }

  // Up to `n` bytes that reach the master within `timeout_ms`.
  std::string receive(std::size_t n, int timeout_ms = 2000) {
    std::string got;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    while (got.size() < n) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                            deadline - std::chrono::steady_clock::now())
                            .count();
      if (left <= 0) break;
      struct pollfd p{master_, POLLIN, 0};
      if (::poll(&p, 1, static_cast<int>(left)) <= 0) break;
      char buffer[4096];
      const ssize_t r = ::read(master_, buffer, std::min(sizeof buffer, n - got.size()));
      if (r <= 0) break;
      got.append(buffer, static_cast<std::size_t>(r));
    }
    return got;
  }

  // Whatever arrives within `quiet_ms` (for "nothing was sent" checks).
  std::string receive_all(int quiet_ms = 100) { return receive(1 << 20, quiet_ms); }

  // The line settings as the master side sees them.
  struct termios settings() const {
    struct termios t{};
    tcgetattr(master_, &t);
    return t;
  }

  void close_master() {
    if (master_ >= 0) ::close(master_);
    master_ = -1;
  }

 private:
  std::int32_t port_;
  int master_ = -1;
  int slave_ = -1;
  bool ok_ = false;
  kal::test::TempDir folder_{"kal-serial"};  // holds the COM<n> link
};

// Polls SERIAL_PEEK_LINE until a line is ready (or `timeout_ms` passes);
// returns the last status.
inline std::int32_t wait_for_line(std::int32_t port, std::int32_t& ready, std::int32_t& count,
                                  int timeout_ms = 3000) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  std::int32_t status = 0;
  do {
    status = SERIAL_PEEK_LINE(&port, &ready, &count);
    if (status != 0 || ready != 0) return status;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  } while (std::chrono::steady_clock::now() < deadline);
  return status;
}

}  // namespace kal::testing

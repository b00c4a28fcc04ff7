// Line assembly of the serial-port service over an arbitrary byte stream and
// an arbitrary line-ending options word: the stream goes through a real
// pseudo-terminal into the reader thread and its ring, and is taken back with
// SERIAL_PEEK_LINE and SERIAL_READ. Never a crash or a hang; counts stay
// within their bounds; stripped bytes are never stored.
#include <pty.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "link/serial_port.h"
#include "support/temp_dir.h"

namespace {

struct Link {
  int master = -1;
  std::int32_t port = 5;
  std::uint32_t options = 0;
  bool connected = false;
};

Link& link() {
  static Link l = [] {
    Link made;
    int slave = -1;
    if (openpty(&made.master, &slave, nullptr, nullptr, nullptr) != 0) std::abort();
    static const kal::test::TempDir dir("kal-fuzz-serial");
    if (!dir.ready()) std::abort();
    std::filesystem::create_symlink(ttyname(slave), dir.path() / "COM5");
    setenv("KALFETCH_PORT_DIR", dir.path().c_str(), 1);
    return made;
  }();
  return l;
}

void write_all(int fd, const std::uint8_t* data, std::size_t size) {
  while (size > 0) {
    const ssize_t n = ::write(fd, data, size);
    if (n <= 0) std::abort();
    data += n;
    size -= static_cast<std::size_t>(n);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1 || size > 4000) return 0;
  Link& l = link();
  const std::uint32_t options = data[0] & 0x1F;
  if (!l.connected || options != l.options) {
    if (l.connected) kal::SERIAL_RELEASE(&l.port);
    const std::uint32_t word = options;  // 0 means the default word
    if (kal::SERIAL_CONNECT(&l.port, &word) != 0) std::abort();
    l.connected = true;
    l.options = options;
  }
  const std::uint32_t effective = options == 0 ? kal::kDefaultOptions : options;
  kal::SERIAL_PURGE(&l.port);

  const std::uint8_t* stream = data + 1;
  const std::size_t n = size - 1;
  std::size_t expected = 0;  // bytes that are stored, not stripped
  for (std::size_t i = 0; i < n; ++i) {
    const bool stripped = (stream[i] == 13 && (effective & kal::kStripCr)) ||
                          (stream[i] == 10 && (effective & kal::kStripLf));
    if (!stripped) ++expected;
  }
  write_all(l.master, stream, n);

  std::size_t got = 0;
  char buffer[256];
  while (got < expected) {
    std::int32_t ready = -1, count = -1;
    if (kal::SERIAL_PEEK_LINE(&l.port, &ready, &count) != 0) std::abort();
    if ((ready != 0 && ready != 1) || count < 0 || (ready == 0 && count != 0)) std::abort();
    const std::int32_t capacity =
        static_cast<std::int32_t>(std::min<std::size_t>(sizeof buffer, expected - got));
    std::int32_t stored = -1;
    if (kal::SERIAL_READ(&l.port, buffer, capacity, &stored) != 0) std::abort();
    if (stored < 0 || stored > capacity) std::abort();
    for (std::int32_t i = 0; i < stored; ++i) {
      if ((buffer[i] == 13 && (effective & kal::kStripCr)) ||
          (buffer[i] == 10 && (effective & kal::kStripLf))) {
        std::abort();
      }
    }
    for (std::int32_t i = stored; i < capacity; ++i) {
      if (buffer[i] != ' ') std::abort();  // the rest is blank-filled
    }
    got += static_cast<std::size_t>(stored);
  }
  return 0;
}

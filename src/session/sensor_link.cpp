#include "session/sensor_link.h"

#include "common/format.h"
#include "console/console.h"

namespace kal {
namespace {

// The sensor ends every line with CR LF: a line ends at a LF right after a
// CR, and both are kept, so that the upload can tell a line end from a CR
// that noise put into a line.
constexpr std::uint32_t kSessionLineOptions = kCrEndsLine | kLfEndsLine;
constexpr int kMaxConnectFailures = 100;  // 101 attempts in all

}  // namespace

bool quit_key_pressed() {
  if (!KEY_WAITING()) return false;
  char key = ' ';
  GET_KEY(key);
  return key == 'q' || key == 'Q';
}

Retry SensorLink::write_bytes(std::string_view tag, std::string_view bytes) {
  return retry(tag, [&] {
    std::int32_t count = static_cast<std::int32_t>(bytes.size());
    return SERIAL_WRITE(&s_.port_number, bytes, &count);
  });
}

Retry SensorLink::purge(std::string_view tag) {
  return retry(tag, [&] { return SERIAL_PURGE(&s_.port_number); });
}

void SensorLink::report_lost(std::int32_t status) {
  lost_ = true;
  put_line("*** Lost the link to the sensor on port " + serial_port_label(s_.port_number) + ": " +
           serial_error_text(status) + " (error " + fmt::I(status, 0) + ")");
}

std::int32_t SensorLink::change_baud(std::int32_t baud) {
  std::int32_t result = KALVOR_CHANGE_BAUD(s_.port_number, baud, s_.current_baud);
  if (result != kQueryAnswered) result = KALVOR_CHANGE_BAUD(s_.port_number, baud, s_.current_baud);
  if (result == kLinkLost) lost_ = true;  // the routine named port and error
  return result;
}

bool SensorLink::connect(int& connect_failures, std::int32_t& status) {
  for (;;) {
    status = SERIAL_CONNECT(&s_.port_number, &kSessionLineOptions);
    if (status == kSerialOk) {
      connected_ = true;
      return true;
    }
    if (++connect_failures > kMaxConnectFailures) return false;
  }
}

std::int32_t SensorLink::release() {
  connected_ = false;
  return SERIAL_RELEASE(&s_.port_number);
}

}  // namespace kal

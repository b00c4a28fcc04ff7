// The command-line classification over arbitrary arguments (NUL separates
// them): never a crash, and the settings always stay within their fields.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "session/session_settings.h"
#include "support/fake_console.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static kal::test::FakeConsole quiet;  // installed for the whole run
  quiet.recording = false;              // no keyboard, nothing kept
  std::vector<std::string> args(1);
  for (std::size_t i = 0; i < size; ++i) {
    if (data[i] == 0) {
      args.emplace_back();
    } else {
      args.back().push_back(static_cast<char>(data[i]));
    }
  }
  kal::session_settings settings;
  kal::read_command_line(args, settings);
  if (settings.format_letters.size() != kal::kFormatLettersLength ||
      settings.transcribe_list.size() != kal::kTranscribeListLength) {
    std::abort();
  }
  return 0;
}

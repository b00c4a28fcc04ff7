// A whole transcription of one RAW file (the fuzz input) for every output
// type, in a private temporary folder: never a crash, never a hang, and no
// file written outside that folder.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "support/fake_console.h"
#include "transcribe/driver.h"

namespace fs = std::filesystem;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static kal::test::FakeConsole quiet;  // installed for the whole run
  quiet.recording = false;              // no keyboard, nothing kept
  static const fs::path root = [] {
    char pattern[] = "/tmp/kal-fuzz-xlat-XXXXXX";
    const char* made = mkdtemp(pattern);
    if (made == nullptr) std::abort();
    fs::create_directories(fs::path(made) / "run");
    fs::current_path(made);  // the projection's diagnostics land here
    return fs::path(made) / "run";
  }();

  const fs::path raw = root / "survey.RAW";
  {
    std::ofstream out(raw, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
  }
  for (const char* type : {"X", "G", "D", "L", "S", "P", "I", "R"}) {
    float height = 0.4f;
    bool height_set = true;
    std::int32_t result = -1;
    kal::KALXLATSUB(raw.string(), type, height, height_set, result);
    if (result < 0 || result > 5) std::abort();
  }
  // Nothing may escape the folder: the parent holds only the run folder and
  // the projection's diagnostics file.
  for (const auto& entry : fs::directory_iterator(root.parent_path())) {
    const auto name = entry.path().filename().string();
    if (name != "run" && name != "fort.99") std::abort();
  }
  fs::remove_all(root);
  fs::create_directories(root);
  return 0;
}

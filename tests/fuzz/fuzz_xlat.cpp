// A whole transcription of one RAW file (the fuzz input) for every output
// type and its exports (CSV, GeoJSON, report), in a private temporary
// folder: never a crash, never a hang, and no file written outside that
// folder.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "export/export.h"
#include "support/fake_console.h"
#include "support/temp_dir.h"
#include "transcribe/driver.h"

namespace fs = std::filesystem;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static kal::test::FakeConsole quiet;  // installed for the whole run
  quiet.recording = false;              // no keyboard, nothing kept
  // The working folder is left alone: libFuzzer keeps its corpus there by a
  // relative path (the projection's diagnostics file fort.99 lands there too).
  static const kal::test::TempDir top("kal-fuzz-xlat");
  static const fs::path root = [] {
    if (!top.ready()) std::abort();
    fs::create_directories(top.path() / "run");
    return top.path() / "run";
  }();

  const fs::path raw = root / "survey.RAW";
  {
    std::ofstream out(raw, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
  }
  kal::ExportRequest all;
  all.csv = all.geojson = all.report = true;
  kal::SurveyExport exports(raw.string(), all);
  kal::xlat::Persistent kept;
  for (const char* type : {"X", "G", "D", "L", "S", "P", "I", "R"}) {
    float height = 0.4f;
    bool height_set = true;
    std::int32_t result = -1;
    kal::KALXLATSUB(raw.string(), type, height, height_set, result, kept, exports.observer());
    if (result < 0 || result > 5) std::abort();
  }
  exports.finish();
  // Nothing may escape the folder: its parent holds only the run folder.
  // (The projection's diagnostics file fort.99 goes to the working folder.)
  for (const auto& entry : fs::directory_iterator(root.parent_path())) {
    if (entry.path().filename() != "run") std::abort();
  }
  fs::remove_all(root);
  fs::create_directories(root);
  return 0;
}

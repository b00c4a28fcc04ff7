// Runs of the session that end before any sensor answers: argument errors,
// the usage text, a RAW file that cannot be created, and a port without a
// device behind it.
#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>

#include "expected_lines.h"
#include "session/session.h"
#include "support/fake_console.h"
#include "support/scoped_env.h"
#include "support/sim_harness.h"

namespace kal {
namespace {

using namespace kal::test;

// Step 5 of the close prints the restore lines even on the usage path; the
// release finds no port, so no "terminated" line; no RAW name was formed.
const Lines kUsageClose = kRestoreLines + kNothingUploaded + Lines{"Exiting..."};

const Lines kUsageText = usage_lines("       38400");

struct EarlyCase {
  const char* name;
  std::vector<std::string> args;
  int exit_status;
  Lines lines;
};

TEST(SessionEarlyExit, ArgumentErrorsEndWithoutTouchingAPortOrAFile) {
  const EarlyCase table[] = {
      {"R alone", {"R"}, kExitBadArguments,
       kBannerLines + Lines{" portset= F baudset= F and LGFset= T"} + kUsageText + kUsageClose},
      {"too many", {"a", "b", "c", "d", "e"}, kExitBadArguments,
       kBannerLines + Lines{" ERROR: TOO MANY ARGUMENTS"} + kNothingUploaded + Lines{"Exiting..."}},
      {"COMX", {"X", "COMX"}, kExitBadArguments,
       kBannerLines + Lines{" ERROR: NOT A COM PORT NUMBER IN ARGUMENT COMX"} + kNothingUploaded +
           Lines{"Exiting..."}},
      {"height not a number", {"X", "COM3", "38400", "1.2.3"}, kExitBadArguments,
       kBannerLines + Lines{" ERROR: SENSOR HEIGHT IS NOT A NUMBER: 1.2.3"} + kUsageText +
           kUsageClose},
  };
  for (const EarlyCase& c : table) {
    SCOPED_TRACE(c.name);
    TempCwd cwd;
    ASSERT_TRUE(cwd.ready());
    // A sensor folder without any device: nothing may be opened anyway.
    ScopedEnv ports("KALFETCH_PORT_DIR", cwd.path().string());
    FakeConsole console;
    EXPECT_EQ(KALFETCH5(c.args), c.exit_status);
    EXPECT_EQ(console.lines, c.lines);
    EXPECT_TRUE(list_files(cwd.path()).empty());
    // The release step pauses 10 ms and the end 5 s.
    EXPECT_EQ(console.slept_ms(), 5010);
  }
}

TEST(SessionEarlyExit, RawFileThatCannotBeCreatedIsReportedAndNothingIsOpened) {
  TempCwd cwd;
  ASSERT_TRUE(cwd.ready());
  ScopedEnv ports("KALFETCH_PORT_DIR", cwd.path().string());
  FakeConsole console;
  console.set_clock(2026, 12, 8, 14, 30, 15);
  // A folder of the RAW file's name makes the creation fail.
  std::filesystem::create_directory(cwd.path() / "XC143015-12082026.RAW");
  EXPECT_EQ(KALFETCH5({"X", "COM3"}), kExitRawFileError);
  const Lines expected = kBannerLines +
                         Lines{" portset= T baudset= F and LGFset= T",
                               " *** Open error for outfile=XC143015-12082026.RAW",
                               "cannot create XC143015-12082026.RAW: Is a directory"} +
                         kRestoreLines + kNothingUploaded + Lines{"Exiting..."};
  EXPECT_EQ(console.lines, expected);
  EXPECT_TRUE(std::filesystem::is_directory(cwd.path() / "XC143015-12082026.RAW"));
}

TEST(SessionEarlyExit, PortWithoutDeviceGivesTheConnectFailureReport) {
  TempCwd cwd;
  ASSERT_TRUE(cwd.ready());
  // COM7 does not exist in the port folder; COM5 does.
  ScopedEnv ports("KALFETCH_PORT_DIR", cwd.path().string());
  std::filesystem::create_symlink("/dev/null", cwd.path() / "COM5");
  FakeConsole console;
  console.set_clock(2026, 12, 8, 14, 30, 15);
  EXPECT_EQ(KALFETCH5({"COM7"}), kExitNoPort);
  // The status is the platform's error for a missing device: ENOENT, 2 on
  // Linux, right-aligned in 12.
  static_assert(ENOENT == 2);
  const std::string error_in_12 = "           2";
  const Lines expected =
      kBannerLines +
      Lines{" portset= T baudset= F and LGFset= F", "", testing_line("       38400"), "",
            "Error in KALFETCH5:",
            " Failed to logically connect to PC comm port #           7, Error#" + error_in_12, "",
            " This message usually means that your USB-Serial adapter is not plugged into",
            " a USB port or that the COM port that your USB-Serial adapter is set up to use",
            " is not the same COM port that you have selected, either directly in your ",
            " command line or indirectly by not specifying a COM port (in which case, ",
            " COM1 is assumed.)", "", "",
            // Why, and which ports there are to choose from.
            " The port could not be opened: No such file or directory (error 2)",
            " Serial ports on this machine:", "   " + (cwd.path() / "COM5").string() + " -> /dev/null"} +
      kNothingUploaded + Lines{"Empty RAW file deleted.", "Exiting..."};
  // The machine's own adapters (/dev/ttyUSB0, ...) may stand in the list too.
  Lines shown = console.lines;
  std::erase_if(shown, [](const std::string& l) { return l.starts_with("   /dev/"); });
  EXPECT_EQ(shown, expected);
  // 2 s after the report, 10 ms at the release, 5 s at the end.
  EXPECT_EQ(console.slept_ms(), 7010);
  // The empty RAW file was removed again.
  EXPECT_FALSE(std::filesystem::exists(cwd.path() / "XC143015-12082026.RAW"));
}

}  // namespace
}  // namespace kal

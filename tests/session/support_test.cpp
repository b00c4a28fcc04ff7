// The helpers the session tests stand on: child programs with piped input
// and a time limit, and temporary folders.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <vector>

#include "support/run_program.h"
#include "support/temp_dir.h"

namespace kal::test {
namespace {

namespace fs = std::filesystem;
using std::chrono::milliseconds;

struct ProgramCase {
  const char* name;
  std::vector<std::string> argv;
  std::string input;
  int exit_status;
  std::string out;
};

TEST(RunProgram, InputOutputAndExitStatus) {
  const std::string megabyte(1 << 20, 'x');  // far more than a pipe holds
  const ProgramCase table[] = {
      {"input comes back", {"/bin/cat"}, "n\n/\n", 0, "n\n/\n"},
      {"no input is an empty stdin", {"/bin/cat"}, "", 0, ""},
      {"a large input passes whole", {"/bin/cat"}, megabyte, 0, megabyte},
      {"exit code", {"/bin/sh", "-c", "echo done; exit 3"}, "", 3, "done\n"},
      // The program ends without reading: the rest of the input is dropped
      // and the test process lives on.
      {"input left unread", {"/bin/sh", "-c", "exit 0"}, megabyte, 0, ""},
      {"missing program", {"/nonexistent/program"}, "", 127, ""},
  };
  for (const ProgramCase& c : table) {
    SCOPED_TRACE(c.name);
    const ProgramOutcome o = run_program(c.argv, c.input);
    EXPECT_FALSE(o.timed_out);
    EXPECT_EQ(o.exit_status, c.exit_status);
    EXPECT_EQ(o.out, c.out);
  }
}

TEST(RunProgram, WorkingFolderAndEnvironmentAreTheChildsOnly) {
  TempDir dir;
  ASSERT_TRUE(dir.ready());
  const fs::path before = fs::current_path();
  const ProgramOutcome o = run_program({"/bin/sh", "-c", "pwd; echo \"$KAL_SUPPORT_PROBE\""}, "",
                                       {dir.path(), {{"KAL_SUPPORT_PROBE", "seen"}}});
  EXPECT_EQ(o.exit_status, 0);
  EXPECT_EQ(o.out, fs::canonical(dir.path()).string() + "\nseen\n");
  EXPECT_EQ(fs::current_path(), before);
  EXPECT_EQ(std::getenv("KAL_SUPPORT_PROBE"), nullptr);
}

TEST(RunProgram, HangingProgramIsKilledAtTheLimit) {
  const auto start = std::chrono::steady_clock::now();
  const ProgramOutcome o = run_program({"/bin/sleep", "30"}, "", {}, milliseconds(300));
  EXPECT_TRUE(o.timed_out);
  EXPECT_EQ(o.exit_status, -1);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
}

TEST(RunProgram, ProgramThatClosesItsOutputButRunsOnIsKilledToo) {
  const ProgramOutcome o =
      run_program({"/bin/sh", "-c", "echo early; exec >&-; exec sleep 30"}, "", {}, milliseconds(300));
  EXPECT_TRUE(o.timed_out);
  EXPECT_EQ(o.out, "early\n");
}

TEST(TempDir, IsRemovedWithItsFilesAndRestoresTheWorkingFolder) {
  const fs::path before = fs::current_path();
  fs::path made;
  {
    TempDir dir("kal-support", TempDir::Cwd::enter);
    ASSERT_TRUE(dir.ready());
    made = dir.path();
    EXPECT_EQ(made.filename().string().rfind("kal-support-", 0), 0u);
    EXPECT_EQ(fs::current_path(), fs::canonical(made));
    fs::create_directory("sub");
    { std::ofstream(dir.file("a.txt")) << "a"; }
    EXPECT_EQ(dir.files(), (std::set<std::string>{"a.txt", "sub"}));
  }
  if (!std::getenv("KAL_TEST_KEEP")) {
    EXPECT_FALSE(fs::exists(made));
  }
  EXPECT_EQ(fs::current_path(), before);
}

TEST(TempDir, TwoFoldersAreDistinct) {
  TempDir a, b;
  ASSERT_TRUE(a.ready() && b.ready());
  EXPECT_NE(a.path(), b.path());
  EXPECT_NE(fs::current_path(), fs::canonical(a.path()));  // the working folder is left alone
}

}  // namespace
}  // namespace kal::test

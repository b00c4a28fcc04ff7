// The transcription's two prompts (sensor height, length code) when the
// operator types q, or standard input ends: q is no number and is asked
// again, the end of input keeps the value offered, and the files are those
// of the plain answer.
#include <gtest/gtest.h>
#include <poll.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <string_view>
#include <vector>

#include "e2e/xlat_harness.h"
#include "e2e/xlat_records.h"
#include "support/run_program.h"

namespace kal::xtest {
namespace {

const char kLengthPrompt[] =
    "Enter Kalvor Length Code (1,15,2,4,21,215,42,421,62,621,642 or 842, default=1)";
const char kHeightPrompt[] =
    "Enter Sensor height manually or type / followed by <ENTER> to accept this value ";

// A NULD station with no configuration before it: the length-code prompt.
const std::vector<std::string> kRaw = {t58("100001", 1, "NULD", {0, 0, 2842, 150, 2986, -50})};

struct Answers {
  const char* what;
  std::string input;
  int height_prompts;  // times the height prompt is shown (asked again after q)
  bool length_q;       // a q at the length code: how it is asked again is open
};

TEST(FaultPrompt, QuitKeyAndEndOfInputAtTheTranscriptionPrompts) {
  // "/" at both: height 0.2 and the preset length code 1.
  TempDir ref_dir;
  write_file(ref_dir.file("in.RAW"), raw_text(kRaw));
  const XlatRun ref = run_kalxlat(ref_dir.path(), {"in.RAW", "X"}, "/\n/\n");
  ASSERT_EQ(ref.status, 0) << numbered(ref.lines);
  const std::string ref_xyz = read_file(ref_dir.file("Default.xyz"));
  ASSERT_FALSE(ref_xyz.empty());

  const Answers table[] = {
      {"code typed as 1", "/\n1\n", 1, false},
      {"end of input at the length code", "/\n", 1, false},
      {"end of input at both", "", 1, false},
      {"q then / at the length code", "/\nq\n/\n", 1, true},
      {"q then / at both", "q\n/\nQ\n/\n", 2, true},
      {"q then end of input at both", "q\n", 2, false},
  };
  for (const Answers& a : table) {
    SCOPED_TRACE(a.what);
    TempDir dir;
    write_file(dir.file("in.RAW"), raw_text(kRaw));
    const XlatRun run = run_kalxlat(dir.path(), {"in.RAW", "X"}, a.input);
    ASSERT_FALSE(run.timed_out);
    EXPECT_EQ(run.status, 0) << numbered(run.lines);
    EXPECT_EQ(run.count_lines_containing(kHeightPrompt), a.height_prompts) << numbered(run.lines);
    const int length_prompts = run.count_lines_containing(kLengthPrompt);
    if (a.length_q) {
      EXPECT_GE(length_prompts, 1) << numbered(run.lines);
    } else {
      EXPECT_EQ(length_prompts, 1) << numbered(run.lines);
    }
    EXPECT_EQ(read_file(dir.file("Default.xyz")), ref_xyz);
  }

  // Another code gives other values: the comparison above can fail.
  TempDir other;
  write_file(other.file("in.RAW"), raw_text(kRaw));
  const XlatRun run = run_kalxlat(other.path(), {"in.RAW", "X"}, "/\n2\n");
  EXPECT_EQ(run.status, 0);
  EXPECT_NE(read_file(other.file("Default.xyz")), ref_xyz);
}

// Reads `fd` into `out` until `out` holds `text` (true) or ten seconds pass
// or the output ends (false). No console line holds kToTheEnd.
constexpr std::string_view kToTheEnd{"\0", 1};
bool read_until(int fd, std::string_view text, std::string& out) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (out.find(text) == std::string::npos) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) return false;
    struct pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, static_cast<int>(left.count())) <= 0) continue;
    char buffer[4096];
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n <= 0) return false;
    out.append(buffer, static_cast<std::size_t>(n));
  }
  return true;
}

// The operator types each answer only once its prompt is on the screen: the
// program has written the prompt before it waits for the reply, and the
// dialogue is byte for byte that of the same answers given at once.
TEST(FaultPrompt, EachPromptIsOnThePipeBeforeItsReplyIsRead) {
  TempDir ref_dir;
  write_file(ref_dir.file("in.RAW"), raw_text(kRaw));
  const XlatRun ref = run_kalxlat(ref_dir.path(), {"in.RAW", "X"}, "/\n/\n");
  ASSERT_EQ(ref.status, 0) << numbered(ref.lines);

  TempDir dir;
  write_file(dir.file("in.RAW"), raw_text(kRaw));
  kal::test::ChildProcess program;
  ASSERT_TRUE(program.start({kalxlat_path(), "in.RAW", "X"}, {dir.path(), {}}));
  std::string out;
  ASSERT_TRUE(read_until(program.stdout_fd(), kHeightPrompt, out)) << out;
  ASSERT_EQ(out.find(kLengthPrompt), std::string::npos) << out;
  ASSERT_EQ(::write(program.stdin_fd(), "/\n", 2), 2);
  ASSERT_TRUE(read_until(program.stdout_fd(), kLengthPrompt, out)) << out;
  ASSERT_EQ(::write(program.stdin_fd(), "/\n", 2), 2);
  program.close_stdin();
  read_until(program.stdout_fd(), kToTheEnd, out);
  program.wait();
  EXPECT_EQ(program.exit_status(), 0);
  EXPECT_EQ(out, ref.out);
}

}  // namespace
}  // namespace kal::xtest

// When the program's window closes with it, the run waits for Enter: the
// decision from the processes attached to the console and the input.
#include <gtest/gtest.h>

#include <cstdint>

#include "console/console.h"

namespace kal {
namespace {

TEST(WindowRule, WaitsForEnterOnlyWhenAloneOnItsConsoleWithItsKeyboard) {
  struct Case {
    const char* name;
    std::uint32_t processes_on_console;
    bool input_is_console;
    bool waits;
  };
  const Case table[] = {
      {"double-clicked: alone, keys of its window", 1, true, true},
      {"from a command window: cmd.exe shares the console", 2, true, false},
      {"from a script run by a command window", 3, true, false},
      {"alone but reading a file or a pipe: nobody to press Enter", 1, false, false},
      {"from a command window, input redirected", 2, false, false},
      {"the count failed", 0, true, false},
  };
  for (const Case& c : table) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(window_closes_with_program(c.processes_on_console, c.input_is_console), c.waits);
  }
}

#ifndef _WIN32
// A terminal outlives the program: never a wait for Enter.
TEST(WindowRule, NeverOnPosix) { EXPECT_FALSE(own_window_closes_with_program()); }
#endif

}  // namespace
}  // namespace kal

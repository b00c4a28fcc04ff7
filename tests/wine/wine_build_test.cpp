// The Windows executables run on a Windows machine without the MinGW run-time:
// they import no DLL beyond what Windows itself ships.
#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <set>
#include <string>

#include "wine/wine_harness.h"

namespace kal::winetest {
namespace {

std::set<std::string> imported_dlls(const fs::path& exe) {
  std::set<std::string> dlls;
  const std::string command = std::string(KAL_MINGW_OBJDUMP) + " -p '" + exe.string() + "'";
  std::unique_ptr<FILE, int (*)(FILE*)> pipe(popen(command.c_str(), "r"), pclose);
  if (!pipe) return dlls;
  char line[512];
  while (std::fgets(line, sizeof line, pipe.get()) != nullptr) {
    const std::string text = line;
    const auto at = text.find("DLL Name: ");
    if (at == std::string::npos) continue;
    std::string name = text.substr(at + 10);
    while (!name.empty() && (name.back() == '\n' || name.back() == '\r' || name.back() == ' ')) name.pop_back();
    for (char& c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    dlls.insert(name);
  }
  return dlls;
}

TEST(WineBuild, ExecutablesNeedNoMinGWRuntime) {
  // Parts of every Windows installation.
  const std::set<std::string> system = {"kernel32.dll", "msvcrt.dll", "user32.dll", "advapi32.dll",
                                        "winmm.dll", "ws2_32.dll", "shell32.dll", "ole32.dll"};
  for (const char* program : {"kalfetch5", "kalxlat"}) {
    SCOPED_TRACE(program);
    const std::set<std::string> dlls = imported_dlls(windows_executable(program));
    ASSERT_FALSE(dlls.empty()) << "no import table read from " << windows_executable(program);
    for (const std::string& dll : dlls) {
      EXPECT_TRUE(system.count(dll) != 0 || dll.rfind("api-ms-win-", 0) == 0) << dll;
    }
  }
}

}  // namespace
}  // namespace kal::winetest

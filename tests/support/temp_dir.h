// A fresh folder under the system's temporary folder for one test, removed
// with everything in it when the object ends; optionally the working folder
// while it lives, so that files the code writes beside itself are seen in
// isolation. KAL_TEST_KEEP=1 keeps the folders for a look afterwards.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <random>
#include <set>
#include <string>
#include <string_view>
#include <system_error>

#include "support/text_files.h"

namespace kal::test {

class TempDir {
 public:
  enum class Cwd { stay, enter };

  explicit TempDir(std::string_view prefix = "kal-test", Cwd cwd = Cwd::stay) {
    std::error_code ec;
    const std::filesystem::path base = std::filesystem::temp_directory_path(ec);
    // A name nobody has: create_directory fails on one that exists. (The
    // same on Windows, which has no mkdtemp.)
    std::random_device random;
    for (int attempt = 0; attempt < 100 && path_.empty(); ++attempt) {
      const std::filesystem::path candidate = base / (std::string(prefix) + "-" + std::to_string(random()));
      if (std::filesystem::create_directory(candidate, ec)) path_ = candidate;
    }
    if (path_.empty()) return;  // not ready(): tests assert it
    if (cwd == Cwd::enter) enter();
  }
  ~TempDir() {
    std::error_code ignored;
    if (!previous_.empty()) std::filesystem::current_path(previous_, ignored);
    if (!std::getenv("KAL_TEST_KEEP")) remove();
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  bool ready() const { return !path_.empty(); }
  const std::filesystem::path& path() const { return path_; }
  // The path of `name` in the folder.
  std::string file(std::string_view name) const { return path_.string() + "/" + std::string(name); }
  // The names of everything in the folder.
  std::set<std::string> files() const { return list_files(path_); }
  // Writes `bytes` as `name` in the folder; its path.
  std::string write_file(std::string_view name, std::string_view bytes) const {
    test::write_file(file(name), bytes);
    return file(name);
  }
  std::string read_file(std::string_view name) const { return test::read_file(file(name)); }

 private:
  // A folder that cannot be entered is given up, so that nothing is written
  // into the folder the test was started in.
  void enter() {
    std::error_code ec;
    const std::filesystem::path previous = std::filesystem::current_path(ec);
    if (!ec) std::filesystem::current_path(path_, ec);
    if (ec) {
      remove();
      return;
    }
    previous_ = previous;
  }
  void remove() {
    std::error_code ignored;
    if (!path_.empty()) std::filesystem::remove_all(path_, ignored);
    path_.clear();
  }

  std::filesystem::path path_;
  std::filesystem::path previous_;  // set while the folder is the working folder
};

// A fresh folder that is the working folder while the object lives.
struct TempCwd : TempDir {
  TempCwd() : TempDir("kal-cwd", Cwd::enter) {}
};

}  // namespace kal::test

#include "e2e/xlat_harness.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <tuple>

namespace kal::xtest {

namespace fs = std::filesystem;

namespace {

// A run that takes longer than this has hung (the RAW files here are small).
constexpr int kTimeLimitMs = 120000;

void close_fd(int& fd) {
  if (fd >= 0) {
    ::close(fd);
    fd = -1;
  }
}

}  // namespace

bool XlatRun::has_line(std::string_view line) const { return index_of(line) >= 0; }

bool XlatRun::has_line_containing(std::string_view text) const {
  return index_containing(text) >= 0;
}

int XlatRun::count_lines_containing(std::string_view text) const {
  int n = 0;
  for (const auto& l : lines)
    if (l.find(text) != std::string::npos) ++n;
  return n;
}

int XlatRun::index_of(std::string_view line, int from) const {
  for (int i = std::max(from, 0); i < static_cast<int>(lines.size()); ++i)
    if (lines[i] == line) return i;
  return -1;
}

int XlatRun::index_containing(std::string_view text, int from) const {
  for (int i = std::max(from, 0); i < static_cast<int>(lines.size()); ++i)
    if (lines[i].find(text) != std::string::npos) return i;
  return -1;
}

std::string kalxlat_path() { return std::string(KAL_BIN_DIR) + "/kalxlat"; }

XlatRun run_kalxlat(const fs::path& cwd, const std::vector<std::string>& args,
                    const std::string& input) {
  XlatRun run;
  const std::string exe = kalxlat_path();
  int in_pipe[2] = {-1, -1}, out_pipe[2] = {-1, -1}, err_pipe[2] = {-1, -1};
  if (::pipe(in_pipe) != 0 || ::pipe(out_pipe) != 0 || ::pipe(err_pipe) != 0) {
    run.err = "pipe failed";
    return run;
  }
  std::vector<std::string> argv_text = {exe};
  argv_text.insert(argv_text.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (auto& a : argv_text) argv.push_back(a.data());
  argv.push_back(nullptr);

  const pid_t pid = ::fork();
  if (pid == 0) {
    ::dup2(in_pipe[0], 0);
    ::dup2(out_pipe[1], 1);
    ::dup2(err_pipe[1], 2);
    for (int fd : {in_pipe[0], in_pipe[1], out_pipe[0], out_pipe[1], err_pipe[0], err_pipe[1]})
      ::close(fd);
    if (::chdir(cwd.c_str()) != 0) ::_exit(126);
    ::execv(exe.c_str(), argv.data());
    ::_exit(127);
  }
  close_fd(in_pipe[0]);
  close_fd(out_pipe[1]);
  close_fd(err_pipe[1]);
  if (pid < 0) {
    close_fd(in_pipe[1]);
    close_fd(out_pipe[0]);
    close_fd(err_pipe[0]);
    run.err = "fork failed";
    return run;
  }

  // The program may stop reading early; a broken pipe must not end the test.
  ::signal(SIGPIPE, SIG_IGN);
  ::fcntl(in_pipe[1], F_SETFL, O_NONBLOCK);
  std::size_t written = 0;
  if (input.empty()) close_fd(in_pipe[1]);

  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kTimeLimitMs);
  char buf[65536];
  while (out_pipe[0] >= 0 || err_pipe[0] >= 0) {
    pollfd fds[3];
    int n = 0;
    int out_i = -1, err_i = -1, in_i = -1;
    if (out_pipe[0] >= 0) { fds[n] = {out_pipe[0], POLLIN, 0}; out_i = n++; }
    if (err_pipe[0] >= 0) { fds[n] = {err_pipe[0], POLLIN, 0}; err_i = n++; }
    if (in_pipe[1] >= 0) { fds[n] = {in_pipe[1], POLLOUT, 0}; in_i = n++; }
    const auto left_ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                             deadline - std::chrono::steady_clock::now())
                             .count();
    if (left_ms <= 0) {
      run.timed_out = true;
      ::kill(pid, SIGKILL);
      break;
    }
    if (::poll(fds, n, static_cast<int>(std::min<long long>(left_ms, 1000))) < 0) {
      if (errno == EINTR) continue;
      break;
    }
    if (in_i >= 0 && (fds[in_i].revents & (POLLOUT | POLLERR | POLLHUP))) {
      const ssize_t k = ::write(in_pipe[1], input.data() + written, input.size() - written);
      if (k > 0) written += static_cast<std::size_t>(k);
      if (k < 0 && errno != EAGAIN) written = input.size();
      if (written >= input.size()) close_fd(in_pipe[1]);
    }
    for (auto [idx, fd, sink] : {std::tuple{out_i, &out_pipe[0], &run.out},
                                 std::tuple{err_i, &err_pipe[0], &run.err}}) {
      if (idx < 0 || !(fds[idx].revents & (POLLIN | POLLHUP | POLLERR))) continue;
      const ssize_t k = ::read(*fd, buf, sizeof buf);
      if (k > 0)
        sink->append(buf, static_cast<std::size_t>(k));
      else if (k == 0 || errno != EINTR)
        close_fd(*fd);
    }
  }
  close_fd(in_pipe[1]);
  close_fd(out_pipe[0]);
  close_fd(err_pipe[0]);
  int wstatus = 0;
  while (::waitpid(pid, &wstatus, 0) < 0 && errno == EINTR) {
  }
  run.status = WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : -1;
  run.lines = test::split_lines(run.out);
  return run;
}

std::string raw_text(const std::vector<std::string>& lines, std::string_view eol) {
  std::string text;
  for (const auto& l : lines) {
    text += l;
    text += eol;
  }
  return text;
}

bool file_exists(const std::string& path) {
  std::error_code ec;
  return fs::exists(path, ec);
}

std::vector<std::vector<std::string>> read_csv(const std::string& path) {
  const std::string text = read_file(path);
  std::vector<std::vector<std::string>> records;
  std::vector<std::string> fields;
  std::string field;
  bool quoted = false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (quoted) {
      if (c != '"') {
        field += c;
      } else if (i + 1 < text.size() && text[i + 1] == '"') {
        field += '"';
        ++i;
      } else {
        quoted = false;
      }
    } else if (c == '"') {
      quoted = true;
    } else if (c == ',') {
      fields.push_back(field);
      field.clear();
    } else if (c == '\n' || c == '\r') {
      if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
      fields.push_back(field);
      field.clear();
      records.push_back(fields);
      fields.clear();
    } else {
      field += c;
    }
  }
  if (!field.empty() || !fields.empty()) {
    fields.push_back(field);
    records.push_back(fields);
  }
  return records;
}

std::string right(std::string_view text, std::size_t width) {
  if (text.size() >= width) return std::string(text);
  return std::string(width - text.size(), ' ') + std::string(text);
}

std::string left(std::string_view text, std::size_t width) {
  std::string s(text);
  if (s.size() < width) s.append(width - s.size(), ' ');
  return s;
}

XlatRun run_raw(const TempDir& dir, const std::vector<std::string>& raw, const std::string& type,
                const std::string& input) {
  write_file(dir.file("in.RAW"), raw_text(raw));
  return run_kalxlat(dir.path(), {"in.RAW", type}, input);
}

void expect_lines(const TempDir& dir, const std::string& name,
                  const std::vector<std::string>& want) {
  const std::vector<std::string> got = read_lines(dir.file(name));
  EXPECT_EQ(got.size(), want.size()) << name << "\n" << numbered(got);
  for (std::size_t i = 0; i < want.size() && i < got.size(); ++i)
    EXPECT_EQ(got[i], want[i]) << name << " line " << i + 1;
}

}  // namespace kal::xtest

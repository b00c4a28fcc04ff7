// kalxlat on damaged RAW files: blanks, NUL bytes, enormous lines, foreign
// line ends, a file cut off by a failing upload, hostile survey names under
// every output type, many repeated headers and comments, and a folder the
// outputs cannot be written to. Every case ends with its result code, no
// crash, and no file outside the RAW file's folder.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <set>
#include <string>
#include <vector>

#include "e2e/xlat_harness.h"
#include "e2e/xlat_records.h"

namespace kal::xtest {
namespace {

using Files = std::set<std::string>;
using Lines = std::vector<std::string>;

const std::string kHeader = header_rec("100000", "LINE0001", "261208", "1");
std::string two_digits(int v) {
  return std::string(1, static_cast<char>('0' + v / 10)) + static_cast<char>('0' + v % 10);
}
// Station n at 10:00:(n mod 60).
std::string station(int n) {
  return t58("1000" + two_digits(n % 60), n, "CONV", {0, 0, 10 + n, 20, 30 + n, 40});
}

// The RAW folder sits two levels below a watched root, so that a file that
// escapes it shows up in a folder above.
struct Nest {
  TempDir root;
  std::string work = root.file("a/b/w");
  Nest() { EXPECT_EQ(std::system(("mkdir -p '" + work + "'").c_str()), 0); }
  void expect_nothing_outside() const {
    EXPECT_EQ(list_files(root.path()), Files{"a"});
    EXPECT_EQ(list_files(root.file("a")), Files{"b"});
    EXPECT_EQ(list_files(root.file("a/b")), Files{"w"});
  }
};

XlatRun run_bytes(const Nest& nest, const std::string& bytes, const std::string& type = "X") {
  write_file(nest.work + "/in.RAW", bytes);
  return run_kalxlat(nest.work, {"in.RAW", type});
}

// Files without a single record: the run reads to the end of the file,
// skips what it does not recognise, and keeps only the (empty) main output.
TEST(BadRawInput, FilesWithoutRecords) {
  struct Case {
    const char* what;
    std::string bytes;
  };
  const Case cases[] = {
      {"blank lines", "     \n\n                    \n \n"},
      {"blanks without a line end", std::string(5000, ' ')},
      {"only NUL bytes", std::string(3000, '\0')},
      {"NUL lines", std::string(80, '\0') + "\n" + std::string(200, '\0') + "\n"},
      {"binary bytes", [] {
         std::string b;
         for (int i = 0; i < 4096; ++i) b.push_back(static_cast<char>((i * 37 + 11) % 256));
         return b;
       }()},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Nest nest;
    const XlatRun run = run_bytes(nest, c.bytes);
    ASSERT_FALSE(run.timed_out);
    EXPECT_EQ(run.status, 0) << numbered(run.lines);
    EXPECT_TRUE(run.has_line("End of file reached.  Exiting...")) << numbered(run.lines);
    // In the binary pattern each byte is 37 more than the one before, so "$"
    // (0x24) always follows 0xF3: no known tag, no file header.
    EXPECT_EQ(list_files(nest.work), (Files{"in.RAW", "Default.xyz"}));
    EXPECT_EQ(read_file(nest.work + "/Default.xyz"), "");
    EXPECT_EQ(read_file(nest.work + "/in.RAW"), c.bytes);
    nest.expect_nothing_outside();
  }
}

// NUL bytes inside records: a NUL in a numeric field makes the read fail
// (skipped with the read-error lines), a NUL in a comment's text is text;
// the good stations around them are written.
TEST(BadRawInput, NulBytesInsideRecords) {
  std::string nul_station = station(2);
  nul_station[12] = '\0';  // inside the station number (columns 11-16 once normalised)
  std::string nul_comment = c_rec("100001", "AB");
  nul_comment += '\0';
  nul_comment += "CD";
  Nest nest;
  const XlatRun run = run_bytes(
      nest, raw_text({kHeader, station(1), nul_station, nul_comment, std::string(50, '\0'), station(3)}));
  ASSERT_FALSE(run.timed_out);
  EXPECT_EQ(run.status, 0) << numbered(run.lines);
  EXPECT_EQ(run.count_lines_containing("*** Read error in input buffer at " + num(3, 12)), 1)
      << numbered(run.lines);
  EXPECT_EQ(run.count_lines_containing("*** Skipping this packet or station"), 1);
  const Lines xyz = read_lines(nest.work + "/LINE0001.xyz");
  ASSERT_EQ(xyz.size(), 2u);
  EXPECT_EQ(xyz[0].substr(0, 6), "     1");
  EXPECT_EQ(xyz[1].substr(0, 6), "     3");
  nest.expect_nothing_outside();
}

// Lines of 100,000 characters: only the first 120 count, the rest of the
// line is not read as further records.
TEST(BadRawInput, HundredThousandCharacterLines) {
  const std::string tail_station = station(9);  // would be a station if the tail were a line
  const Lines raw = {
      kHeader,
      std::string(100000, 'x'),
      left(station(1), 100000),                                   // a station and 99,943 blanks
      left(station(2), 120) + std::string(99000, 'y') + tail_station,  // a station hidden far out
      std::string(50000, ' ') + "H$101502 OTHER    261208 1",     // a file header beyond column 120
      station(3),
  };
  Nest nest;
  const XlatRun run = run_bytes(nest, raw_text(raw));
  ASSERT_FALSE(run.timed_out);
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(list_files(nest.work), (Files{"in.RAW", "LINE0001.xyz"}));
  const Lines xyz = read_lines(nest.work + "/LINE0001.xyz");
  ASSERT_EQ(xyz.size(), 3u);
  EXPECT_EQ(xyz[0].substr(0, 6), "     1");
  EXPECT_EQ(xyz[1].substr(0, 6), "     2");
  EXPECT_EQ(xyz[2].substr(0, 6), "     3");
  nest.expect_nothing_outside();
}

// LF, CR LF, a lone CR (old Macintosh files, a line end cut in two) and a
// mix of them give the same files with the same contents: a carriage return
// never belongs to a RAW record.
TEST(BadRawInput, LineEndsOfEveryKind) {
  const Lines raw = {kHeader, c_rec("100001", "FIRST COMMENT"), station(1),
                     g_rec("GPGGA,100002,4500.0000,N,07500.0000,W,1,08,0.9,100.0,M,0.0,M,,"),
                     station(2), station(3)};
  Nest reference;
  const XlatRun ref = run_bytes(reference, raw_text(raw, "\n"));
  ASSERT_EQ(ref.status, 0);
  ASSERT_EQ(read_lines(reference.work + "/LINE0001.xyz").size(), 3u);
  const Files ref_files = list_files(reference.work);
  struct Case {
    const char* what;
    std::string bytes;
  };
  std::string mixed;
  const char* ends[] = {"\r\n", "\r", "\n", "\r", "\r\n", ""};  // the last line without an end
  for (std::size_t i = 0; i < raw.size(); ++i) mixed += raw[i] + ends[i];
  const Case cases[] = {
      {"CR LF", raw_text(raw, "\r\n")},
      {"CR", raw_text(raw, "\r")},
      {"mixed", mixed},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Nest nest;
    const XlatRun run = run_bytes(nest, c.bytes);
    ASSERT_FALSE(run.timed_out);
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(list_files(nest.work), ref_files);
    for (const std::string& f : ref_files) {
      if (f == "in.RAW") continue;
      EXPECT_EQ(read_file(nest.work + "/" + f), read_file(reference.work + "/" + f)) << f;
    }
    EXPECT_FALSE(run.has_line_containing("packet error")) << numbered(run.lines);
    nest.expect_nothing_outside();
  }
}

// A RAW file left by an upload that failed: no "Z$", the last line cut off
// without its line end. The run ends at the end of the file with result 0;
// a cut T$ record is reported and the station written from the values held
// (so it repeats the station before), a cut GGA sentence goes to the GPS
// file as it stands but gives no position.
TEST(BadRawInput, FileCutOffByAFailedUpload) {
  const std::string gga = g_rec("GPGGA,100002,4500.0000,N,07500.0000,W,1,08,0.9,100.0,M,0.0,M,,");
  const Lines whole = {kHeader, station(1), gga, station(2), station(3)};
  {
    SCOPED_TRACE("cut T$");
    const std::string cut = station(4).substr(0, 20);  // "T$100004      4 CONV"
    Nest nest;
    const XlatRun run = run_bytes(nest, raw_text(whole) + cut);
    ASSERT_FALSE(run.timed_out);
    EXPECT_EQ(run.status, 0);
    EXPECT_TRUE(run.has_line("End of file reached.  Exiting..."));
    EXPECT_EQ(run.count_lines_containing("T$ packet error:"), 1) << numbered(run.lines);
    const Lines xyz = read_lines(nest.work + "/LINE0001.xyz");
    ASSERT_EQ(xyz.size(), 4u);
    EXPECT_EQ(xyz[3], xyz[2]);
    nest.expect_nothing_outside();
  }
  {
    SCOPED_TRACE("cut G$");
    const std::string cut = gga.substr(0, 30);
    Nest nest;
    const XlatRun run = run_bytes(nest, raw_text(whole) + cut);
    ASSERT_FALSE(run.timed_out);
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(read_lines(nest.work + "/LINE0001.xyz").size(), 3u);
    // "$GPG" and the text from "GPGGA" on: the sentence with its "$".
    EXPECT_EQ(read_lines(nest.work + "/LINE0001.GPS"),
              (Lines{"$" + gga.substr(2), "$" + cut.substr(2)}));
    nest.expect_nothing_outside();
  }
}

// Hostile survey names under every output type: the main output, the XYX,
// GPS and comment files, type I's data file and type P's SDF file all stay
// inside the RAW folder, and no name holds a path part or a control byte.
TEST(BadRawInput, HostileSurveyNamesUnderEveryType) {
  const std::string names[] = {"../../..", "..\\..\\x", "/tmp/x", "a/../..", std::string("\x1b[2J\x7f"),
                               std::string("A\tB\rC\0D", 7), "...", " ../x"};
  int runs = 0;
  for (const std::string& name : names) {
    for (const char* type : {"X", "G", "D", "L", "S", "P", "I", "R"}) {
      SCOPED_TRACE(std::string(type) + " name " + name);
      Nest nest;
      const Lines raw = {header_rec("100000", name, "261208", "1"), c_rec("100001", "A COMMENT"),
                         g_rec("GPGGA,100002,4500.0000,N,07500.0000,W,1,08,0.9,100.0,M,0.0,M,,"),
                         station(1), "I$100005   25 -15  35 12345  3 12345   250  7500",
                         a_rec({1, 2, 3}, {4, 5, 6}, 7), r_rec({1, 2, 3, 4, 5, 6, 7}),
                         header_rec("100010", name, "261208", "1"), station(2)};
      const XlatRun run = run_bytes(nest, raw_text(raw), type);
      ++runs;
      ASSERT_FALSE(run.timed_out);
      EXPECT_EQ(run.status, 0) << numbered(run.lines);
      nest.expect_nothing_outside();
      for (const std::string& f : list_files(nest.work)) {
        EXPECT_EQ(f.find(".."), std::string::npos) << f;
        for (const char ch : f) {
          const auto u = static_cast<unsigned char>(ch);
          EXPECT_FALSE(ch == '\\' || ch == ':' || u < 32 || u == 127) << f;
        }
      }
      // The folder holds plain files only: no folder was made for a name.
      for (const std::string& f : list_files(nest.work)) {
        struct stat st {};
        ASSERT_EQ(::lstat((nest.work + "/" + f).c_str(), &st), 0) << f;
        EXPECT_TRUE(S_ISREG(st.st_mode)) << f;
      }
    }
  }
  EXPECT_EQ(runs, 64);
}

// Two hundred file headers with one survey name under the types that name
// extra files after the survey (I: a DAT file per output, P: the SDF):
// two hundred main outputs, none overwritten, all inside the folder.
TEST(BadRawInput, TwoHundredHeadersWithOneNameForTypesIAndP) {
  Lines raw;
  for (int i = 1; i <= 200; ++i) {
    raw.push_back(header_rec("100000", "SAME", "261208", "1"));
    raw.push_back(station(i));
    raw.push_back("I$100005   25 -15  35 12345  3 12345   250  7500");
  }
  struct Case {
    const char* type;
    const char* main_ext;
  };
  for (const Case& c : {Case{"I", ".ice"}, Case{"P", ".idf"}, Case{"D", ".g31"}}) {
    SCOPED_TRACE(c.type);
    Nest nest;
    const XlatRun run = run_bytes(nest, raw_text(raw), c.type);
    ASSERT_FALSE(run.timed_out);
    EXPECT_EQ(run.status, 0);
    int mains = 0, dats = 0;
    for (const std::string& f : list_files(nest.work)) {
      EXPECT_EQ(f.find(' '), std::string::npos) << f;
      const std::string ext = f.size() > 4 ? f.substr(f.size() - 4) : "";
      if (ext == c.main_ext) ++mains;
      if (ext == ".DAT") ++dats;
    }
    EXPECT_EQ(mains, 200);
    if (std::string(c.type) == "I") {
      EXPECT_EQ(dats, 200);
    }
    nest.expect_nothing_outside();
  }
}

// 150 distinct comments in one survey file, then a repeat of an early one,
// then a second survey file: slots 1-99 are numbered in order, every later
// comment takes slot 100 (and is written with 100), a repeat keeps its
// number and is not written again, and the next file starts at 1.
TEST(BadRawInput, HundredFiftyDistinctComments) {
  Lines raw = {kHeader};
  for (int i = 1; i <= 150; ++i) raw.push_back(c_rec("100001", "COMMENT " + num(i, 3)));
  raw.push_back(c_rec("100002", "comment   5"));  // upper-cased: equals slot 5
  raw.push_back(station(1));
  raw.push_back(header_rec("100010", "LINE0002", "261208", "1"));
  raw.push_back(c_rec("100011", "COMMENT 150"));
  raw.push_back(station(2));
  for (const char* type : {"X", "G"}) {
    SCOPED_TRACE(type);
    Nest nest;
    const XlatRun run = run_bytes(nest, raw_text(raw), type);
    EXPECT_EQ(run.status, 0);
    const Lines cmt = read_lines(nest.work + "/LINE0001.CMT");
    ASSERT_EQ(cmt.size(), 150u);
    EXPECT_EQ(cmt[98], "   99 COMMENT  99     ");
    EXPECT_EQ(cmt[99], "  100 COMMENT 100     ");
    EXPECT_EQ(cmt[149], "  100 COMMENT 150     ");
    const Lines xyz = read_lines(nest.work + "/LINE0001.xyz");
    ASSERT_FALSE(xyz.empty());
    // CommentNumber I4 at columns 79-82 of the X line; the G line differs.
    if (std::string(type) == "X") {
      EXPECT_EQ(xyz.back().substr(78, 4), "   5");
    }
    EXPECT_EQ(read_lines(nest.work + "/LINE0002.CMT"), Lines{"    1 COMMENT 150     "});
    nest.expect_nothing_outside();
  }
}

// The outputs cannot be written: the RAW file lies in a folder without
// write permission. Tests run as root, whom permissions do not stop, so
// kalxlat runs here as the unprivileged user "nobody" (a field laptop's
// operator is no administrator either). Result 4 with the open-error
// line, the RAW file untouched, nothing created anywhere.
TEST(BadRawInput, FolderThatCannotBeWrittenIsResultFour) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to switch to the user nobody";
  constexpr uid_t kNobody = 65534;
  Nest nest;
  const std::string content = raw_text({kHeader, station(1), station(2)});
  write_file(nest.work + "/in.RAW", content);
  // Readable by all, writable by none but root.
  for (const std::string& p : {nest.root.path().string(), nest.root.file("a"), nest.root.file("a/b")})
    ASSERT_EQ(::chmod(p.c_str(), 0755), 0);
  ASSERT_EQ(::chmod(nest.work.c_str(), 0555), 0);
  ASSERT_EQ(::chmod((nest.work + "/in.RAW").c_str(), 0444), 0);

  int out[2];
  ASSERT_EQ(::pipe(out), 0);
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::dup2(out[1], STDOUT_FILENO);
    ::dup2(out[1], STDERR_FILENO);
    ::close(out[0]);
    ::close(out[1]);
    if (::chdir(nest.work.c_str()) != 0 || ::setgid(kNobody) != 0 || ::setuid(kNobody) != 0) ::_exit(125);
    const std::string exe = kalxlat_path();
    ::execl(exe.c_str(), exe.c_str(), "in.RAW", "X", static_cast<char*>(nullptr));
    ::_exit(127);
  }
  ::close(out[1]);
  std::string text;
  char buffer[4096];
  for (ssize_t n; (n = ::read(out[0], buffer, sizeof buffer)) > 0;) text.append(buffer, static_cast<std::size_t>(n));
  ::close(out[0]);
  int raw_status = 0;
  ::waitpid(pid, &raw_status, 0);
  ASSERT_TRUE(WIFEXITED(raw_status)) << text;
  EXPECT_EQ(WEXITSTATUS(raw_status), 4) << text;
  EXPECT_NE(text.find(" *** Open error for outfile="), std::string::npos) << text;
  EXPECT_NE(text.find("   Error code was            4"), std::string::npos) << text;
  EXPECT_EQ(list_files(nest.work), Files{"in.RAW"});
  EXPECT_EQ(read_file(nest.work + "/in.RAW"), content);
  nest.expect_nothing_outside();
  ::chmod(nest.work.c_str(), 0755);  // so that the folder can be removed
}

}  // namespace
}  // namespace kal::xtest

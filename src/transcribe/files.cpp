// Output files, the RAW input reader and the shared helpers of the run state.
#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <ios>
#include <limits>
#include <streambuf>
#include <system_error>

#include "common/fixed_text.h"
#include "common/format.h"
#include "link/console.h"
#include "transcribe/transcribe_state.h"

namespace kal::xlat {
namespace {

constexpr std::size_t kFileBuffer = 1 << 16;

// True when `path` names the same existing file as `other`.
bool same_file(const std::string& path, const std::string& other) {
  std::error_code ec;
  if (!std::filesystem::exists(path, ec) || ec) return false;
  const bool same = std::filesystem::equivalent(path, other, ec);
  return !ec && same;
}

}  // namespace

// ---- persistent state ------------------------------------------------------------

Persistent& persistent() {
  static Persistent state;
  return state;
}

void reset_persistent_state() { persistent() = Persistent{}; }

// ---- OutputFile ---------------------------------------------------------------------

OutputFile::~OutputFile() {
  if (is_open()) close(Disposition::keep);
}

bool OutputFile::open(const std::string& path, bool binary) {
  if (is_open()) close(Disposition::keep);
  file_ = std::fopen(path.c_str(), binary ? "wb" : "w");
  if (file_ == nullptr) return false;
  if (!buffer_) buffer_ = std::make_unique<char[]>(kFileBuffer);
  std::setvbuf(file_, buffer_.get(), _IOFBF, kFileBuffer);
  path_ = path;
  lines_ = 0;
  bytes_ = 0;
  failed_ = false;
  return true;
}

void OutputFile::open_discarding(const std::string& path) {
  if (is_open()) close(Disposition::keep);
  discarding_ = true;
  path_ = path;
  lines_ = 0;
  bytes_ = 0;
  failed_ = false;
}

void OutputFile::write_line(std::string_view line) {
  if (file_ == nullptr) {
    if (!discarding_) return;
  } else if (std::fwrite(line.data(), 1, line.size(), file_) != line.size() ||
             std::fputc('\n', file_) == EOF) {
    failed_ = true;
  }
  ++lines_;
  bytes_ += static_cast<std::int64_t>(line.size()) + 1;
}

void OutputFile::write_bytes(const void* data, std::size_t size) {
  if (file_ == nullptr) {
    if (!discarding_) return;
  } else if (std::fwrite(data, 1, size, file_) != size) {
    failed_ = true;
  }
  bytes_ += static_cast<std::int64_t>(size);
}

bool OutputFile::close(Disposition disposition) {
  if (discarding_) {
    discarding_ = false;
    return true;
  }
  if (file_ == nullptr) return true;
  bool ok = !failed_ && std::ferror(file_) == 0;
  if (std::fclose(file_) != 0) ok = false;
  file_ = nullptr;
  if (disposition == Disposition::remove) {
    std::remove(path_.c_str());
    return true;  // nothing was to be kept
  }
  return ok;
}

// ---- RawInput -------------------------------------------------------------------------

RawInput::RawInput() = default;
RawInput::~RawInput() = default;

bool RawInput::open(const std::string& path) {
  auto in = std::make_unique<std::ifstream>();
  if (!buffer_) buffer_ = std::make_unique<char[]>(kFileBuffer);
  in->rdbuf()->pubsetbuf(buffer_.get(), kFileBuffer);
  in->open(path, std::ios::in | std::ios::binary);
  if (!in->is_open()) return false;
  in_ = std::move(in);
  return true;
}

RawInput::Read RawInput::next(std::string& line) {
  if (!in_) return Read::end;
  // A line ends at LF, at CR LF, or at a CR alone (files passed through old
  // Macintosh tools): the upload never stores a CR, so a CR in a RAW file is
  // always a line end. Only the first 120 characters count; the rest of the
  // line is skipped without being stored, so a file without line ends is
  // never held in memory whole.
  using Traits = std::char_traits<char>;
  std::streambuf& in = *in_->rdbuf();
  line.clear();
  errno = 0;
  try {  // the file buffer reports a failed read by throwing
    Traits::int_type c = in.sbumpc();
    if (Traits::eq_int_type(c, Traits::eof())) return Read::end;
    for (; !Traits::eq_int_type(c, Traits::eof()); c = in.sbumpc()) {
      if (c == '\n') break;
      if (c == '\r') {
        if (Traits::eq_int_type(in.sgetc(), '\n')) in.sbumpc();
        break;
      }
      if (line.size() < kLineLength) line.push_back(Traits::to_char_type(c));
    }
  } catch (const std::ios_base::failure&) {
    error_number_ = errno != 0 ? errno : EIO;
    return Read::error;
  }
  line.resize(kLineLength, ' ');
  return Read::line;
}

bool RawInput::rewind() {
  if (!in_) return false;
  in_->clear();
  in_->seekg(0);
  return !in_->fail();
}

void RawInput::close() { in_.reset(); }

void normalise_tag(std::string& line) {
  if (line.find('$') == 1) {
    line.insert(line.begin(), ' ');
    line.resize(kLineLength);
  }
}

// ---- shared helpers ---------------------------------------------------------------------

std::string_view extension_of(OutputType type) {
  switch (type) {
    case OutputType::X:
    case OutputType::G:
      return "xyz";
    case OutputType::D:
      return "g31";
    case OutputType::L:
      return "log";
    case OutputType::S:
      return "san";
    case OutputType::P:
      return "idf";
    case OutputType::I:
      return "ice";
    case OutputType::R:
      break;
  }
  return "";
}

void report_read_error(const Run& run) {
  put_line(fmt::FreeLine()
               .text("*** Read error in input buffer at ")
               .i32(run.line_no)
               .text(run.line)
               .str());
  put_line("*** Skipping this packet or station");
}

Stop report_raw_read_error(const Run& run, std::int32_t line_no) {
  put_line(fmt::FreeLine().text("*** Read error in input file at line ").i32(line_no).str());
  put_line(fmt::FreeLine().text("IOSTAT=").i32(run.raw.error_number()).str());
  return 1;
}

void report_open_error(const Run& run) {
  // The name shown is the current main output name, none before the first
  // file header of the process.
  const std::string shown = run.keep.out_name_len == 0 ? std::string() : run.out_name;
  put_line(fmt::FreeLine().text("*** Open error for outfile=").text(shown).str());
}

bool open_output(Run& run, OutputFile& file, const std::string& name, bool binary) {
  const std::string path = run.dir_prefix + name;
  // The RAW file being read is never overwritten (a RAW file named
  // Default.RAW would otherwise be replaced by the reference copy).
  if (same_file(path, run.raw_name)) {
    put_line("*** Output file " + name + " would overwrite the RAW input file");
    report_open_error(run);
    return false;
  }
  if (run.discard_outputs) {
    file.open_discarding(path);
    return true;
  }
  if (!file.open(path, binary)) {
    report_open_error(run);
    return false;
  }
  return true;
}

void close_output(Run& run, OutputFile& file, Disposition disposition) {
  const std::string path = file.path();
  if (!file.close(disposition)) {
    put_line("*** Write error on output file=" + path);
    run.write_failed = true;
  }
}

namespace {

template <class T, class Reader>
bool read_reply_with(T& value, Reader reader) {
  std::string reply;
  while (console().read_line(reply)) {
    persistent().replies.push_back(reply);
    switch (reader(reply, value)) {
      case fmt::FreeRead::value:
      case fmt::FreeRead::keep:
        return true;
      case fmt::FreeRead::empty:
        continue;
      case fmt::FreeRead::bad:
        return false;
    }
  }
  return true;  // end of input: the value stays
}

}  // namespace

bool read_reply(std::int32_t& value) {
  return read_reply_with(value, [](std::string_view text, std::int32_t& v) {
    return fmt::read_free_int(text, v);
  });
}

bool read_reply(float& value) {
  return read_reply_with(value, [](std::string_view text, float& v) {
    return fmt::read_free_real(text, v);
  });
}

}  // namespace kal::xlat

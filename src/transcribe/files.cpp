// Output files, the RAW input reader and the shared helpers of the run state.
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "common/file_error.h"
#include "common/fixed_text.h"
#include "common/format.h"
#include "console/console.h"
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

// ---- OutputFile ---------------------------------------------------------------------

OutputFile::~OutputFile() {
  if (is_open()) close(Disposition::keep);
}

bool OutputFile::open(const std::string& path, bool binary) {
  if (is_open()) close(Disposition::keep);
  file_ = std::fopen(path.c_str(), binary ? "wb" : "w");
  error_ = file_ == nullptr ? errno : 0;
  if (file_ == nullptr) return false;
  // Lines gather in our own buffer and go out in large writes: no stdio
  // call (and lock) per line, and the file's own buffer is not needed.
  std::setvbuf(file_, nullptr, _IONBF, 0);
  if (!buffer_) buffer_ = std::make_unique<char[]>(kFileBuffer);
  used_ = 0;
  path_ = path;
  lines_ = 0;
  bytes_ = 0;
  failed_ = false;
  return true;
}

void OutputFile::fail() {
  if (!failed_) error_ = errno != 0 ? errno : EIO;  // the first loss is the reason
  failed_ = true;
}

void OutputFile::flush() {
  if (used_ > 0 && std::fwrite(buffer_.get(), 1, used_, file_) != used_) fail();
  used_ = 0;
}

void OutputFile::put(std::string_view bytes) {
  if (used_ + bytes.size() > kFileBuffer) flush();
  if (bytes.size() > kFileBuffer) {
    if (std::fwrite(bytes.data(), 1, bytes.size(), file_) != bytes.size()) fail();
    return;
  }
  bytes.copy(buffer_.get() + used_, bytes.size());
  used_ += bytes.size();
}

void OutputFile::write_line(std::string_view line) {
  if (file_ == nullptr) return;
  put(line);
  put("\n");
  ++lines_;
  bytes_ += static_cast<std::int64_t>(line.size()) + 1;
}

void OutputFile::write_bytes(const void* data, std::size_t size) {
  if (file_ == nullptr) return;
  put(std::string_view(static_cast<const char*>(data), size));
  bytes_ += static_cast<std::int64_t>(size);
}

bool OutputFile::close(Disposition disposition) {
  if (file_ == nullptr) return true;
  flush();
  bool ok = !failed_ && std::ferror(file_) == 0;
  if (std::fclose(file_) != 0) {
    if (ok) error_ = errno;
    ok = false;
  }
  file_ = nullptr;
  if (disposition == Disposition::remove) {
    std::remove(path_.c_str());
    return true;  // nothing was to be kept
  }
  return ok;
}

// ---- RawInput -------------------------------------------------------------------------

RawInput::RawInput(std::size_t buffer_size)
    : buffer_(std::make_unique<char[]>(std::max<std::size_t>(buffer_size, 2 * kLineLength))),
      capacity_(std::max<std::size_t>(buffer_size, 2 * kLineLength)) {}

RawInput::~RawInput() = default;

bool RawInput::open(const std::string& path) {
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) {
    error_number_ = errno != 0 ? errno : EIO;
    return false;
  }
  std::setvbuf(file, nullptr, _IONBF, 0);  // reads go straight into the line buffer
  file_.reset(file);
  pos_ = end_ = 0;
  next_lf_ = next_cr_ = std::string_view::npos;
  lf_may_follow_ = false;
  return true;
}

// A line ends at LF, at CR LF, or at a CR alone (files passed through old
// Macintosh tools): the upload never stores a CR, so a CR in a RAW file is
// always a line end.
std::size_t RawInput::line_end() {
  const auto find = [this](char c) {
    const void* at = std::memchr(buffer_.get() + pos_, c, end_ - pos_);
    return at == nullptr ? end_ : static_cast<std::size_t>(static_cast<const char*>(at) - buffer_.get());
  };
  if (next_lf_ == std::string_view::npos || next_lf_ < pos_) next_lf_ = find('\n');
  if (next_cr_ == std::string_view::npos || next_cr_ < pos_) next_cr_ = find('\r');
  return std::min(next_lf_, next_cr_);
}

// Moves the unread bytes to the front and reads more of the file behind
// them. False at the end of the file or on a read error (error_number_ set).
bool RawInput::refill() {
  const std::size_t unread = end_ - pos_;
  std::memmove(buffer_.get(), buffer_.get() + pos_, unread);
  pos_ = 0;
  end_ = unread;
  next_lf_ = next_cr_ = std::string_view::npos;
  errno = 0;
  const std::size_t got = std::fread(buffer_.get() + end_, 1, capacity_ - end_, file_.get());
  end_ += got;
  if (got == 0 && std::ferror(file_.get()) != 0) error_number_ = errno != 0 ? errno : EIO;
  return got > 0;
}

RawInput::Read RawInput::next(std::string_view& line) {
  if (!file_) return Read::end;
  error_number_ = 0;
  if (lf_may_follow_) {  // a CR LF is one line end, also when a read splits it
    lf_may_follow_ = false;
    if (pos_ == end_ && !refill() && error_number_ != 0) return Read::error;
    if (pos_ < end_ && buffer_[pos_] == '\n') ++pos_;
  }
  for (;;) {
    const std::size_t at = line_end();
    if (at < end_) {
      line = std::string_view(buffer_.get() + pos_, std::min<std::size_t>(at - pos_, kLineLength));
      lf_may_follow_ = buffer_[at] == '\r';
      pos_ = at + 1;
      return Read::line;
    }
    // No line end in the buffer: only the first 120 characters of the line
    // count, so the rest of it is dropped before reading on.
    end_ = pos_ + std::min<std::size_t>(end_ - pos_, kLineLength);
    if (!refill()) {
      if (error_number_ != 0) return Read::error;
      if (pos_ == end_) return Read::end;
      line = std::string_view(buffer_.get() + pos_, end_ - pos_);  // the last line, without an end
      pos_ = end_;
      return Read::line;
    }
  }
}

RawInput::Read RawInput::next(std::string& line) {
  std::string_view view;
  const Read read = next(view);
  if (read == Read::line) {
    line.assign(view);
    line.resize(kLineLength, ' ');
  }
  return read;
}

bool RawInput::rewind() {
  if (!file_) return false;
  pos_ = end_ = 0;
  next_lf_ = next_cr_ = std::string_view::npos;
  lf_may_follow_ = false;
  return std::fseek(file_.get(), 0, SEEK_SET) == 0;
}

void RawInput::close() { file_.reset(); }

void normalise_tag(std::string& line) {
  if (line.find('$') == 1) {
    line.insert(line.begin(), ' ');
    line.resize(kLineLength);
  }
}

void load_record(std::string& line, std::string_view raw) {
  // The first "$" in column 2: a one-letter tag from column 1, moved right.
  const std::size_t shift = raw.size() > 1 && raw[1] == '$' && raw[0] != '$' ? 1 : 0;
  line.assign(kLineLength, ' ');
  raw.copy(line.data() + shift, std::min(raw.size(), kLineLength - shift));
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

void report_open_error(const Run& run, const std::string& path) {
  // The name shown is the current main output name; before the first file
  // header of the process, when there is none, the file that was tried.
  const std::string shown = run.keep.out_name_len == 0 ? path : run.out_name;
  put_line(fmt::FreeLine().text("*** Open error for outfile=").text(shown).str());
}

bool open_output(Run& run, OutputFile& file, const std::string& name, bool binary) {
  const std::string path = run.dir_prefix + name;
  // The RAW file being read is never overwritten (a RAW file named
  // Default.RAW would otherwise be replaced by the reference copy).
  if (same_file(path, run.raw_name)) {
    put_line("*** Output file " + name + " would overwrite the RAW input file");
    report_open_error(run, path);
    return false;
  }
  if (!file.open(path, binary)) {
    report_open_error(run, path);
    put_line(file_error_line("create", path, file.error_number()));
    return false;
  }
  return true;
}

void close_output(Run& run, OutputFile& file, Disposition disposition) {
  const std::string path = file.path();
  if (!file.close(disposition)) {
    put_line("*** Write error on output file=" + path);
    put_line(file_error_line("write", path, file.error_number()));
    run.write_failed = true;
  }
}

namespace {

template <class T, class Reader>
bool read_reply_with(T& value, Reader reader) {
  std::string reply;
  while (console().read_line(reply)) {
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

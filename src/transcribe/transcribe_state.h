// The state of one transcription run: configuration from the RAW header,
// the current station, the GPS state, the output files and the few values
// that persist from one call of KALXLATSUB to the next in the same process.
#pragma once

#include <array>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "transcribe/persistent.h"
#include "transcribe/station.h"

namespace kal::xlat {

// ---- constants ---------------------------------------------------------------

inline constexpr int kLineLength = 120;      // one RAW line, blank-padded
inline constexpr int kCommentSlots = 100;
inline constexpr int kMaxFixes = 50000;
inline constexpr int kGpsTextLength = 250;
inline constexpr std::int32_t kNoLineYet = -9999999;  // Dat31: no line header written
inline constexpr std::int32_t kEllipsoidGrs80 = 9;
// pi as the 32-bit float nearest to it, widened; the coil factors use it.
inline constexpr double kPi = static_cast<double>(3.14159265358979323846f);

// A run ends with this result code (messages already written); nullopt: go on.
using Stop = std::optional<std::int32_t>;

enum class OutputType { X, G, D, L, S, P, I, R };

// ---- configuration from the RAW header -------------------------------------------

struct Config {
  std::int32_t LengthCode = 0;
  std::int32_t GeometryCount = 1;
  std::array<float, kMaxGeometries> HcpSpacing{};
  std::array<float, kMaxGeometries> PrpSpacing{};
  std::array<float, kMaxGeometries> HcpFactor{};
  std::array<float, kMaxGeometries> PrpFactor{};
  std::string InstrumentId = std::string(40, ' ');
  bool SiblingInstrument = false;
  std::string SerialNumber = std::string(8, ' ');
  float SoftwareVersion = 0.0f;
  char SoftwareVersionSuffix = ' ';
  std::int32_t SampleRate = 0;
  std::string ColumnHeading = std::string(kLineLength, ' ');
  std::int32_t Date1 = 0, Date2 = 0, Date3 = 0;
  std::string CommentText = std::string(16, ' ');
  std::array<std::string, kCommentSlots> CommentTable;
  bool has_comments = false;  // at least one slot of the table is filled
  float ProtoScaleA = 0.0f;
  float ProtoScaleB = 0.0f;

  Config() { clear_comments(); }
  void clear_comments() {
    CommentTable.fill(std::string(16, '_'));
    has_comments = false;
  }
};

struct RefState {
  std::array<std::int32_t, 7> first{}, second{};
  std::array<std::int32_t, 4> stamp{-1, -1, -1, -1};  // no first half yet
  std::int32_t pair_count = 0;
  bool pair_complete = false;
  bool pair_mode = false;
};

// Buffers the writers reuse from one line to the next (no allocation per
// line), and the text of the GPS fields last written with the values it
// shows: those fields change only with a G$ record, and several stations lie
// between two.
struct LineBuffers {
  std::string line;
  std::string sentence;
  struct GpsFields {
    std::int32_t time = 0, fix = 0;
    double latitude = 0.0, longitude = 0.0;
    float altitude = 0.0f;
    std::string text;
  } gps_fields;
};

// ---- files -------------------------------------------------------------------------

enum class Disposition { keep, remove };

// One output file: created or overwritten when opened, closed with an
// explicit keep-or-delete decision; closed and kept when destroyed.
class OutputFile {
 public:
  OutputFile() = default;
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;
  ~OutputFile();

  bool open(const std::string& path, bool binary = false);
  bool is_open() const { return file_ != nullptr; }
  const std::string& path() const { return path_; }
  // The errno of the failed open, or of the first lost write or close.
  int error_number() const { return error_; }
  std::int64_t lines() const { return lines_; }
  std::int64_t bytes() const { return bytes_; }

  void write_line(std::string_view line);
  void write_bytes(const void* data, std::size_t size);
  // False when the file lost data (a write or the close failed).
  bool close(Disposition disposition);

 private:
  void put(std::string_view bytes);
  void fail();
  void flush();

  std::FILE* file_ = nullptr;
  std::string path_;
  std::unique_ptr<char[]> buffer_;  // written out when full and at the close
  std::size_t used_ = 0;
  std::int64_t lines_ = 0;
  std::int64_t bytes_ = 0;
  bool failed_ = false;
  int error_ = 0;
};

// The RAW file, read line by line through one buffer of fixed size: each
// line without its line end (LF, CR LF or a CR alone), cut to 120
// characters. Memory stays that of the buffer whatever the file holds, lines
// without an end included.
class RawInput {
 public:
  enum class Read { line, end, error };
  static constexpr std::size_t kDefaultBuffer = std::size_t{1} << 16;
  // `buffer_size` is raised to what one cut line needs.
  explicit RawInput(std::size_t buffer_size = kDefaultBuffer);
  ~RawInput();
  RawInput(const RawInput&) = delete;
  RawInput& operator=(const RawInput&) = delete;

  bool open(const std::string& path);
  bool is_open() const { return file_ != nullptr; }
  // The next line as a view into the buffer (at most 120 characters), valid
  // until the next call.
  Read next(std::string_view& line);
  // The next line copied, blank-padded to 120 characters.
  Read next(std::string& line);
  bool rewind();
  void close();
  int error_number() const { return error_number_; }

 private:
  std::size_t line_end();
  bool refill();

  struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
  };
  std::unique_ptr<std::FILE, FileCloser> file_;
  std::unique_ptr<char[]> buffer_;
  std::size_t capacity_;
  std::size_t pos_ = 0;  // the unread bytes are [pos_, end_)
  std::size_t end_ = 0;
  // Where the next LF and the next CR at or after pos_ stand (end_: none in
  // the buffer; npos: not searched yet), so that each byte is searched once.
  std::size_t next_lf_ = std::string_view::npos;
  std::size_t next_cr_ = std::string_view::npos;
  bool lf_may_follow_ = false;  // the last line ended with a CR
  int error_number_ = 0;
};

// A one-letter tag written from column 1 ("T$...") moves one column to the
// right, so that every tag ends in column 3.
void normalise_tag(std::string& line);
// `line` becomes the RAW line `raw` as the record handlers read it: blank-
// padded to 120 characters, its tag normalised.
void load_record(std::string& line, std::string_view raw);

// ---- one run -------------------------------------------------------------------------

struct Run;

// A consumer of the run's stream besides the type's own writer (the
// exports): it sees every survey file, comment and station as the one
// reading of the RAW file decodes them, whatever the output type writes.
class RunObserver {
 public:
  virtual ~RunObserver() = default;
  // The GPS pre-pass starts reading the RAW file from its first line.
  virtual void prepass_begin() {}
  // The pre-pass read `raw_line` (not a rejected piece), as the file holds it.
  virtual void prepass_line(std::string_view raw_line) { (void)raw_line; }
  // The pre-pass is over; the main loop starts reading records.
  virtual void records_begin(const Run& run) = 0;
  // A G$ record set run.gps_state (its text is the sentence from the talker ID on).
  virtual void fix_read(const Run& run) { (void)run; }
  // A file header opened the files of a new survey file (run.base_name).
  virtual void survey_file_started(const Run& run) = 0;
  // A comment record was read; `text` as the record holds it.
  virtual void comment_read(const Run& run, std::string_view text) = 0;
  // A record completed the station `run.station` (before the type's writer
  // decides whether it writes a line for it).
  virtual void station_completed(const Run& run, StationKind kind) = 0;
  // The run ended with `result` (every file closed).
  virtual void run_ended(const Run& run, std::int32_t result) = 0;
  // RAW line run.line_no is a piece of a transmission the upload rejected.
  virtual void rejected_piece_read(const Run& run) = 0;
};

struct Run {
  Run(Persistent& keep_, float& height) : keep(keep_), sensor_height(height) {}

  Persistent& keep;
  float& sensor_height;

  OutputType type = OutputType::X;
  std::string raw_name;
  std::string dir_prefix;

  // The current RAW line, normalised, 120 characters.
  std::string line = std::string(kLineLength, ' ');
  std::int32_t line_no = 0;
  std::int32_t rejected_pieces = 0;  // of the lines read: pieces the upload rejected

  // Names (without the folder).
  std::string out_name = "Default";  // current main output name
  std::string base_name = "Default";  // out_name without its extension
  std::string survey_name;            // as the file header gave it, trimmed
  std::string cmt_name = "Default.CMT";
  std::string sdf_name = "Default.SDF";
  std::string last_sdf_written;
  std::string dat_name = "Default.DAT";
  std::vector<std::string> used_names;     // survey names of the file headers
  std::vector<std::string> used_bases;     // upper-case base names of this call
  std::int32_t h_count = 0;

  bool output_used = false;
  bool opening_line_due = true;   // SAN header line
  bool ice_first_record = true;   // ICE console lines
  bool sdf_pending = false;       // P: SDF description still to write
  bool pklvt_read_ok = false;     // a $PKLVT sentence was read without error
  std::int32_t last_dat31_line = kNoLineYet;
  std::int64_t dat_records = 0;

  RunObserver* observer = nullptr;

  bool write_failed = false;  // a kept output lost data
  std::int32_t xyx_count = 0;
  std::int32_t gps_count = 0;

  RawInput raw;
  OutputFile main, xyx, cmt, dat, raw_copy, gps;

  Config config;
  Station station;
  GpsState gps_state;
  RefState ref;
  mutable LineBuffers buffers;  // reused text, not state: kept out of the writers' inputs
};

// ---- shared helpers ------------------------------------------------------------------

// The writers' extension of each output type (lower case; none for R).
std::string_view extension_of(OutputType type);

// "*** Read error in input buffer at " line and the skipping line.
void report_read_error(const Run& run);

// Opens `file` as dir_prefix + name; refuses a name that is the RAW input
// itself. False (with the open-error message) on failure.
bool open_output(Run& run, OutputFile& file, const std::string& name, bool binary = false);
void report_open_error(const Run& run, const std::string& path);
// "*** Read error in input file at line " and "IOSTAT=": the RAW file
// itself could not be read. Returns the read-error result.
Stop report_raw_read_error(const Run& run, std::int32_t line_no);
// Closes `file`; a kept file that lost data is reported and fails the run.
void close_output(Run& run, OutputFile& file, Disposition disposition);
inline Disposition keep_if(bool condition) {
  return condition ? Disposition::keep : Disposition::remove;
}

// The operator's free-form reply to a prompt: empty lines are passed over,
// "/" and the end of input keep `value`. False when the reply is not a
// number (the caller asks again).
bool read_reply(std::int32_t& value);
bool read_reply(float& value);

}  // namespace kal::xlat

// File names built from survey names of the RAW file.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace kal::xlat {

// The survey name made safe as a file name, the same on Linux and Windows:
// control bytes, bytes outside printable ASCII and \ / : * ? " < > | become
// "_"; a "." stays only between two characters that are not dots (no "..",
// no hidden file); a name Windows takes for a device (CON, PRN, AUX, NUL,
// COM1-9, LPT1-9, any case) gets "_" appended. Blanks and every other
// printable character stay. `changed` tells whether anything was changed.
std::string safe_file_stem(std::string_view survey_name, bool& changed);

// "_" and hour, minute and second as two zero-filled digits each:
// 10:15:02 gives "_101502".
std::string time_suffix(std::int32_t hour, std::int32_t minute, std::int32_t second);

// True when `stem` (compared without regard to case, as Windows file
// systems do) is among `used`.
bool stem_used(const std::vector<std::string>& used, std::string_view stem);

// `stem` itself when unused, else stem + "_2", "_3", ... the first unused.
std::string distinct_stem(const std::vector<std::string>& used, const std::string& stem);

// `name` with the characters after its last "." replaced by `extension`
// (appended after a "." when the name has none).
std::string with_extension(std::string_view name, std::string_view extension);

}  // namespace kal::xlat

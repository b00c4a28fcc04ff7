// The mark in front of a rejected piece in the RAW file.
//
// Every piece of a transmission that arrived damaged (and was asked for
// again) is kept in the RAW file for the crew and support, behind this
// mark. The mark holds no "$" in columns 1-5 and no record tag in columns
// 2-3, so a reader that takes a line's tag from there (this program's
// transcription, older ones, crews' scripts picking "T$" lines) never takes
// a marked piece for a record; this program's transcription also skips it
// before any search inside the line.
#pragma once

#include <string_view>

namespace kal {

inline constexpr std::string_view kRejectedMark = "*REJECTED* ";

inline bool is_rejected_piece(std::string_view raw_line) { return raw_line.starts_with(kRejectedMark); }

}  // namespace kal

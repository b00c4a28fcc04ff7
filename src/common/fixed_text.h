// Fixed-length, blank-padded text as the instrument files and records use it.
// Text values are plain std::string; these helpers give them the fixed-field
// meaning: columns count from 1, comparisons ignore trailing blanks, copying
// into a field cuts or pads with blanks.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace kal {

// `text` cut to `width` characters or padded with blanks to it.
std::string fixed(std::string_view text, std::size_t width);

// Length without trailing blanks.
std::size_t trimmed_length(std::string_view text);

// The text without its trailing blanks.
std::string_view trimmed(std::string_view text);

// Equality ignoring trailing blanks ("AB" equals "AB  ").
bool same_text(std::string_view a, std::string_view b);

// Columns first..last (1-based, inclusive) of `text`; columns beyond the end
// of the text read as blanks, so the result always has last-first+1
// characters (empty when last < first).
std::string columns(std::string_view text, int first, int last);

// 1-based position of the first occurrence of `what` in `text`, 0 if absent.
int position_of(std::string_view text, std::string_view what);

// Overwrites columns first.. of `field` with `text` (1-based), growing the
// field with blanks when needed.
void put_columns(std::string& field, int first, std::string_view text);

// The shared upper-case helper: a copy of at most 255 characters in which
// a-z become A-Z and every other byte is unchanged.
std::string SHIFTUP(std::string_view text);

}  // namespace kal

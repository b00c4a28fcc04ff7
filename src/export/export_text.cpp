#include "export/export_text.h"

#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>

namespace kal::xlat {
namespace {

template <class Real>
std::string shortest_of(Real value) {
  if (!std::isfinite(value)) return {};
  char text[400];  // the widest fixed double: 309 digits
  // Fixed notation: 500000, not 5e+05, for the GIS tools that read it.
  const auto result = std::to_chars(text, text + sizeof text, value, std::chars_format::fixed);
  return std::string(text, result.ptr);
}

void append_code_point(std::string& out, std::uint32_t c) {
  if (c < 0x80) {
    out.push_back(static_cast<char>(c));
  } else if (c < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (c >> 6)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xE0 | (c >> 12)));
    out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  }
}

// Length of the valid UTF-8 sequence at `at` (shortest form, no surrogates),
// 0 when there is none.
std::size_t utf8_sequence(std::string_view text, std::size_t at) {
  const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
  const unsigned char lead = byte(at);
  std::size_t length = 0;
  std::uint32_t min = 0;
  std::uint32_t c = 0;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2, min = 0x80, c = lead & 0x1Fu;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3, min = 0x800, c = lead & 0x0Fu;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4, min = 0x10000, c = lead & 0x07u;
  } else {
    return 0;
  }
  if (at + length > text.size()) return 0;
  for (std::size_t i = 1; i < length; ++i) {
    if ((byte(at + i) & 0xC0) != 0x80) return 0;
    c = (c << 6) | (byte(at + i) & 0x3Fu);
  }
  if (c < min || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) return 0;
  return length;
}

}  // namespace

std::string shortest_text(double value) { return shortest_of(value); }
std::string shortest_text(float value) { return shortest_of(value); }

double widened(float value) {
  const std::string text = shortest_text(value);
  double wide = static_cast<double>(value);
  if (!text.empty()) std::from_chars(text.data(), text.data() + text.size(), wide);
  return wide;
}

std::string as_utf8(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t at = 0; at < text.size();) {
    const auto byte = static_cast<unsigned char>(text[at]);
    if (byte < 0x20 || byte == 0x7F) {
      append_code_point(out, 0xFFFD);
      ++at;
    } else if (byte < 0x80) {
      out.push_back(static_cast<char>(byte));
      ++at;
    } else if (const std::size_t length = utf8_sequence(text, at); length > 0) {
      out.append(text.substr(at, length));
      at += length;
    } else {
      append_code_point(out, byte);  // Latin-1
      ++at;
    }
  }
  return out;
}

std::string csv_field(std::string_view text) {
  if (text.find_first_of(",\"\r\n") == std::string_view::npos) return std::string(text);
  std::string out = "\"";
  for (const char c : text) {
    if (c == '"') out.push_back('"');
    out.push_back(c);
  }
  out.push_back('"');
  return out;
}

std::string zero_filled(std::int64_t value, int width) {
  std::string digits = std::to_string(value);
  if (value >= 0 && static_cast<int>(digits.size()) < width) {
    digits.insert(0, static_cast<std::size_t>(width) - digits.size(), '0');
  }
  return digits;
}

std::string channel_name(std::string_view channel, float spacing_m) {
  char spacing[32];
  std::snprintf(spacing, sizeof spacing, "%.1f", static_cast<double>(spacing_m));
  return std::string(channel) + "_" + spacing + "m";
}

std::string zone_text(std::int32_t zone) {
  if (zone == 0) return {};
  return std::to_string(zone < 0 ? -zone : zone) + (zone < 0 ? "S" : "N");
}

}  // namespace kal::xlat

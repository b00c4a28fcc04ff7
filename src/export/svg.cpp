#include "export/svg.h"

#include <cmath>
#include <cstdio>

namespace kal::xlat::svg {

std::string num(double value, int decimals) {
  if (!std::isfinite(value)) return "0";
  char text[64];
  std::snprintf(text, sizeof text, "%.*f", decimals, value);
  std::string s = text;
  if (s.find('.') != std::string::npos) {
    while (s.back() == '0') s.pop_back();
    if (s.back() == '.') s.pop_back();
  }
  if (s == "-0") s = "0";
  return s;
}

std::string escaped(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (const char c : text) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      case '\'': out += "&#39;"; break;
      default: out.push_back(c);
    }
  }
  return out;
}

std::string hex_colour(int red, int green, int blue) {
  char text[8];
  std::snprintf(text, sizeof text, "#%02x%02x%02x", red & 0xFF, green & 0xFF, blue & 0xFF);
  return text;
}

void Xml::start_tag(std::string_view tag, Attributes attributes) {
  out_.push_back('<');
  out_.append(tag);
  for (const auto& [name, value] : attributes) {
    out_.push_back(' ');
    out_.append(name);
    out_.append("=\"");
    out_.append(escaped(value));
    out_.push_back('"');
  }
}

Xml& Xml::open(std::string_view tag, Attributes attributes) {
  start_tag(tag, attributes);
  out_.push_back('>');
  open_.emplace_back(tag);
  return *this;
}

Xml& Xml::leaf(std::string_view tag, Attributes attributes) {
  start_tag(tag, attributes);
  out_.append("/>");
  return *this;
}

Xml& Xml::element(std::string_view tag, Attributes attributes, std::string_view content) {
  start_tag(tag, attributes);
  out_.push_back('>');
  out_.append(escaped(content));
  out_.append("</");
  out_.append(tag);
  out_.push_back('>');
  return *this;
}

Xml& Xml::text(std::string_view content) {
  out_.append(escaped(content));
  return *this;
}

Xml& Xml::close() {
  if (open_.empty()) return *this;
  out_.append("</");
  out_.append(open_.back());
  out_.append(">\n");
  open_.pop_back();
  return *this;
}

void Xml::close_all() {
  while (!open_.empty()) close();
}

void Points::add(double x, double y) {
  if (count_ > 0) text_.push_back(' ');
  text_ += num(x);
  text_.push_back(',');
  text_ += num(y);
  ++count_;
}

}  // namespace kal::xlat::svg

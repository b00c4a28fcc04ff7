// A small writer of well-formed XML for the report: HTML written as XHTML
// and inline SVG, with text and attribute values escaped.
#pragma once

#include <initializer_list>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace kal::xlat::svg {

// `value` with at most `decimals` decimals and no trailing zeros: 12.5, 3, -0.25.
std::string num(double value, int decimals = 1);

// `text` escaped for XML content and attribute values.
std::string escaped(std::string_view text);

// "#rrggbb".
std::string hex_colour(int red, int green, int blue);

class Xml {
 public:
  using Attributes = std::initializer_list<std::pair<std::string_view, std::string_view>>;

  explicit Xml(std::string& out) : out_(out) {}
  Xml(const Xml&) = delete;
  Xml& operator=(const Xml&) = delete;

  // <tag a="v" ...>, closed by close().
  Xml& open(std::string_view tag, Attributes attributes = {});
  // <tag a="v" .../>
  Xml& leaf(std::string_view tag, Attributes attributes = {});
  // <tag a="v" ...>text</tag>
  Xml& element(std::string_view tag, Attributes attributes, std::string_view text);
  Xml& text(std::string_view text);
  // Closes the innermost open element.
  Xml& close();
  // Closes every element still open.
  void close_all();
  void raw(std::string_view markup) { out_.append(markup); }

 private:
  void start_tag(std::string_view tag, Attributes attributes);

  std::string& out_;
  std::vector<std::string> open_;
};

// The points attribute of a polyline or polygon, built point by point.
class Points {
 public:
  void add(double x, double y);
  const std::string& text() const { return text_; }
  std::size_t count() const { return count_; }
  void clear() {
    text_.clear();
    count_ = 0;
  }

 private:
  std::string text_;
  std::size_t count_ = 0;
};

}  // namespace kal::xlat::svg

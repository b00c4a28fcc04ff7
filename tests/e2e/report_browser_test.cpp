// The quick-look report as the crew meets it: kalxlat writes it from a real
// RAW file, it is well-formed XML that fetches nothing, and headless
// Chromium draws its map and its profiles (checked by the colours of the
// screenshot's pixels).
#include <gtest/gtest.h>
#include <libxml/parser.h>
#include <libxml/tree.h>
#include <png.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <map>
#include <numbers>
#include <set>
#include <string>
#include <vector>

#include "e2e/xlat_harness.h"
#include "e2e/xlat_records.h"
#include "support/run_program.h"
#include "support/temp_dir.h"

namespace kal::xtest {
namespace {

using Lines = std::vector<std::string>;

constexpr const char* kChromium = "/usr/bin/chromium";
// The colours the report gives the profiles.
constexpr std::uint32_t kHcProfile = 0x2c7fb8, kHiProfile = 0xd95f0e;

std::string nmea_minutes(double minutes, int degree_digits) {
  char text[32];
  const int degrees = static_cast<int>(minutes / 60);
  std::snprintf(text, sizeof text, "%0*d%07.4f", degree_digits, degrees, minutes - degrees * 60.0);
  return text;
}

// Two lines 20 m apart, 60 stations 5 m apart each, a GGA sentence before
// every station; HC 10 mS/m on line 1 and 50 mS/m on line 2, HI a wave.
Lines walked_survey() {
  Lines raw = {c_rec("090000", "KALVOR-1   SNA1234567  SW VERSION 5.1a"),
               header_rec("090000", "GRID01", "261208", "1")};
  const double lat0 = 45 * 60.0, lon0 = 75 * 60.0;  // minutes of arc, north and west
  for (int line = 1; line <= 2; ++line) {
    for (int k = 1; k <= 60; ++k) {
      const int station = line == 1 ? k : 61 - k;
      const int second = (line - 1) * 60 + k;
      char time[8];
      std::snprintf(time, sizeof time, "09%02d%02d", second / 60, second % 60);
      const double lat = lat0 + station * 5.0 / 1852.0;
      const double lon = lon0 - (line - 1) * 20.0 / (1852.0 * std::cos(std::numbers::pi / 4));
      raw.push_back(g_rec(std::string("GPGGA,") + time + "," + nmea_minutes(lat, 2) + ",N," +
                          nmea_minutes(lon, 3) + ",W,1,08,0.9,100.0,M,0.0,M,,"));
      if (line == 1 && k == 30) raw.push_back(c_rec(time, "Fence"));
      const int hi = static_cast<int>(std::lround(300 * std::sin(k / 6.0)));
      raw.push_back(d72(time, line, ' ', station, ' ', 0, {line == 1 ? 100 : 500, hi, 200, 50}, 12400, 2100, 5, 5));
    }
  }
  return raw;
}

// ---- the report as XML -----------------------------------------------------------------------

struct XmlFacts {
  bool well_formed = false;
  std::set<std::string> elements;
  std::set<std::string> attributes;
  std::set<std::uint32_t> map_dot_colours;  // strokes of the round dots of the first map
};

std::uint32_t colour_of(const std::string& hex) {
  return hex.size() == 7 && hex[0] == '#' ? static_cast<std::uint32_t>(std::stoul(hex.substr(1), nullptr, 16)) : 0;
}

std::string attribute(xmlNode* node, const char* name) {
  xmlChar* value = xmlGetProp(node, reinterpret_cast<const xmlChar*>(name));
  if (value == nullptr) return {};
  std::string text(reinterpret_cast<const char*>(value));
  xmlFree(value);
  return text;
}

void walk(xmlNode* node, XmlFacts& facts, int& maps_seen) {
  for (; node != nullptr; node = node->next) {
    if (node->type != XML_ELEMENT_NODE) continue;
    const std::string name(reinterpret_cast<const char*>(node->name));
    facts.elements.insert(name);
    for (xmlAttr* a = node->properties; a != nullptr; a = a->next) {
      facts.attributes.insert(reinterpret_cast<const char*>(a->name));
    }
    const bool map = name == "svg" && attribute(node, "class").rfind("map", 0) == 0;
    if (map) ++maps_seen;
    if (name == "path" && maps_seen == 1 && attribute(node, "stroke-linecap") == "round") {
      facts.map_dot_colours.insert(colour_of(attribute(node, "stroke")));
    }
    walk(node->children, facts, maps_seen);
  }
}

XmlFacts read_xml(const std::string& path) {
  XmlFacts facts;
  xmlDoc* doc = xmlReadFile(path.c_str(), nullptr, XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING);
  if (doc == nullptr) return facts;
  facts.well_formed = true;
  int maps_seen = 0;
  walk(xmlDocGetRootElement(doc), facts, maps_seen);
  xmlFreeDoc(doc);
  return facts;
}

// ---- the screenshot --------------------------------------------------------------------------

// Pixel counts by colour (0xRRGGBB) of a PNG file; empty when it cannot be read.
std::map<std::uint32_t, long> colour_counts(const std::string& path) {
  std::map<std::uint32_t, long> counts;
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_file(&image, path.c_str())) return counts;
  image.format = PNG_FORMAT_RGB;
  std::vector<unsigned char> pixels(PNG_IMAGE_SIZE(image));
  if (!png_image_finish_read(&image, nullptr, pixels.data(), 0, nullptr)) return counts;
  for (std::size_t i = 0; i + 2 < pixels.size(); i += 3) {
    ++counts[static_cast<std::uint32_t>(pixels[i] << 16 | pixels[i + 1] << 8 | pixels[i + 2])];
  }
  return counts;
}

TEST(ReportBrowser, ChromiumDrawsTheMapAndTheProfiles) {
  TempDir dir;
  write_file(dir.file("in.RAW"), raw_text(walked_survey()));
  const XlatRun run = run_kalxlat(dir.path(), {"in.RAW", "--report"});
  ASSERT_EQ(run.status, 0) << run.out;
  EXPECT_EQ(run.lines.back(), "   Quick-look report: in.html");

  // Self-contained and well-formed: nothing to fetch, no script.
  const XmlFacts facts = read_xml(dir.file("in.html"));
  ASSERT_TRUE(facts.well_formed);
  for (const char* element : {"script", "link", "img", "iframe", "object", "embed", "image", "use"}) {
    EXPECT_EQ(facts.elements.count(element), 0u) << element;
  }
  for (const char* name : {"src", "href"}) EXPECT_EQ(facts.attributes.count(name), 0u) << name;
  // Two lines of two conductivities: two colours of dots.
  ASSERT_EQ(facts.map_dot_colours.size(), 2u);

  if (!std::filesystem::exists(kChromium)) GTEST_SKIP() << "chromium is not installed (scripts/setup installs it)";
  kal::test::TempDir profile("kal-chromium");
  ASSERT_TRUE(profile.ready());
  const std::string png = dir.file("shot.png");
  const kal::test::ProgramOutcome shot = kal::test::run_program(
      {kChromium, "--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
       "--disable-background-networking", "--disable-component-update", "--disable-sync", "--hide-scrollbars",
       "--force-device-scale-factor=1", "--user-data-dir=" + profile.path().string(), "--screenshot=" + png,
       "--window-size=1000,2600", "file://" + dir.file("in.html")},
      "", {}, std::chrono::minutes(2));
  ASSERT_FALSE(shot.timed_out);
  const std::map<std::uint32_t, long> counts = colour_counts(png);
  ASSERT_FALSE(counts.empty()) << "no screenshot: " << shot.out;
  auto count = [&](std::uint32_t colour) {
    const auto found = counts.find(colour);
    return found == counts.end() ? 0L : found->second;
  };
  // Each line's dots: 60 dots of 6 px, far more pixels than the colour bar's
  // band of the same colour (16 x 4 px) holds.
  for (const std::uint32_t colour : facts.map_dot_colours) EXPECT_GT(count(colour), 600) << std::hex << colour;
  // The profiles of the two lines: two panels each, 640 px wide.
  EXPECT_GT(count(kHcProfile), 1000);
  EXPECT_GT(count(kHiProfile), 1000);
}

}  // namespace
}  // namespace kal::xtest

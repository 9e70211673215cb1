// The image fixtures of tests/data and what tests/data/fixtures.tsv, written
// by their generator, says a reader must see in each.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace folio::test {

inline std::string fixturePath(const std::string& name) {
  return std::string(FOLIO_SOURCE_DIR) + "/tests/data/" + name;
}

struct Sample {
  std::uint32_t x, y;  // in the upright image
  int r, g, b;
};

struct Fixture {
  std::string file, outcome;  // page, unreadable, too-large or any
  std::uint32_t width = 0, height = 0;
  double dpiX = 96, dpiY = 96;
  int tolerance = 0;
  int placed = -1;  // for JPEGs: 1 when the document holds the file's own bytes
  bool endToEnd = false;
  std::vector<Sample> samples;
  std::string wine;  // "-", or why the case cannot hold under Wine
};

inline std::vector<Fixture> loadFixtures() {
  std::ifstream in(fixturePath("fixtures.tsv"));
  std::vector<Fixture> out;
  std::string line;
  while (std::getline(in, line)) {
    if (line.empty() || line[0] == '#') continue;
    std::vector<std::string> f;
    std::stringstream fields(line);
    for (std::string s; std::getline(fields, s, '\t');) f.push_back(s);
    EXPECT_EQ(f.size(), 11u) << line;
    if (f.size() != 11) continue;
    Fixture x{f[0], f[1], std::uint32_t(std::stoul(f[2])), std::uint32_t(std::stoul(f[3])),
              std::stod(f[4]), std::stod(f[5]), std::stoi(f[6]), f[7] == "-" ? -1 : std::stoi(f[7]),
              f[8] == "1", {}, f[10]};
    std::stringstream points(f[9] == "-" ? "" : f[9]);
    for (std::string p; std::getline(points, p, ';');) {
      const auto rgb = std::strtoul(p.c_str() + p.find('=') + 1, nullptr, 16);
      x.samples.push_back({std::uint32_t(std::stoul(p)), std::uint32_t(std::stoul(p.substr(p.find(',') + 1))),
                           int(rgb >> 16), int(rgb >> 8 & 255), int(rgb & 255)});
    }
    out.push_back(std::move(x));
  }
  EXPECT_GT(out.size(), 100u) << "the fixture table is missing or cut short";
  return out;
}

// A pixel stored blue, green, red, against a sample within the tolerance.
inline ::testing::AssertionResult shows(const std::uint8_t* bgr, const Sample& s, int tolerance) {
  if (std::abs(bgr[2] - s.r) <= tolerance && std::abs(bgr[1] - s.g) <= tolerance &&
      std::abs(bgr[0] - s.b) <= tolerance) {
    return ::testing::AssertionSuccess();
  }
  return ::testing::AssertionFailure() << "at " << s.x << "," << s.y << ": " << int(bgr[2]) << ","
                                       << int(bgr[1]) << "," << int(bgr[0]) << " for " << s.r
                                       << "," << s.g << "," << s.b;
}

}  // namespace folio::test

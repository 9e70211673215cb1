// The image fixtures of tests/data and what tests/data/fixtures.tsv, written
// by their generator, says a reader must see in each.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
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
  unsigned x, y;  // in the upright image
  unsigned r, g, b;
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
    std::stringstream fields(line);
    Fixture x;
    std::string placed, endToEnd, samples;
    fields >> x.file >> x.outcome >> x.width >> x.height >> x.dpiX >> x.dpiY >> x.tolerance >>
        placed >> endToEnd >> samples >> std::ws;
    std::getline(fields, x.wine);
    EXPECT_TRUE(fields.eof() && !x.wine.empty()) << line;
    x.placed = placed == "-" ? -1 : std::stoi(placed);
    x.endToEnd = endToEnd == "1";
    std::stringstream points(samples == "-" ? "" : samples);
    for (std::string p; std::getline(points, p, ';');) {
      Sample s{};
      EXPECT_EQ(std::sscanf(p.c_str(), "%u,%u=%2x%2x%2x", &s.x, &s.y, &s.r, &s.g, &s.b), 5) << p;
      x.samples.push_back(s);
    }
    out.push_back(std::move(x));
  }
  EXPECT_GT(out.size(), 100u) << "the fixture table is missing or cut short";
  return out;
}

// A pixel stored blue, green, red, against a sample within the tolerance.
inline ::testing::AssertionResult shows(const std::uint8_t* bgr, const Sample& s, int tolerance) {
  const int got[3] = {bgr[2], bgr[1], bgr[0]}, want[3] = {int(s.r), int(s.g), int(s.b)};
  for (int i = 0; i < 3; ++i) {
    if (std::abs(got[i] - want[i]) > tolerance) {
      return ::testing::AssertionFailure()
             << "at " << s.x << "," << s.y << ": " << got[0] << "," << got[1] << "," << got[2]
             << " for " << want[0] << "," << want[1] << "," << want[2];
    }
  }
  return ::testing::AssertionSuccess();
}

}  // namespace folio::test

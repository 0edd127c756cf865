// Helpers shared by the tests: seeds built in place and captured output.
#pragma once

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "seed/seed.h"

namespace seedmatch::test {

// A seed at pos with the given stored distances (and its histogram), point
// counts 100 and one desc[0] value 1.0, so that it is not empty.
inline SEED makeSeed(double x, double y, double z, std::vector<double> neibDist = {}) {
  SEED seed{};
  seed.pos[0] = x;
  seed.pos[1] = y;
  seed.pos[2] = z;
  seed.desc[0] = {1.0};
  seed.pts[0] = seed.pts[1] = seed.pts[2] = 100;
  seed.neibCount = static_cast<std::int32_t>(neibDist.size());
  seed.neibDist = std::move(neibDist);
  NeibDis(seed);
  return seed;
}

// Everything print(out) writes to out.
template <class Print>
std::string capture(Print print) {
  std::FILE* file = std::tmpfile();
  if (file == nullptr) return "<tmpfile failed>";
  print(file);
  std::string text;
  std::rewind(file);
  for (int c; (c = std::fgetc(file)) != EOF;) text.push_back(static_cast<char>(c));
  std::fclose(file);
  return text;
}

inline std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

}  // namespace seedmatch::test

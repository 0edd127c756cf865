// The arithmetic of seedDist's terms, for the measures and for the engines'
// loops over many objects at once, so that both give the same bits.
#pragma once

#include <cmath>

#include "seedmatch/measure/weights.h"

namespace seedmatch {

inline constexpr double kPtsScale = 250.0;  // a point count difference is measured in these

// |a - b| / kPtsScale of two point counts in single precision, the
// difference taken in single precision.
inline double ptsDiffOf(float a, float b) {
  return static_cast<double>(std::fabs(a - b)) / kPtsScale;
}

// seedDist from its terms, added strictly left to right, with one product of
// wPts01 and dPts01 = dPts0 + dPts1.
inline double weightedSeedDist(double dDesc0, double dDesc1, double dDesc2, double dPts01,
                               double dDesc4, double dPts2, const SeedDistWeights& w) {
  double t = dDesc0 + w.wDesc1 * dDesc1;
  t = t + w.wDesc2 * dDesc2;
  t = t + w.wPts01 * dPts01;
  t = t + w.wDesc4 * dDesc4;
  return t + w.wPts2 * dPts2;
}

}  // namespace seedmatch

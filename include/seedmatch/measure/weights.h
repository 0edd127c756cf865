// The weights of a pair's cost, as one record.
#pragma once

namespace seedmatch {

// The fixed weights of seedDist's terms.
struct SeedDistWeights {
  double wDesc1 = 0.8;
  double wDesc2 = 1.4;
  double wPts01 = 0.8;
  double wDesc4 = 0.1;
  double wPts2 = 0.2;
};

// A pair costs rpd * rpd + (seed * seedDist + hist * pcal) and is won only
// below costLimit. The fields run in the order of the command line.
struct Weights {
  double seed = 0.0;
  double hist = 0.0;
  double rpd = 0.0;
  double costLimit = 0.0;
  SeedDistWeights seedDist{};
};

}  // namespace seedmatch

// Where an engine takes the fixed part of a pair's cost from, chosen once per
// call: read from terms the caller prepared; formed on demand, for weights
// that are not negative, under which the bounded engine asks for few pairs;
// or formed for every pair before the first pass and stored.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "engine.h"
#include "fixed_part.h"

namespace seedmatch {

class FixedSource {
 public:
  enum class Kind { prepared, onDemand, stored };

  // A source for in's pairs of bidders and live objects; onDemand asks for
  // that kind unless terms are prepared.
  FixedSource(const AuctionInput& in, const AuctionState& state, bool onDemand);

  Kind kind() const { return kind_; }

  // The exact fixed part of bidder b and live position p.
  double exact(std::int32_t b, std::size_t p) const;
  // Bidder b's exact fixed parts by live position, stored or formed in scratch.
  const double* row(std::int32_t b, std::vector<double>& scratch);
  // Bidder b's exact fixed parts by live position, into out.
  void fillRow(std::int32_t b, double* out);
  // At most bidder b's fixed parts, by live position: from the point counts
  // when formed on demand, the exact ones otherwise.
  const double* lowerBounds(std::int32_t b, std::vector<double>& scratch);

  // seedDist and pcal of bidder b and live position p, apart; pcalOf gives
  // 0.0 where the fixed parts leave pcal out (fixed_part.h, pcalLeftOut).
  double seedDistOf(std::int32_t b, std::size_t p) const;
  double pcalOf(std::int32_t b, std::size_t p) const;

 private:
  void storeAll(const std::vector<bool>& bidderLive);
  double fromTerms(std::int32_t b, std::size_t p) const;
  const SEED& bidder(std::int32_t b) const { return in_->bidders[static_cast<std::size_t>(b)]; }
  const SEED& object(std::size_t p) const {
    return in_->objects[static_cast<std::size_t>((*live_)[p])];
  }

  const AuctionInput* in_;
  const std::vector<std::int32_t>* live_;
  Kind kind_;
  bool uniform_ = false;                         // both sets suit the column layout
  bool pcalLeftOut_ = false;                     // every fixed part the same without pcal
  std::unique_ptr<double[]> stored_;             // bidder-major, by live position; rows of
                                                 // empty bidders unset
  std::array<std::vector<float>, 3> objectPts_;  // point counts by live position, on demand
  ObjectColumns columns_;                        // built for the first full row
};

}  // namespace seedmatch

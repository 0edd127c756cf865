#include "fixed_source.h"

namespace seedmatch {

FixedSource::FixedSource(const AuctionInput& in, const AuctionState& state, bool onDemand)
    : in_(&in),
      live_(&state.live),
      kind_(in.terms != nullptr ? Kind::prepared
            : onDemand          ? Kind::onDemand
                                : Kind::stored) {
  if (kind_ == Kind::prepared) return;
  pcalLeftOut_ = pcalLeftOut(in.bidders, in.objects, in.weights);
  const std::size_t nLive = live_->size();
  uniform_ =
      nLive > 0 && !in.bidders.empty() && uniformLayout(in.bidders) && uniformLayout(in.objects);
  if (kind_ == Kind::stored) {
    storeAll(state.bidderLive);
    return;
  }
  for (std::size_t k = 0; k < 3; ++k) {
    objectPts_[k].resize(nLive);
    for (std::size_t p = 0; p < nLive; ++p) objectPts_[k][p] = static_cast<float>(object(p).pts[k]);
  }
}

void FixedSource::storeAll(const std::vector<bool>& bidderLive) {
  const std::size_t nLive = live_->size();
  if (nLive == 0 || in_->bidders.empty()) return;
  // Left unset until its row is filled, so that the pages are first touched
  // row by row, between looks at the stop token.
  stored_ = std::make_unique_for_overwrite<double[]>(in_->bidders.size() * nLive);
  for (std::size_t b = 0; b < in_->bidders.size() && !in_->stop.stop_requested(); ++b) {
    if (bidderLive[b]) fillRow(static_cast<std::int32_t>(b), &stored_[b * nLive]);
  }
}

double FixedSource::exact(std::int32_t b, std::size_t p) const {
  switch (kind_) {
    case Kind::prepared: return fromTerms(b, p);
    case Kind::onDemand:
      return fixedPartOf(in_->weights.seed, seedDistOf(b, p), in_->weights.hist, pcalOf(b, p));
    case Kind::stored: break;
  }
  return stored_[static_cast<std::size_t>(b) * live_->size() + p];
}

const double* FixedSource::row(std::int32_t b, std::vector<double>& scratch) {
  if (kind_ == Kind::stored) return &stored_[static_cast<std::size_t>(b) * live_->size()];
  scratch.resize(live_->size());
  fillRow(b, scratch.data());
  return scratch.data();
}

void FixedSource::fillRow(std::int32_t b, double* out) {
  const std::size_t nLive = live_->size();
  if (kind_ == Kind::prepared) {
    for (std::size_t p = 0; p < nLive; ++p) out[p] = fromTerms(b, p);
    return;
  }
  if (uniform_) {
    if (columns_.count == 0) columns_ = makeColumns(in_->objects, *live_, in_->bidders.front());
    fixedRow(bidder(b), columns_, in_->weights, out, !pcalLeftOut_);
    return;
  }
  for (std::size_t p = 0; p < nLive; ++p) {
    out[p] = fixedPartOf(in_->weights.seed, seedDistOf(b, p), in_->weights.hist, pcalOf(b, p));
  }
}

const double* FixedSource::lowerBounds(std::int32_t b, std::vector<double>& scratch) {
  if (kind_ != Kind::onDemand) return row(b, scratch);
  scratch.resize(live_->size());
  pointCountLowerBounds(bidder(b), objectPts_, in_->weights, scratch.data());
  return scratch.data();
}

double FixedSource::seedDistOf(std::int32_t b, std::size_t p) const {
  return pairSeedDist(bidder(b), object(p), in_->set1Bids, in_->weights.seedDist);
}

double FixedSource::pcalOf(std::int32_t b, std::size_t p) const {
  if (pcalLeftOut_) return 0.0;
  return pcal(bidder(b), object(p), in_->set1Size);
}

double FixedSource::fromTerms(std::int32_t b, std::size_t p) const {
  const auto bidder = static_cast<std::size_t>(b);
  const auto object = static_cast<std::size_t>((*live_)[p]);
  const PairTerms& terms = *in_->terms;
  const std::size_t at =
      in_->set1Bids ? bidder * terms.size2 + object : object * terms.size2 + bidder;
  return fixedPartOf(in_->weights.seed, terms.seedDist[at], in_->weights.hist, terms.pcal[at]);
}

}  // namespace seedmatch

// rpd sums of many objects at once, for weights under which no bound holds
// (a negative rpdWeight) and every object needs its full sum in every pass.
// Each object still adds its own terms in rpd's order, so every sum keeps
// its bits; the work is only arranged so that memory is read in long runs.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <stop_token>
#include <vector>

#include "seedmatch/seed/seed.h"

namespace seedmatch {

// True when no distance can make an rpd term infinite or NaN: with a zero
// rpdWeight the rpd term then adds a zero of rpdWeight's sign, whatever its
// value. False as soon as a stop is requested.
bool distancesModerate(const SeedSet& seeds, const std::stop_token& stop = {});

// True when every object's distance to every other reads the same both ways;
// false as soon as a stop is requested.
bool distancesSymmetric(const SeedSet& objects, const std::stop_token& stop = {});

// sums[j] = rpd's sum for every object j, given symmetric distances: the held
// objects' own rows (heldRows, in ascending object order, with the bidder's
// distance to each one's holder in holderDist) are read one after the other.
// A stop request leaves the sums unfinished.
void rpdSumsAlongHeldRows(const std::vector<std::int32_t>& held,
                          const std::vector<const double*>& heldRows,
                          const std::vector<double>& holderDist, std::size_t objectCount,
                          std::vector<double>& sums, const std::stop_token& stop = {});

inline constexpr std::size_t kSumLanes = 8;

// sum[l] = rpd's sum for object[l], l < m, side by side; heldFlag marks the
// held objects, whose own term is left out.
void rpdSumsSideBySide(const SeedSet& objects, const std::array<std::int32_t, kSumLanes>& object,
                       std::size_t m, const std::vector<std::int32_t>& held,
                       const std::vector<double>& holderDist,
                       const std::vector<std::int32_t>& heldFlag,
                       std::array<double, kSumLanes>& sum);

}  // namespace seedmatch

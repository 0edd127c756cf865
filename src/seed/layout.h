// How a seed file lays out one seed's block, for the reader and the writer:
// the position; for each descriptor, kLeadingIntegers integers that readers
// pass over, then its values; the point counts; neibCount and the distances.
#pragma once

#include <cstdint>

#include "seedmatch/seed/seed.h"

namespace seedmatch {

inline constexpr std::int32_t kPositionValues = 3;
inline constexpr std::int32_t kLeadingIntegers = 2;  // ahead of each descriptor's values
inline constexpr std::int32_t kPointCounts = 3;

// The numbers of a block ahead of neibCount besides the descriptors' values.
inline constexpr std::int64_t kFixedNumbers =
    kPositionValues + kLeadingIntegers * static_cast<std::int64_t>(kDescriptors) + kPointCounts;

}  // namespace seedmatch

// Shared by the matchings; not part of the installed interface.
#pragma once

#include <cstdint>
#include <vector>

#include "matching.h"

namespace seedmatch {

// Appends [set-1 index, set-2 index, held cost] for every held object, in
// ascending object index, whichever side bid.
void appendHeldRows(const std::vector<std::int32_t>& owner, const std::vector<double>& heldCost,
                    bool set1Bids, MatchTable& table);

}  // namespace seedmatch

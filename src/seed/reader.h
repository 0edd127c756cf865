// Reading one seed file, for the functions that read two. Not part of the
// installed interface.
#pragma once

#include <cstddef>
#include <optional>
#include <string>

#include "input.h"
#include "seedmatch/seed/seed.h"

namespace seedmatch {

// Reads the seeds of an open file, called name in errors, onto the end of
// seeds; on an error seeds holds what it held on entry. With splitPath, a
// regular file of many seeds is read by two threads, the second opening
// splitPath again.
std::optional<ReadError> readInput(Input& input, const std::string& name, SeedSet& seeds,
                                   const std::string* splitPath = nullptr);

// readSeed, giving up when cancel asks it to (the error then says "cancelled");
// with split, on two threads where the file allows it.
std::optional<ReadError> readFile(const std::string& path, SeedSet& seeds,
                                  const Cancellation* cancel, bool split = false);

// What errors call the file at path.
std::string nameOf(const std::string& path);

// Drops the seeds from index held on.
void dropFrom(SeedSet& seeds, std::size_t held);

}  // namespace seedmatch

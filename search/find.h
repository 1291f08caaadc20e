// Filtering the file index by a date test.
#pragma once

#include <atomic>
#include <cstdint>
#include <vector>

#include "index/file_index.h"
#include "search/day_rule.h"

namespace chronosift {

// The ids of the files whose local last-modified day (in the zone in force at each file's time;
// day 0 for a file without a time) passes the test against `cutoffDay`, in index order. Returns
// an empty list when `cancel` is set during the search. An index of `splitFrom` files or more is
// searched in two halves on two cores.
std::vector<FileId> findMatches(const FileIndex& index, Criterion criterion, int64_t cutoffDay,
                                const std::atomic<bool>* cancel = nullptr,
                                size_t splitFrom = 200000);

}  // namespace chronosift

// Filtering the file index by a date test.
#pragma once

#include <atomic>
#include <cstdint>
#include <vector>

#include "index/file_index.h"
#include "search/day_rule.h"

namespace chronosift {

struct SearchOptions {
    // Once set, the search stops and gives nothing.
    const std::atomic<bool>* cancel = nullptr;
    // Files to leave out (by id, one bit each), such as those moved to the trash.
    const std::vector<bool>* skip = nullptr;
    // An index of this many files or more is searched in two halves on two cores.
    size_t splitFrom = 200000;
};

// The ids of the files whose local last-modified day (in the zone in force at each file's time;
// day 0 for a file without a time) passes the test against `cutoffDay`, in index order.
std::vector<FileId> findMatches(const FileIndex& index, Criterion criterion, int64_t cutoffDay,
                                const SearchOptions& options = {});

}  // namespace chronosift

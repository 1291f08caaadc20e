// The orders the results list can be sorted in.
#pragma once

#include <atomic>
#include <cstdint>
#include <utility>
#include <vector>

#include "index/file_index.h"

namespace chronosift {

// The rows `ids` of `index` in the order of a column, as new row -> old row: 0 by path (folder,
// then name, bytes compared, folders in the order their paths take with the "/"); 1 by time
// (files without a time first); 2 by size. Ties keep index order; descending is the exact
// reverse. Column -1, or no index, is index order. Reads `ids` and the index only, so it may
// run on another thread while they stay unchanged; there `cancel`, once set, stops it within a
// moment, with an empty order.
std::vector<uint32_t> sortedOrder(const FileIndex* index, const std::vector<FileId>& ids,
                                  int column, bool descending,
                                  const std::atomic<bool>* cancel = nullptr);

// The rows as (file id, row) in ascending file id (rows of one id in row order), so that the
// index's folders can be walked once, in step, rather than looked up for every row.
std::vector<std::pair<FileId, uint32_t>> rowsById(const std::vector<FileId>& ids);

}  // namespace chronosift

// The orders the results list can be sorted in.
#pragma once

#include <cstdint>
#include <vector>

#include "index/file_index.h"

namespace chronosift {

// The rows `ids` of `index` in the order of a column, as new row -> old row: 0 by path (folder,
// then name, bytes compared, folders in the order their paths take with the "/"); 1 by time
// (files without a time first); 2 by size. Ties keep index order; descending is the exact
// reverse. Column -1, or no index, is index order.
std::vector<uint32_t> sortedOrder(const FileIndex* index, const std::vector<FileId>& ids,
                                  int column, bool descending);

}  // namespace chronosift

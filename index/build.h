// Building the file index from the search-folder rows.
//
// What goes in: every entry that is not a folder (hidden ones and links included) below each row,
// except names beginning with "~". Hidden subfolders (names beginning with ".") and everything
// below them stay out; a row that is itself hidden is still walked. Links are never followed and
// kernel pseudo file systems below a row are not entered. A folder that cannot be read is
// recorded in `FileIndex::errors()` and skipped; a file that vanishes before its time is read
// keeps its place with `kNoTime`. The home trash is never entered, and a row that is or lies
// inside a trash folder is refused (`platform::kInTrash`).
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "index/file_index.h"

namespace chronosift {

struct BuildOptions {
    // Checked at every entry; once set, the build stops and returns no index.
    const std::atomic<bool>* cancel = nullptr;
    // Called on the building thread with the number of files counted so far, at most once per
    // `progressInterval`, and once more at the end.
    std::function<void(uint64_t files)> progress;
    std::chrono::milliseconds progressInterval{100};
    // Threads that read folders; 0 lets the walk choose for each row from the processors, the
    // kind of file system and the pace it reads at (see walk::ThreadTuner).
    unsigned threads = 0;
    // Called on a reading thread after a folder's entries are read and before their times are,
    // with the folder's path. Tests use it to change the folder in that window.
    std::function<void(std::string_view folderPath)> afterListing;
};

// Rows are absolute folder paths that end in "/", already pruned. Returns nullptr when cancelled.
IndexSnapshot buildIndex(const std::vector<std::string>& rows, const BuildOptions& options = {});

}  // namespace chronosift

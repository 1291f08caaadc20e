// What a press of "Send Checked Items to Recycling Bin" decides around the trash itself: the
// question, which rows go afterwards, what to tell about the files that stayed, and which files
// no later search may list.
#pragma once

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "index/file_index.h"
#include "trash/trash.h"

namespace chronosift {

// The files as the trash takes them: each with the way back to its folder that the walk saw.
std::vector<trash::TrashItem> trashItems(const FileIndex& index, const std::vector<FileId>& files);

// "Move 3 checked files (1.2 GB) to the trash?"
std::string confirmationText(size_t count, uint64_t bytes);

// "Chronosift [ 5 files found, 1.2 GB ]", or with checked rows
// "Chronosift [ 5 files found, 1.2 GB · 2 checked, 3.0 KB ]".
std::string resultsCaption(size_t rows, uint64_t bytes, size_t checked, uint64_t checkedBytes);

// One message naming the files that stayed in the trash when putting back, or "" when none did.
// A file put back whose record could not be removed is named too.
std::string putBackMessage(const std::vector<std::string>& paths,
                           const std::vector<trash::PutBackOutcome>& outcomes, size_t named = 20);

// Of the rows sent (ascending), those whose files are gone now: moved, or missing already.
std::vector<int> rowsToRemove(const std::vector<int>& rows,
                              const std::vector<trash::TrashOutcome>& outcomes);

// One message naming the files that were not moved and why (at most `named` of them, then
// "and N more"), those a cancel left untried included, or "" when every file went.
std::string failureMessage(const std::vector<std::string>& paths,
                           const std::vector<trash::TrashOutcome>& outcomes, size_t named = 20);

// The files this program moved to the trash, per index snapshot, as bits to skip in a search.
class TrashedFiles {
  public:
    // `on` false: the file is back, and searches list it again.
    void mark(const IndexSnapshot& index, FileId file, bool on = true);
    // Marks files of `index` by their paths; for an index built before they were moved. Returns
    // the paths it holds no file for (every one when `index` is null).
    std::vector<std::string> markPaths(const IndexSnapshot& index,
                                       const std::vector<std::string>& paths, bool on = true);
    // The bits for `index`, or null when none of its files was moved.
    const std::vector<bool>* skipFor(const IndexSnapshot& index) const;

  private:
    struct Entry {
        std::weak_ptr<const FileIndex> index;
        std::vector<bool> bits;
    };
    std::vector<bool>& bitsFor(const IndexSnapshot& index);
    std::map<const FileIndex*, Entry> entries_;
};

}  // namespace chronosift

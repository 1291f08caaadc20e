// What a press of "Send Checked Items to Recycling Bin" decides around the trash itself: the
// question, which rows go afterwards, what to tell about the files that stayed, and which files
// no later search may list.
#pragma once

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "index/file_index.h"
#include "platform/trash.h"

namespace chronosift {

// The files as the trash takes them: each with the way back to its folder that the walk saw.
std::vector<platform::TrashItem> trashItems(const FileIndex& index,
                                            const std::vector<FileId>& files);

// "Move 3 checked files to the trash?"
std::string confirmationText(size_t count);

// Of the rows sent (ascending), those whose files are gone now: moved, or missing already.
std::vector<int> rowsToRemove(const std::vector<int>& rows,
                              const std::vector<platform::TrashOutcome>& outcomes);

// One message naming the files that were not moved and why (at most `named` of them, then
// "and N more"), or "" when every file that was tried went.
std::string failureMessage(const std::vector<std::string>& paths,
                           const std::vector<platform::TrashOutcome>& outcomes, size_t named = 20);

// The files this program moved to the trash, per index snapshot, as bits to skip in a search.
class TrashedFiles {
  public:
    void mark(const IndexSnapshot& index, FileId file);
    // Marks files of `index` by their paths; for an index built before they were moved.
    void markPaths(const IndexSnapshot& index, const std::vector<std::string>& paths);
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

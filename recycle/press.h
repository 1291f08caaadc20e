// One press of "Send Checked Items to Recycling Bin" and its undo: which files move, what became
// of each, which files no later search may list, which rows leave, what to tell the user, and
// what comes back when the press is undone. The page only asks and shows.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "index/file_index.h"
#include "recycle/recycling_bin.h"
#include "trash/trash.h"

namespace chronosift {

class TrashPress {
  public:
    // The checked rows of a results list (ascending) and the files of `searched` they show.
    // `search` names the search that listed them, so an undo knows whether they may come back.
    TrashPress(IndexSnapshot searched, uint64_t search, std::vector<int> rows,
               std::vector<FileId> files);
    // The last press as its journal kept it (lastPressPath()), to be undone after a restart:
    // null when there is none, or with `error` set when it cannot be read.
    static std::unique_ptr<TrashPress> fromJournal(std::string& error);

    size_t size() const { return items_.size(); }

    // Moves the files to the trash; runs off the user-interface thread.
    void run(const trash::TrashOptions& options);
    // After run: marks the files that went (moved, or missing already) in `trashed`, for the
    // searched snapshot and for `current` when it is a newer one, and returns the rows that
    // leave the list, ascending.
    std::vector<int> settle(TrashedFiles& trashed, const IndexSnapshot& current) const;
    // One message naming the files that stayed and why, or "" when every file tried went.
    std::string failures() const;
    // Whether anything moved, so there is something to undo.
    bool anyMoved() const;

    // Puts the moved files back; runs off the user-interface thread.
    void undo(const trash::TrashOptions& options);
    // After undo: unmarks the files that came back, and returns those that may come back as
    // rows: only while the list still shows the search they were trashed from (`search`,
    // `shown`); a list of another search may not match them.
    std::vector<FileId> settleUndo(TrashedFiles& trashed, const IndexSnapshot& current,
                                   uint64_t search, const IndexSnapshot& shown) const;
    // One message naming the files that stayed in the trash, or "" when none did.
    std::string undoFailures() const;
    // After undo: each file's path and what became of it, in press order.
    const std::vector<trash::TrashItem>& items() const { return items_; }
    const std::vector<trash::PutBackOutcome>& undone() const { return putBack_; }

    // Keeps the press in its journal, for an undo after the program closes; after an undo, only
    // the files that stayed in the trash and may still go back (none: the journal goes). "" or
    // why not.
    std::string keep() const;

  private:
    TrashPress() = default;
    std::vector<std::string> paths() const;

    IndexSnapshot searched_;
    uint64_t search_ = 0;
    std::vector<int> rows_;
    std::vector<FileId> files_;
    std::vector<trash::TrashItem> items_;
    std::vector<trash::TrashOutcome> outcomes_;
    std::vector<trash::PutBackOutcome> putBack_;
};

}  // namespace chronosift

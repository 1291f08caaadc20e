// One press of "Send Checked Items to Recycling Bin" and its undo: which files move, what became
// of each, which files no later search may list, which rows leave, what to tell the user, and
// what comes back when the press is undone. The page only asks and shows.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "index/file_index.h"
#include "recycle/press_journal.h"
#include "recycle/recycling_bin.h"
#include "trash/trash.h"

namespace chronosift {

class TrashPress {
  public:
    // The checked rows of a results list (ascending) and the files of `searched` they show.
    // `search` names the search that listed them, so an undo knows whether they may come back.
    TrashPress(IndexSnapshot searched, uint64_t search, std::vector<int> rows,
               std::vector<FileId> files);
    // The press an Undo takes: `own` (this window's last press) when it lives in this window
    // only, its journal not written; else the newest press kept on disk that still has a file to
    // put back, whichever window or program made it, locked against every other Undo until
    // keep(); null when there is none. `problems` gets one line for each journal that cannot be
    // used (see latestPressJournal). When the press on disk is own's, it takes own's rows and
    // search, so that they can come back.
    static std::unique_ptr<TrashPress> latest(std::vector<std::string>& problems,
                                              std::unique_ptr<TrashPress>& own);

    size_t size() const { return items_.size(); }

    // Moves the files to the trash; runs off the user-interface thread.
    void run(const trash::TrashOptions& options);
    // After run: marks the files that went (moved, or missing already) in `trashed`, for the
    // searched snapshot and for `current` when it is a newer one, and returns the rows that
    // leave the list, ascending.
    std::vector<int> settle(TrashedFiles& trashed, const IndexSnapshot& current) const;
    // After run: the rows that leave the list (those settle returns), without marking anything;
    // may run off the user-interface thread.
    std::vector<int> leavingRows() const;
    // One message naming the files that stayed and why, or "" when every file tried went.
    std::string failures() const;
    // Whether anything moved, so there is something to undo.
    bool anyMoved() const;

    // Puts back the moved files that are not back yet; runs off the user-interface thread. A
    // file already back in place, whoever put it back, counts as put back; one that was not
    // tried (Undo cancelled) stays undoable and is named.
    void undo(const trash::TrashOptions& options);
    // Learns, without moving anything, which moved files are back in place already.
    void findBack();
    // After undo: unmarks the files that came back, and returns those that may come back as
    // rows, each once (while `trashed` still hides it): only while the list still shows the
    // search they were trashed from (`search`, `shown`); a list of another search may not match
    // them. `unlisted`, when given, gets the files that came back below a row of `current` but
    // that it does not hold (they were in the trash when it was built): only a new build lists
    // them.
    std::vector<FileId> settleUndo(TrashedFiles& trashed, const IndexSnapshot& current,
                                   uint64_t search, const IndexSnapshot& shown,
                                   std::vector<std::string>* unlisted = nullptr) const;
    // One message naming the files that stayed in the trash, or "" when none did.
    std::string undoFailures() const;
    // After undo: each file's path and what became of it, in press order.
    const std::vector<trash::TrashItem>& items() const { return items_; }
    const std::vector<trash::PutBackOutcome>& undone() const { return putBack_; }

    // After run: keeps the press in a journal of its own, for an undo after the program closes.
    // After undo: records in it the files that are done (back, or gone from the trash for
    // good), so that it keeps only those that may still go back, and lets it go. "" or why not.
    std::string keep();
    // Whether its journal is still on disk, that is, a file of it may still go back; true while
    // it has none because it could not be written (it lives in this window only then).
    bool undoable() const;
    // Whether a file of it may still go back after its undo.
    bool anyLeft() const;

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
    std::vector<bool> done_;  // back or gone for good before this undo
    std::string journalPath_;
    std::unique_ptr<PressJournal> journal_;  // held from latest() until keep()
};

}  // namespace chronosift

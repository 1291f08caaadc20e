#include "recycle/press.h"

#include "recycle/press_journal.h"

namespace chronosift {

TrashPress::TrashPress(IndexSnapshot searched, uint64_t search, std::vector<int> rows,
                       std::vector<FileId> files)
    : searched_(std::move(searched)),
      search_(search),
      rows_(std::move(rows)),
      files_(std::move(files)),
      items_(trashItems(*searched_, files_)) {}

std::unique_ptr<TrashPress> TrashPress::fromJournal(std::string& error) {
    std::unique_ptr<TrashPress> press(new TrashPress);
    if (!readPressJournal(lastPressPath(), press->items_, press->outcomes_, error)) {
        return nullptr;
    }
    return press;
}

std::string TrashPress::keep() const {
    const std::string path = lastPressPath();
    if (path.empty()) {
        return "neither $XDG_STATE_HOME nor $HOME is set";
    }
    if (putBack_.empty()) {
        return writePressJournal(path, items_, outcomes_);
    }
    std::vector<trash::TrashOutcome> stayed = outcomes_;
    for (size_t i = 0; i < stayed.size() && i < putBack_.size(); ++i) {
        if (!putBack_[i].retry) {
            stayed[i].status = trash::TrashStatus::NotTried;  // back, or gone from the trash
        }
    }
    return writePressJournal(path, items_, stayed);
}

void TrashPress::run(const trash::TrashOptions& options) {
    trash::Trash trash;
    outcomes_ = trash.moveAll(items_, options);
}

std::vector<std::string> TrashPress::paths() const {
    std::vector<std::string> out;
    out.reserve(items_.size());
    for (const trash::TrashItem& item : items_) {
        out.push_back(item.path);
    }
    return out;
}

std::vector<int> TrashPress::settle(TrashedFiles& trashed, const IndexSnapshot& current) const {
    // No later search may list a file that went, moved or missing, in this snapshot or in a
    // newer one built before the move.
    std::vector<std::string> gone;
    for (size_t i = 0; i < outcomes_.size(); ++i) {
        if (outcomes_[i].status == trash::TrashStatus::Moved ||
            outcomes_[i].status == trash::TrashStatus::Missing) {
            trashed.mark(searched_, files_[i]);
            gone.push_back(items_[i].path);
        }
    }
    if (current != nullptr && current != searched_) {
        trashed.markPaths(current, gone);
    }
    return rowsToRemove(rows_, outcomes_);
}

std::string TrashPress::failures() const {
    return failureMessage(paths(), outcomes_);
}

bool TrashPress::anyMoved() const {
    for (const trash::TrashOutcome& o : outcomes_) {
        if (o.status == trash::TrashStatus::Moved) {
            return true;
        }
    }
    return false;
}

void TrashPress::undo(const trash::TrashOptions& options) {
    putBack_ = trash::putBack(items_, outcomes_, options);
}

std::vector<FileId> TrashPress::settleUndo(TrashedFiles& trashed, const IndexSnapshot& current,
                                           uint64_t search, const IndexSnapshot& shown) const {
    std::vector<FileId> back;
    std::vector<std::string> backPaths;
    for (size_t i = 0; i < putBack_.size(); ++i) {
        if (putBack_[i].putBack) {
            backPaths.push_back(items_[i].path);
            if (i < files_.size()) {  // a press read from its journal has no rows
                back.push_back(files_[i]);
                trashed.mark(searched_, files_[i], false);
            }
        }
    }
    if (current != nullptr && current != searched_) {
        trashed.markPaths(current, backPaths, false);
    }
    if (search != search_ || shown != searched_) {
        back.clear();
    }
    return back;
}

std::string TrashPress::undoFailures() const {
    return putBackMessage(paths(), putBack_);
}

}  // namespace chronosift

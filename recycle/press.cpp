#include "recycle/press.h"

#include <unistd.h>

#include <algorithm>

namespace chronosift {

TrashPress::TrashPress(IndexSnapshot searched, uint64_t search, std::vector<int> rows,
                       std::vector<FileId> files)
    : searched_(std::move(searched)),
      search_(search),
      rows_(std::move(rows)),
      files_(std::move(files)),
      items_(trashItems(*searched_, files_)) {}

std::unique_ptr<TrashPress> TrashPress::latest(std::vector<std::string>& problems,
                                               std::unique_ptr<TrashPress>& own) {
    if (own != nullptr && own->journalPath_.empty()) {
        return std::move(own);
    }
    std::unique_ptr<PressJournal> journal = latestPressJournal(problems);
    if (journal == nullptr) {
        return nullptr;
    }
    std::unique_ptr<TrashPress> press(new TrashPress);
    press->items_ = journal->items;
    press->outcomes_ = journal->outcomes;
    press->done_ = journal->done;
    press->journalPath_ = journal->path;
    if (own != nullptr && own->journalPath_ == journal->path) {
        press->searched_ = own->searched_;
        press->search_ = own->search_;
        for (const size_t place : journal->places) {
            if (place < own->files_.size()) {
                press->files_.push_back(own->files_[place]);
            }
        }
        if (press->files_.size() != press->items_.size()) {
            press->files_.clear();
        }
    }
    press->journal_ = std::move(journal);
    return press;
}

std::string TrashPress::keep() {
    if (putBack_.empty()) {
        return writePressJournal(items_, outcomes_, journalPath_);
    }
    std::vector<size_t> done;
    for (size_t i = 0; i < putBack_.size(); ++i) {
        if (putBack_[i].putBack || !putBack_[i].retry) {
            done.push_back(i);
        }
    }
    if (journal_ != nullptr) {
        const std::string why = journal_->markDone(done);
        journal_.reset();  // and with it the lock
        return why;
    }
    // A press of this window only: a journal now for the files that may still go back.
    std::vector<trash::TrashOutcome> stayed = outcomes_;
    for (const size_t i : done) {
        stayed[i].status = trash::TrashStatus::NotTried;
    }
    return writePressJournal(items_, stayed, journalPath_);
}

bool TrashPress::undoable() const {
    return journalPath_.empty() || ::access(journalPath_.c_str(), F_OK) == 0;
}

bool TrashPress::anyLeft() const {
    for (const trash::PutBackOutcome& o : putBack_) {
        if (!o.putBack && o.retry) {
            return true;
        }
    }
    return false;
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
    return leavingRows();
}

std::vector<int> TrashPress::leavingRows() const {
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
    // Back in place counts as back even when the journal says so already: another program's
    // put-back may still owe this window its rows (settleUndo returns each row once).
    const std::vector<bool> back = trash::backInPlace(items_, outcomes_);
    std::vector<trash::TrashOutcome> left = outcomes_;
    for (size_t i = 0; i < left.size(); ++i) {
        if (back[i] || (i < done_.size() && done_[i])) {
            left[i].status = trash::TrashStatus::NotTried;
        }
    }
    putBack_ = trash::putBack(items_, left, options);
    for (size_t i = 0; i < putBack_.size(); ++i) {
        trash::PutBackOutcome& o = putBack_[i];
        if (back[i]) {
            o.putBack = true;  // put back by someone else: back all the same
        } else if (left[i].status == trash::TrashStatus::Moved && !o.putBack && o.reason.empty()) {
            o.retry = true;
            o.reason = "not tried, as Undo was cancelled; Undo Move to Trash can still put it back";
        }
    }
}

void TrashPress::findBack() {
    const std::vector<bool> back = trash::backInPlace(items_, outcomes_);
    putBack_.assign(items_.size(), {});
    for (size_t i = 0; i < back.size(); ++i) {
        putBack_[i].putBack = back[i];
    }
}

std::vector<FileId> TrashPress::settleUndo(TrashedFiles& trashed, const IndexSnapshot& current,
                                           uint64_t search, const IndexSnapshot& shown,
                                           std::vector<std::string>* unlisted) const {
    std::vector<FileId> back;
    std::vector<std::string> backPaths;
    for (size_t i = 0; i < putBack_.size(); ++i) {
        if (putBack_[i].putBack) {
            backPaths.push_back(items_[i].path);
            // A press read from its journal has no rows; a row comes back once, while hidden.
            const std::vector<bool>* hidden = trashed.skipFor(searched_);
            if (i < files_.size() && hidden != nullptr && (*hidden)[files_[i]]) {
                back.push_back(files_[i]);
                trashed.mark(searched_, files_[i], false);
            }
        }
    }
    // Every snapshot this page may search again lists them: the current one, and the one shown
    // (a press from disk knows no snapshot of its own).
    for (const IndexSnapshot* index : {&current, &shown}) {
        if (*index == nullptr || *index == searched_) {
            continue;
        }
        const std::vector<std::string> unheld = trashed.markPaths(*index, backPaths, false);
        if (index != &current || unlisted == nullptr) {
            continue;
        }
        for (const std::string& p : unheld) {
            const auto below = [&p](const FileIndex::Row& row) { return p.starts_with(row.text); };
            if (std::any_of(current->rows().begin(), current->rows().end(), below)) {
                unlisted->push_back(p);
            }
        }
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

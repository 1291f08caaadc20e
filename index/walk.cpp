#include "index/walk.h"

#include <string>

namespace chronosift::walk {

Pool::Pool(unsigned threads, std::function<void(unsigned, Task)> run,
           const std::atomic<bool>* cancel)
    : run_(std::move(run)), cancel_(cancel) {
    for (unsigned i = 0; i < threads; ++i) {
        threads_.emplace_back([this, i] { loop(i); });
    }
}

Pool::~Pool() {
    {
        std::lock_guard lock(mutex_);
        stop_ = true;
    }
    workCv_.notify_all();
    for (auto& t : threads_) {
        t.join();
    }
}

void Pool::push(std::vector<Task>& tasks) {
    const size_t n = tasks.size();
    {
        std::lock_guard lock(mutex_);
        for (Task& t : tasks) {
            tasks_.push_back(std::move(t));
        }
    }
    tasks.clear();
    if (n > 1) {
        workCv_.notify_all();
    } else if (n == 1) {
        workCv_.notify_one();
    }
}

void Pool::wait(const std::function<void()>& tick) {
    std::unique_lock lock(mutex_);
    while (!tasks_.empty() || active_ > 0) {
        doneCv_.wait_for(lock, std::chrono::milliseconds(20));
        if (cancelled()) {
            tasks_.clear();
        }
        if (tick) {
            lock.unlock();
            tick();
            lock.lock();
        }
    }
    tasks_ = {};
}

void Pool::loop(unsigned worker) {
    while (true) {
        Task task;
        {
            std::unique_lock lock(mutex_);
            workCv_.wait(lock, [&] { return stop_ || !tasks_.empty(); });
            if (stop_) {
                return;
            }
            task = std::move(tasks_.back());
            tasks_.pop_back();
            ++active_;
        }
        if (!cancelled()) {
            run_(worker, std::move(task));
        }
        std::lock_guard lock(mutex_);
        if (--active_ == 0 && tasks_.empty()) {
            doneCv_.notify_all();
        }
    }
}

namespace {

// Opens a folder again from the row's folder, one checked name at a time: for subfolders whose
// parent could not be kept open.
platform::Folder reopen(const FileIndex::FolderTable& folders, FolderId id,
                        const platform::Folder& row, FolderId rowId,
                        const std::function<platform::Identity(FolderId)>& listed, int& error) {
    std::vector<FolderId> chain;
    for (FolderId f = id; f != rowId; f = folders[f].parent) {
        chain.push_back(f);
    }
    platform::Folder current;
    const platform::Folder* base = &row;
    for (size_t i = chain.size(); i-- > 0;) {
        const FileIndex::Folder& f = folders[chain[i]];
        const std::string name(f.folderName());
        platform::Folder next =
            platform::Folder::openChild(*base, name.c_str(), listed(chain[i]), error);
        if (!next.isOpen()) {
            return {};
        }
        current = std::move(next);
        base = &current;
    }
    return current;
}

}  // namespace

platform::Folder openFolder(const FileIndex::FolderTable& folders, const Task& task,
                            const OpenParent& rowRoot, FolderId rowRootId,
                            const std::function<platform::Identity(FolderId)>& listed, int& error) {
    error = 0;
    if (task.id == rowRootId) {
        return platform::Folder::openChild(rowRoot.folder, ".", listed(task.id), error);
    }
    if (task.parent != nullptr) {
        const std::string name(folders[task.id].folderName());
        return platform::Folder::openChild(task.parent->folder, name.c_str(), listed(task.id),
                                           error);
    }
    return reopen(folders, task.id, rowRoot.folder, rowRootId, listed, error);
}

}  // namespace chronosift::walk

#include "index/walk.h"

#include <algorithm>
#include <string>

namespace chronosift::walk {

Pool::Pool(unsigned maxThreads, std::function<void(unsigned, Task)> run,
           const std::atomic<bool>* cancel)
    : run_(std::move(run)), cancel_(cancel), max_(std::max(1u, maxThreads)) {}

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

void Pool::setThreads(unsigned n) {
    n = std::clamp(n, 1u, max_);
    while (threads_.size() < n) {
        const auto i = static_cast<unsigned>(threads_.size());
        threads_.emplace_back([this, i] { loop(i); });
    }
    const unsigned old = limit_.exchange(n);
    if (n > old) {
        // Taken under the lock, so that no worker checks its place and then misses the call.
        std::lock_guard lock(mutex_);
        workCv_.notify_all();
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
    // All wake, since a parked worker must not take the only call.
    if (n > 0) {
        workCv_.notify_all();
    }
}

void Pool::wait(const std::function<void(size_t)>& tick) {
    std::unique_lock lock(mutex_);
    while (!tasks_.empty() || active_ > 0) {
        doneCv_.wait_for(lock, std::chrono::milliseconds(20));
        if (cancelled()) {
            tasks_.clear();
        }
        if (tick) {
            const size_t waiting = tasks_.size();
            lock.unlock();
            tick(waiting);
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
            workCv_.wait(lock, [&] {
                return stop_ ||
                       (!tasks_.empty() && worker < limit_.load(std::memory_order_relaxed));
            });
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
        done_.fetch_add(1, std::memory_order_relaxed);
        std::lock_guard lock(mutex_);
        if (--active_ == 0 && tasks_.empty()) {
            doneCv_.notify_all();
        }
    }
}

ThreadTuner::ThreadTuner(platform::Storage storage, unsigned processors) {
    processors = std::clamp(processors, 1u, 256u);
    switch (storage) {
        case platform::Storage::Memory:
            current_ = cap_ = cold_ = processors;
            break;
        case platform::Storage::Local:
            current_ = processors;
            cap_ = std::clamp(4 * processors, 64u, 256u);
            cold_ = std::max(16u, processors);
            break;
        case platform::Storage::Network:
            current_ = cold_ = std::max(16u, processors);
            cap_ = std::clamp(8 * processors, 128u, 256u);
            break;
    }
}

unsigned ThreadTuner::observe(uint64_t done, uint64_t deviceBlocks,
                              std::chrono::steady_clock::time_point now, bool full) {
    // A few blocks may come from a device even on a warm walk (a folder not read for long);
    // a cold one reads far more than this between two calls.
    constexpr uint64_t kColdBlocks = 64;
    const bool cold = lastBlocks_ != UINT64_MAX && deviceBlocks >= lastBlocks_ + kColdBlocks;
    lastBlocks_ = deviceBlocks;
    if (cold && !seenCold_ && current_ < cold_) {
        seenCold_ = true;
        current_ = cold_;
        previous_ = 0;
        holding_ = false;
        windowStart_ = {};
        return current_;
    }
    if (holding_ || (current_ >= cap_ && previous_ == 0)) {
        return current_;
    }
    if (!full || windowStart_ == std::chrono::steady_clock::time_point{}) {
        windowStart_ = now;
        windowDone_ = done;
        return current_;
    }
    const std::chrono::duration<double> span = now - windowStart_;
    // A cold walk's pace comes in bursts (one read of the disk serves many folders).
    if (span < (seenCold_ ? std::chrono::milliseconds(1000) : std::chrono::milliseconds(100))) {
        return current_;
    }
    const double rate = static_cast<double>(done - windowDone_) / span.count();
    windowStart_ = now;
    windowDone_ = done;
    if (previous_ != 0 && rate <= previousRate_ * 1.1) {
        current_ = previous_;  // the last doubling did not pay
        holding_ = true;
    } else if (current_ >= cap_) {
        holding_ = true;
    } else {
        previous_ = current_;
        previousRate_ = rate;
        current_ = std::min(cap_, 2 * current_);
    }
    return current_;
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

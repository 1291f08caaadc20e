// The walk's machinery, apart from the index it fills: a pool of threads that takes folders last
// in, first out, and the checked opening of each folder from its open parent. It knows nothing of
// what is done with a folder once it is open; the index build hands it the work.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "index/file_index.h"
#include "platform/fs.h"

namespace chronosift::walk {

// An open folder whose subfolders wait to be opened below it. It stays open while any of them
// waits, so every folder is opened from its parent by one name, never by a path.
struct OpenParent {
    platform::Folder folder;
};

struct Task {
    FolderId id = kNoFolder;
    std::shared_ptr<OpenParent> parent;  // null: reopen from the row's folder, name by name
};

// Threads that run tasks, newest first, so the walk goes deep first and few parents stay open.
class Pool {
  public:
    // `run(worker, task)` is called on worker `worker` (0 .. threads − 1) for each task.
    Pool(unsigned threads, std::function<void(unsigned, Task)> run,
         const std::atomic<bool>* cancel);
    ~Pool();
    Pool(const Pool&) = delete;
    Pool& operator=(const Pool&) = delete;

    unsigned size() const { return static_cast<unsigned>(threads_.size()); }
    // Queues the tasks (the last one is taken first) and empties `tasks`.
    void push(std::vector<Task>& tasks);
    // Returns when no task waits or runs, calling `tick` about every 20 ms meanwhile; once the
    // cancel flag is set, waiting tasks are dropped.
    void wait(const std::function<void()>& tick);

  private:
    void loop(unsigned worker);
    bool cancelled() const {
        return cancel_ != nullptr && cancel_->load(std::memory_order_relaxed);
    }

    std::function<void(unsigned, Task)> run_;
    const std::atomic<bool>* cancel_;
    std::vector<std::thread> threads_;
    std::mutex mutex_;
    std::condition_variable workCv_;
    std::condition_variable doneCv_;
    std::vector<Task> tasks_;
    size_t active_ = 0;
    bool stop_ = false;
};

// Opens the folder of a task: the row's own folder again (a second handle, so the first stays
// for reopening), a subfolder from its waiting parent, or, without one, from the row's folder
// one checked name at a time. Every folder is checked against the identity it was listed with,
// which `listed` gives by folder id. `error` gets errno or kChanged.
platform::Folder openFolder(const FileIndex::FolderTable& folders, const Task& task,
                            const OpenParent& rowRoot, FolderId rowRootId,
                            const std::function<platform::Identity(FolderId)>& listed, int& error);

}  // namespace chronosift::walk

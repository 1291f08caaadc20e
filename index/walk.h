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
    // `run(worker, task)` is called on worker `worker` (0 .. maxThreads − 1) for each task.
    // Threads are started as setThreads asks for them, none at first.
    Pool(unsigned maxThreads, std::function<void(unsigned, Task)> run,
         const std::atomic<bool>* cancel);
    ~Pool();
    Pool(const Pool&) = delete;
    Pool& operator=(const Pool&) = delete;

    // From now on, workers 0 .. n − 1 take tasks (n in 1 .. maxThreads); the others finish the
    // task they hold and wait. Call from one thread only.
    void setThreads(unsigned n);
    unsigned threads() const { return limit_.load(std::memory_order_relaxed); }
    // Tasks finished since the pool was made.
    uint64_t done() const { return done_.load(std::memory_order_relaxed); }
    // Queues the tasks (the last one is taken first) and empties `tasks`.
    void push(std::vector<Task>& tasks);
    // Returns when no task waits or runs, calling `tick(waiting)` with the number of tasks
    // waiting about every 20 ms meanwhile; once the cancel flag is set, waiting tasks are
    // dropped.
    void wait(const std::function<void(size_t waiting)>& tick);

  private:
    void loop(unsigned worker);
    bool cancelled() const {
        return cancel_ != nullptr && cancel_->load(std::memory_order_relaxed);
    }

    std::function<void(unsigned, Task)> run_;
    const std::atomic<bool>* cancel_;
    unsigned max_;
    std::vector<std::thread> threads_;
    std::atomic<unsigned> limit_{0};
    std::atomic<uint64_t> done_{0};
    std::mutex mutex_;
    std::condition_variable workCv_;
    std::condition_variable doneCv_;
    std::vector<Task> tasks_;
    size_t active_ = 0;
    bool stop_ = false;
};

// How many threads read folders. A walk is held up either by the processors (a warm cache, a
// memory file system) or by requests waiting on a disk or a network; only the second gains
// from more threads than processors, and threads beyond what pays only take processor time
// from other work. So the walk starts from the processors (more on a network file system,
// where each request waits long). As soon as it sees the walk wait for a local device to read
// (a cold cache), it goes to the count a disk needs to keep its queue full (16, or the
// processors if more), since doubling from the processors costs the first seconds of a cold
// walk and its first windows are too noisy to judge (the reads are the whole process's, so
// other threads' reads from a disk count too). Then every 100 ms of full queues (1 s once the
// walk has waited on a device: a cold walk's pace comes in bursts) it compares the folders read
// per second with the last count's: while a doubling raises them by more than a tenth it
// doubles again, up to a cap; otherwise it goes back to the last count that paid and holds it
// for the rest of the row.
class ThreadTuner {
  public:
    // The start and the cap for a row on this kind of file system, on `processors` processors.
    ThreadTuner(platform::Storage storage, unsigned processors);
    // A fixed count, never changed.
    explicit ThreadTuner(unsigned fixed) : current_(fixed), cap_(fixed), cold_(fixed) {}

    unsigned threads() const { return current_; }
    // Called about every 20 ms with the folders read so far, the blocks read from a device so
    // far (platform::blocksReadFromDevice) and whether every thread had a task waiting (a window
    // with too little work to go round says nothing of the threads). Returns the count to use
    // from now.
    unsigned observe(uint64_t done, uint64_t deviceBlocks,
                     std::chrono::steady_clock::time_point now, bool full);

  private:
    unsigned current_;
    unsigned cap_;
    unsigned cold_;            // the count to go to once the walk waits on a device
    unsigned previous_ = 0;    // the count before the last doubling
    double previousRate_ = 0;  // folders a second at that count
    bool holding_ = false;
    bool seenCold_ = false;
    uint64_t lastBlocks_ = UINT64_MAX;
    std::chrono::steady_clock::time_point windowStart_{};
    uint64_t windowDone_ = 0;
};

// Opens the folder of a task: the row's own folder again (a second handle, so the first stays
// for reopening), a subfolder from its waiting parent, or, without one, from the row's folder
// one checked name at a time. Every folder is checked against the identity it was listed with,
// which `listed` gives by folder id. `error` gets errno or kChanged.
platform::Folder openFolder(const FileIndex::FolderTable& folders, const Task& task,
                            const OpenParent& rowRoot, FolderId rowRootId,
                            const std::function<platform::Identity(FolderId)>& listed, int& error);

}  // namespace chronosift::walk

#include "index/build.h"

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <thread>

#include "index/paths.h"
#include "platform/fs.h"

namespace chronosift {

namespace {

constexpr size_t kChunkSize = size_t{4} << 20;
constexpr int64_t kPending = kNoTime + 1;

// Hands out 8-aligned pieces of large chunks. The chunks go to the index, so nothing written
// here is ever copied again; untouched chunk tails cost address space, not memory.
class ChunkWriter {
  public:
    char* allocate(size_t bytes) {
        bytes = (bytes + 7) & ~size_t{7};
        if (used_ + bytes > capacity_) {
            capacity_ = std::max(kChunkSize, bytes);
            chunks.emplace_back(new char[capacity_]);
            current_ = chunks.back().get();
            used_ = 0;
        }
        char* p = current_ + used_;
        used_ += bytes;
        totalBytes += bytes;
        return p;
    }

    std::vector<std::unique_ptr<char[]>> chunks;
    size_t totalBytes = 0;

  private:
    char* current_ = nullptr;
    size_t used_ = 0;
    size_t capacity_ = 0;
};

// The outcome of reading one folder, kept until the level is merged in order.
struct Slot {
    const char* block = nullptr;
    uint32_t fileCount = 0;
    uint32_t worker = 0;
    uint32_t subBegin = 0;
    uint32_t subEnd = 0;
};

// A folder of the level above whose subfolders make up one piece of work. The parent is opened
// once and its subfolders are opened below it, so no path is walked more than once.
struct Item {
    FolderId parent = kNoFolder;  // kNoFolder: the one child is the row's own folder
    FolderId childBegin = 0;
    FolderId childEnd = 0;
};

struct Worker {
    ChunkWriter chunk;
    std::string names;  // each name followed by NUL, for fstatat
    std::vector<uint32_t> nameStarts;
    std::vector<int64_t> times;
    std::vector<std::string_view> subfolders;  // this level's, names in `chunk`
    std::vector<std::pair<FolderId, platform::FsError>> errors;
    std::string path;
};

}  // namespace

class IndexBuilder {
  public:
    explicit IndexBuilder(const BuildOptions& options) : options_(options) {
        unsigned n = options.threads != 0 ? options.threads : std::thread::hardware_concurrency();
        n = std::clamp(n, 1u, 64u);
        for (unsigned i = 0; i < n; ++i) {
            workers_.push_back(std::make_unique<Worker>());
        }
        for (unsigned i = 0; i < n; ++i) {
            threads_.emplace_back([this, i] { workerLoop(i); });
        }
    }

    ~IndexBuilder() {
        {
            std::lock_guard lock(mutex_);
            stop_ = true;
        }
        workCv_.notify_all();
        for (auto& t : threads_) {
            t.join();
        }
    }

    IndexSnapshot run(const std::vector<std::string>& rows) {
        index_ = std::make_shared<FileIndex>();
        lastReport_ = std::chrono::steady_clock::now();
        for (const std::string& row : rows) {
            if (cancelled()) {
                return nullptr;
            }
            buildRow(row);
        }
        if (cancelled()) {
            return nullptr;
        }
        finish();
        if (options_.progress) {
            options_.progress(index_->fileCount_);
        }
        return index_;
    }

  private:
    bool cancelled() const {
        return options_.cancel != nullptr && options_.cancel->load(std::memory_order_relaxed);
    }

    void buildRow(const std::string& row) {
        FileIndex::Row result;
        result.text = row;
        int error = 0;
        root_ = platform::Folder::openPath(row, error);
        if (!root_.isOpen()) {
            result.error = {row, error};
            index_->rows_.push_back(std::move(result));
            return;
        }
        const std::string_view own = rowFolderPath(row);
        char* name = workers_[0]->chunk.allocate(own.size());
        std::memcpy(name, own.data(), own.size());
        const auto rootId = static_cast<FolderId>(index_->folders_.size());
        FileIndex::Folder folder;
        folder.name = name;
        folder.nameLength = static_cast<uint32_t>(own.size());
        index_->folders_.push_back(folder);
        result.root = rootId;
        index_->rows_.push_back(std::move(result));

        items_.assign(1, Item{kNoFolder, rootId, rootId + 1});
        levelBegin_ = rootId;
        while (!items_.empty() && !cancelled()) {
            runLevel();
            mergeLevel();
        }
        root_ = platform::Folder();
    }

    // Reads every folder of the current level, spread over the workers, and reports progress
    // on this thread meanwhile.
    void runLevel() {
        slots_.assign(items_.back().childEnd - levelBegin_, Slot{});
        std::unique_lock lock(mutex_);
        nextItem_.store(0, std::memory_order_relaxed);
        busy_ = threads_.size();
        ++generation_;
        workCv_.notify_all();
        while (busy_ > 0) {
            doneCv_.wait_for(lock, std::chrono::milliseconds(20));
            if (options_.progress) {
                const auto now = std::chrono::steady_clock::now();
                if (now - lastReport_ >= options_.progressInterval) {
                    lastReport_ = now;
                    lock.unlock();
                    options_.progress(counted_.load(std::memory_order_relaxed));
                    lock.lock();
                }
            }
        }
    }

    // Puts the level's results in index order and lines up the next level.
    void mergeLevel() {
        std::vector<Item> next;
        auto& folders = index_->folders_;
        const FolderId end = levelBegin_ + static_cast<FolderId>(slots_.size());
        for (FolderId id = levelBegin_; id < end; ++id) {
            const Slot& slot = slots_[id - levelBegin_];
            uint32_t count = slot.fileCount;
            if (index_->fileCount_ + count >= kNoFolder) {
                // File numbers are 32 bits; past four billion files the index stops growing.
                overflowed_ = true;
                count = 0;
            }
            folders[id].block = slot.block;
            folders[id].fileCount = count;
            folders[id].firstFile = static_cast<FileId>(index_->fileCount_);
            index_->fileCount_ += count;
            if (slot.subEnd > slot.subBegin) {
                const auto& names = workers_[slot.worker]->subfolders;
                Item item{id, static_cast<FolderId>(folders.size()), 0};
                for (uint32_t s = slot.subBegin; s < slot.subEnd; ++s) {
                    FileIndex::Folder sub;
                    sub.name = names[s].data();
                    sub.nameLength = static_cast<uint32_t>(names[s].size());
                    sub.parent = id;
                    folders.push_back(sub);
                }
                item.childEnd = static_cast<FolderId>(folders.size());
                next.push_back(item);
            }
        }
        for (auto& w : workers_) {
            w->subfolders.clear();
        }
        levelBegin_ = end;
        items_ = std::move(next);
    }

    void finish() {
        std::vector<std::pair<FolderId, platform::FsError>> errors;
        for (auto& w : workers_) {
            for (auto& e : w->errors) {
                errors.push_back(std::move(e));
            }
            index_->chunkBytes_ += w->chunk.totalBytes;
            for (auto& c : w->chunk.chunks) {
                index_->chunks_.push_back(std::move(c));
            }
        }
        std::stable_sort(errors.begin(), errors.end(),
                         [](const auto& a, const auto& b) { return a.first < b.first; });
        for (auto& e : errors) {
            index_->errors_.push_back(std::move(e.second));
        }
        if (overflowed_) {
            index_->errors_.push_back({index_->rows_.back().text, EOVERFLOW});
        }
    }

    void workerLoop(unsigned w) {
        uint64_t seen = 0;
        while (true) {
            {
                std::unique_lock lock(mutex_);
                workCv_.wait(lock, [&] { return stop_ || generation_ != seen; });
                if (stop_) {
                    return;
                }
                seen = generation_;
            }
            while (!cancelled()) {
                const size_t i = nextItem_.fetch_add(1, std::memory_order_relaxed);
                if (i >= items_.size()) {
                    break;
                }
                processItem(w, items_[i]);
            }
            std::lock_guard lock(mutex_);
            if (--busy_ == 0) {
                doneCv_.notify_one();
            }
        }
    }

    void recordError(Worker& worker, FolderId id, int code) {
        std::string path;
        index_->appendFolderPath(id, path);
        if (path.empty()) {
            path.assign(1, '/');
        }
        worker.errors.emplace_back(id, platform::FsError{std::move(path), code});
    }

    // The path of a folder below the row's folder, relative to it.
    void relativePath(FolderId id, std::string& out) const {
        out.clear();
        const auto& folders = index_->folders_;
        thread_local std::vector<FolderId> chain;
        chain.clear();
        for (FolderId f = id; folders[f].parent != kNoFolder; f = folders[f].parent) {
            chain.push_back(f);
        }
        for (size_t i = chain.size(); i-- > 0;) {
            out.append(folders[chain[i]].folderName());
            if (i != 0) {
                out.push_back('/');
            }
        }
    }

    void processItem(unsigned w, const Item& item) {
        Worker& worker = *workers_[w];
        if (item.parent == kNoFolder) {
            scanFolder(worker, w, root_, item.childBegin);
            return;
        }
        platform::Folder opened;
        const platform::Folder* parent = &root_;
        int error = 0;
        if (index_->folders_[item.parent].parent != kNoFolder) {
            relativePath(item.parent, worker.path);
            opened = platform::Folder::openBelow(root_, worker.path, error);
            if (!opened.isOpen()) {
                recordError(worker, item.parent, error);
                return;
            }
            parent = &opened;
        }
        const uint64_t parentDevice = parent->device(error);
        for (FolderId child = item.childBegin; child < item.childEnd && !cancelled(); ++child) {
            platform::Folder dir =
                platform::Folder::openBelow(*parent, index_->folders_[child].folderName(), error);
            if (!dir.isOpen()) {
                recordError(worker, child, error);
                continue;
            }
            if (dir.device(error) != parentDevice && dir.onPseudoFileSystem()) {
                continue;
            }
            scanFolder(worker, w, dir, child);
        }
    }

    void scanFolder(Worker& worker, unsigned w, platform::Folder& dir, FolderId id) {
        Slot& slot = slots_[id - levelBegin_];
        slot.worker = w;
        slot.subBegin = static_cast<uint32_t>(worker.subfolders.size());
        worker.names.clear();
        worker.nameStarts.clear();
        worker.times.clear();

        std::string_view name;
        platform::EntryKind kind;
        int error = 0;
        while (dir.next(name, kind, error)) {
            if (cancelled()) {
                return;
            }
            int64_t time = kPending;
            if (kind == platform::EntryKind::Unknown) {
                const platform::EntryStat st = dir.stat(name.data());
                kind = st.isFolder ? platform::EntryKind::Folder : platform::EntryKind::NotFolder;
                time = st.error != 0 ? kNoTime : st.mtimeSeconds;
            }
            if (kind == platform::EntryKind::Folder) {
                if (name[0] != '.') {
                    char* copy = worker.chunk.allocate(name.size());
                    std::memcpy(copy, name.data(), name.size());
                    worker.subfolders.emplace_back(copy, name.size());
                }
                continue;
            }
            if (name[0] == '~') {
                continue;
            }
            worker.nameStarts.push_back(static_cast<uint32_t>(worker.names.size()));
            worker.names.append(name);
            worker.names.push_back('\0');
            worker.times.push_back(time);
        }
        if (error != 0) {
            recordError(worker, id, error);
        }
        slot.subEnd = static_cast<uint32_t>(worker.subfolders.size());

        if (options_.afterListing) {
            std::string path;
            index_->appendFolderPath(id, path);
            options_.afterListing(path);
        }

        const auto n = static_cast<uint32_t>(worker.times.size());
        int statError = 0;
        for (uint32_t i = 0; i < n; ++i) {
            if (cancelled()) {
                return;
            }
            if (worker.times[i] != kPending) {
                continue;
            }
            const platform::EntryStat st = dir.stat(worker.names.data() + worker.nameStarts[i]);
            worker.times[i] = st.error != 0 ? kNoTime : st.mtimeSeconds;
            if (st.error != 0 && st.error != ENOENT && statError == 0) {
                statError = st.error;
            }
        }
        if (statError != 0) {
            recordError(worker, id, statError);
        }
        if (n > 0) {
            writeBlock(worker, slot, n);
        }
        counted_.fetch_add(n, std::memory_order_relaxed);
    }

    static void writeBlock(Worker& worker, Slot& slot, uint32_t n) {
        const size_t nameBytes = worker.names.size() - n;  // without the NULs
        char* block =
            worker.chunk.allocate(sizeof(int64_t) * n + sizeof(uint32_t) * (n + 1) + nameBytes);
        std::memcpy(block, worker.times.data(), sizeof(int64_t) * n);
        auto* offsets = reinterpret_cast<uint32_t*>(block + sizeof(int64_t) * n);
        char* names = block + sizeof(int64_t) * n + sizeof(uint32_t) * (n + 1);
        uint32_t at = 0;
        for (uint32_t i = 0; i < n; ++i) {
            const char* src = worker.names.data() + worker.nameStarts[i];
            const auto length =
                static_cast<uint32_t>((i + 1 < n ? worker.nameStarts[i + 1] : worker.names.size()) -
                                      worker.nameStarts[i] - 1);
            offsets[i] = at;
            std::memcpy(names + at, src, length);
            at += length;
        }
        offsets[n] = at;
        slot.block = block;
        slot.fileCount = n;
    }

    const BuildOptions& options_;
    std::shared_ptr<FileIndex> index_;
    std::vector<std::unique_ptr<Worker>> workers_;
    std::vector<std::thread> threads_;

    platform::Folder root_;
    std::vector<Item> items_;
    std::vector<Slot> slots_;
    FolderId levelBegin_ = 0;
    bool overflowed_ = false;

    std::mutex mutex_;
    std::condition_variable workCv_;
    std::condition_variable doneCv_;
    uint64_t generation_ = 0;
    size_t busy_ = 0;
    bool stop_ = false;
    std::atomic<size_t> nextItem_{0};
    std::atomic<uint64_t> counted_{0};
    std::chrono::steady_clock::time_point lastReport_;
};

IndexSnapshot buildIndex(const std::vector<std::string>& rows, const BuildOptions& options) {
    IndexBuilder builder(options);
    return builder.run(rows);
}

}  // namespace chronosift

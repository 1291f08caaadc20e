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

// An open folder whose subfolders wait to be opened below it. It stays open while any of them
// waits, so every folder is opened from its parent by one name, never by a path.
struct OpenParent {
    platform::Folder folder;
    uint64_t device = 0;
};

struct Task {
    FolderId id = kNoFolder;
    std::shared_ptr<OpenParent> parent;  // null: reopen from the row's folder, name by name
};

struct Child {
    std::string_view name;  // in the worker's chunk
    uint64_t inode = 0;     // as listed
};

struct Worker {
    ChunkWriter chunk;
    std::string names;  // each name followed by NUL, for fstatat
    std::vector<uint32_t> nameStarts;
    std::vector<int64_t> times;
    std::vector<uint64_t> sizes;
    std::vector<Child> children;
    std::vector<Task> tasks;
    std::vector<std::pair<FolderId, platform::FsError>> errors;

    // Scratch is given back after each row, so it never adds to the index's own memory.
    void releaseScratch() {
        names = {};
        nameStarts = {};
        times = {};
        sizes = {};
        children = {};
        tasks = {};
    }
};

}  // namespace

class IndexBuilder {
  public:
    explicit IndexBuilder(const BuildOptions& options) : options_(options) {
        unsigned n = options.threads != 0 ? options.threads : kDefaultThreads;
        n = std::clamp(n, 1u, 256u);
        // Folders waiting for their subfolders hold descriptors; past this many, subfolders are
        // reopened from the row instead.
        openBudget_ = std::max<size_t>(64, platform::raiseOpenFileLimit() / 2);
        for (unsigned i = 0; i < n; ++i) {
            workers_.push_back(std::make_unique<Worker>());
        }
        for (unsigned i = 0; i < n; ++i) {
            threads_.emplace_back([this, i] { workerLoop(*workers_[i]); });
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
        index_->devices_.reserve(UINT16_MAX);
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
    static constexpr unsigned kDefaultThreads = 16;

    bool cancelled() const {
        return options_.cancel != nullptr && options_.cancel->load(std::memory_order_relaxed);
    }

    void buildRow(const std::string& row) {
        FileIndex::Row result;
        result.text = row;
        int error = 0;
        auto root = std::make_shared<OpenParent>();
        root->folder = platform::Folder::openPath(row, error);
        const platform::Identity id =
            root->folder.isOpen() ? root->folder.identity(error) : platform::Identity{};
        const std::string_view own = rowFolderPath(row);
        FolderId rootId = kNoFolder;
        if (error == 0 && own.size() > FileIndex::Folder::kMaxNameLength) {
            error = ENAMETOOLONG;
        }
        if (error == 0 && !index_->folders_.append(1, rootId)) {
            error = EOVERFLOW;
        }
        if (error != 0) {
            result.error = {row, error};
            index_->rows_.push_back(std::move(result));
            return;
        }
        // The row is resolved once, here; later steps never read its text again.
        result.realPath = root->folder.realPath();
        if (result.realPath == "/") {
            result.realPath.clear();
        } else if (result.realPath.empty()) {
            result.realPath = own;
        }
        root->device = id.device;
        char* name = workers_[0]->chunk.allocate(own.size());
        std::memcpy(name, own.data(), own.size());
        FileIndex::Folder& folder = index_->folders_[rootId];
        folder = {name,
                  nullptr,
                  id.inode,
                  kNoFolder,
                  0,
                  0,
                  0,
                  0,
                  static_cast<uint16_t>(own.size()),
                  deviceIndex(id.device)};
        result.root = rootId;
        index_->rows_.push_back(std::move(result));

        rowRoot_ = root;
        rowRootId_ = rootId;
        {
            std::lock_guard lock(mutex_);
            tasks_.push_back({rootId, nullptr});
        }
        workCv_.notify_all();
        waitForRow();
        rowRoot_.reset();
        for (auto& w : workers_) {
            w->releaseScratch();
        }
        tasks_ = {};
        placeInIndexOrder(rootId);
    }

    // Waits until every folder of the row is read, reporting progress meanwhile.
    void waitForRow() {
        std::unique_lock lock(mutex_);
        while (!tasks_.empty() || active_ > 0) {
            doneCv_.wait_for(lock, std::chrono::milliseconds(20));
            if (cancelled()) {
                tasks_.clear();
            }
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

    void workerLoop(Worker& worker) {
        while (true) {
            Task task;
            {
                std::unique_lock lock(mutex_);
                workCv_.wait(lock, [&] { return stop_ || !tasks_.empty(); });
                if (stop_) {
                    return;
                }
                // Last in, first out: the walk goes deep first, so few parents stay open.
                task = std::move(tasks_.back());
                tasks_.pop_back();
                ++active_;
            }
            if (!cancelled()) {
                processTask(worker, std::move(task));
            }
            worker.tasks.clear();
            std::lock_guard lock(mutex_);
            if (--active_ == 0 && tasks_.empty()) {
                doneCv_.notify_all();
            }
        }
    }

    uint16_t deviceIndex(uint64_t device) {
        auto& devices = index_->devices_;
        const auto it = std::find(devices.begin(), devices.end(), device);
        if (it != devices.end()) {
            return static_cast<uint16_t>(it - devices.begin());
        }
        // More devices than that below one set of rows are not met in practice; the last slot
        // then stands for the rest, which only makes a later trash check stricter.
        if (devices.size() < UINT16_MAX) {
            devices.push_back(device);
        }
        return static_cast<uint16_t>(devices.size() - 1);
    }

    void recordError(Worker& worker, FolderId id, int code) {
        std::string path;
        index_->appendFolderPath(id, path);
        if (path.empty()) {
            path.assign(1, '/');
        }
        worker.errors.emplace_back(id, platform::FsError{std::move(path), code});
    }

    // Opens a folder again from the row's folder, one checked name at a time: for subfolders
    // whose parent could not be kept open.
    platform::Folder reopen(FolderId id, int& error) {
        std::vector<FolderId> chain;
        for (FolderId f = id; f != rowRootId_; f = index_->folders_[f].parent) {
            chain.push_back(f);
        }
        platform::Folder current;
        const platform::Folder* base = &rowRoot_->folder;
        for (size_t i = chain.size(); i-- > 0;) {
            const FileIndex::Folder& f = index_->folders_[chain[i]];
            const std::string name(f.folderName());
            platform::Folder next =
                platform::Folder::openChild(*base, name.c_str(), f.inode, error);
            if (!next.isOpen()) {
                return {};
            }
            current = std::move(next);
            base = &current;
        }
        return current;
    }

    void processTask(Worker& worker, Task task) {
        FileIndex::Folder& node = index_->folders_[task.id];
        platform::Folder dir;
        uint64_t parentDevice = 0;
        int error = 0;
        if (task.id == rowRootId_) {
            // The row's own folder stays open for reopening; the walk reads a second handle.
            dir = platform::Folder::openChild(rowRoot_->folder, ".", node.inode, error);
            parentDevice = rowRoot_->device;
        } else if (task.parent != nullptr) {
            const std::string name(node.folderName());
            dir = platform::Folder::openChild(task.parent->folder, name.c_str(), node.inode, error);
            parentDevice = task.parent->device;
        } else {
            dir = reopen(task.id, error);
            std::lock_guard lock(mutex_);
            parentDevice = index_->devices_[index_->folders_[node.parent].device];
        }
        task.parent.reset();
        if (!dir.isOpen()) {
            recordError(worker, task.id, error);
            return;
        }
        const platform::Identity id = dir.identity(error);
        if (error != 0) {
            recordError(worker, task.id, error);
            return;
        }
        if (id.device != parentDevice) {
            if (dir.onPseudoFileSystem()) {
                return;
            }
            std::lock_guard lock(mutex_);
            node.device = deviceIndex(id.device);
        }
        node.inode = id.inode;
        scanFolder(worker, dir, task.id);
        if (worker.children.empty() || cancelled()) {
            return;
        }
        addChildren(worker, std::move(dir), id.device, task.id);
    }

    void scanFolder(Worker& worker, platform::Folder& dir, FolderId id) {
        worker.names.clear();
        worker.nameStarts.clear();
        worker.times.clear();
        worker.sizes.clear();
        worker.children.clear();

        std::string_view name;
        platform::EntryKind kind;
        uint64_t inode = 0;
        int error = 0;
        while (dir.next(name, kind, inode, error)) {
            if (cancelled()) {
                return;
            }
            int64_t time = kPending;
            uint64_t size = 0;
            if (kind == platform::EntryKind::Unknown) {
                const platform::EntryStat st = dir.stat(name.data());
                kind = st.isFolder ? platform::EntryKind::Folder : platform::EntryKind::NotFolder;
                time = st.error != 0 ? kNoTime : st.mtimeSeconds;
                size = st.size;
            }
            if (kind == platform::EntryKind::Folder) {
                if (name[0] != '.') {
                    char* copy = worker.chunk.allocate(name.size());
                    std::memcpy(copy, name.data(), name.size());
                    worker.children.push_back({{copy, name.size()}, inode});
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
            worker.sizes.push_back(size);
        }
        if (error != 0) {
            recordError(worker, id, error);
        }

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
            worker.sizes[i] = st.error != 0 ? 0 : st.size;
            if (st.error != 0 && st.error != ENOENT && statError == 0) {
                statError = st.error;
            }
        }
        if (statError != 0) {
            recordError(worker, id, statError);
        }
        FileIndex::Folder& node = index_->folders_[id];
        node.fileCount = n;
        if (n > 0) {
            writeBlock(worker, n, node);
        }
        counted_.fetch_add(n, std::memory_order_relaxed);
    }

    // Gives the folder's subfolders their numbers and queues them, in listing order.
    void addChildren(Worker& worker, platform::Folder dir, uint64_t device, FolderId id) {
        const auto count = static_cast<uint32_t>(worker.children.size());
        FolderId first = 0;
        uint16_t deviceSlot = 0;
        {
            std::lock_guard lock(mutex_);
            if (!index_->folders_.append(count, first)) {
                overflowed_ = true;
                return;
            }
            deviceSlot = deviceIndex(device);
        }
        for (uint32_t i = 0; i < count; ++i) {
            const Child& c = worker.children[i];
            index_->folders_[first + i] = {c.name.data(),
                                           nullptr,
                                           c.inode,
                                           id,
                                           0,
                                           0,
                                           0,
                                           0,
                                           static_cast<uint16_t>(c.name.size()),
                                           deviceSlot};
        }
        FileIndex::Folder& node = index_->folders_[id];
        node.childBegin = first;
        node.childCount = count;

        std::shared_ptr<OpenParent> parent;
        if (openParents_.load(std::memory_order_relaxed) < openBudget_) {
            parent = std::shared_ptr<OpenParent>(new OpenParent{std::move(dir), device},
                                                 [this](OpenParent* p) {
                                                     openParents_.fetch_sub(1);
                                                     delete p;
                                                 });
            openParents_.fetch_add(1);
        }
        // Queued last first, so that the first subfolder is taken first.
        for (uint32_t i = count; i-- > 0;) {
            worker.tasks.push_back({first + i, parent});
        }
        {
            std::lock_guard lock(mutex_);
            for (Task& t : worker.tasks) {
                tasks_.push_back(std::move(t));
            }
        }
        worker.tasks.clear();
        if (count > 1) {
            workCv_.notify_all();
        } else {
            workCv_.notify_one();
        }
    }

    static void writeBlock(Worker& worker, uint32_t n, FileIndex::Folder& node) {
        const size_t nameBytes = worker.names.size() - n;  // without the NULs
        const bool narrow = nameBytes <= UINT16_MAX;
        const size_t width = narrow ? sizeof(uint16_t) : sizeof(uint32_t);
        char* block = worker.chunk.allocate(16 * size_t{n} + width * (n + 1) + nameBytes);
        std::memcpy(block, worker.times.data(), sizeof(int64_t) * n);
        std::memcpy(block + sizeof(int64_t) * n, worker.sizes.data(), sizeof(uint64_t) * n);
        char* offsets = block + 16 * size_t{n};
        char* names = offsets + width * (n + 1);
        const auto setOffset = [&](uint32_t i, uint32_t value) {
            if (narrow) {
                reinterpret_cast<uint16_t*>(offsets)[i] = static_cast<uint16_t>(value);
            } else {
                reinterpret_cast<uint32_t*>(offsets)[i] = value;
            }
        };
        uint32_t at = 0;
        for (uint32_t i = 0; i < n; ++i) {
            const char* src = worker.names.data() + worker.nameStarts[i];
            const auto length =
                static_cast<uint32_t>((i + 1 < n ? worker.nameStarts[i + 1] : worker.names.size()) -
                                      worker.nameStarts[i] - 1);
            setOffset(i, at);
            std::memcpy(names + at, src, length);
            at += length;
        }
        setOffset(n, at);
        node.block = block;
        if (narrow) {
            node.nameLength |= FileIndex::Folder::kShortOffsets;
        }
    }

    // The walk numbered the row's folders in the order it met them; the index numbers them
    // breadth first (the row's folder, then level by level, each parent's subfolders in listing
    // order), and gives out the file numbers in that order.
    void placeInIndexOrder(FolderId rootId) {
        auto& folders = index_->folders_;
        const auto end = static_cast<FolderId>(folders.size());
        const FolderId count = end - rootId;
        // order[k]: the folder that goes to place rootId + k.
        std::vector<FolderId> order;
        order.reserve(count);
        order.push_back(rootId);
        for (size_t k = 0; k < order.size(); ++k) {
            const FileIndex::Folder& f = folders[order[k]];
            for (FolderId c = 0; c < f.childCount; ++c) {
                order.push_back(f.childBegin + c);
            }
        }
        // Every folder of the row hangs below its parent's children, so `order` holds them all.
        std::vector<FolderId> place(count);
        for (FolderId k = 0; k < count; ++k) {
            place[order[k] - rootId] = rootId + k;
        }
        order = {};
        for (FolderId k = 0; k < count; ++k) {
            FileIndex::Folder& f = folders[rootId + k];
            if (f.parent != kNoFolder) {
                f.parent = place[f.parent - rootId];
            }
            if (f.childCount > 0) {
                f.childBegin = place[f.childBegin - rootId];
            }
        }
        for (auto& w : workers_) {
            for (auto& e : w->errors) {
                if (e.first >= rootId && e.first < end) {
                    e.first = place[e.first - rootId];
                }
            }
        }
        // Move every folder to its place, one cycle of the permutation at a time.
        for (FolderId k = 0; k < count; ++k) {
            if (place[k] == kNoFolder || place[k] == rootId + k) {
                continue;
            }
            FileIndex::Folder moving = folders[rootId + k];
            for (FolderId at = k;;) {
                const FolderId to = place[at] - rootId;
                place[at] = kNoFolder;
                if (to == k) {
                    folders[rootId + k] = moving;
                    break;
                }
                std::swap(moving, folders[rootId + to]);
                at = to;
            }
        }
        for (FolderId id = rootId; id < end; ++id) {
            FileIndex::Folder& f = folders[id];
            uint32_t n = f.fileCount;
            if (index_->fileCount_ + n >= kNoFolder) {
                // File numbers are 32 bits; past four billion files the index stops growing.
                overflowed_ = true;
                n = 0;
            }
            f.fileCount = n;
            f.firstFile = static_cast<FileId>(index_->fileCount_);
            index_->fileCount_ += n;
        }
        index_->rows_.back().root = rootId;
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

    const BuildOptions& options_;
    std::shared_ptr<FileIndex> index_;
    std::vector<std::unique_ptr<Worker>> workers_;
    std::vector<std::thread> threads_;

    std::shared_ptr<OpenParent> rowRoot_;
    FolderId rowRootId_ = kNoFolder;
    bool overflowed_ = false;
    size_t openBudget_ = 64;
    std::atomic<size_t> openParents_{0};

    std::mutex mutex_;
    std::condition_variable workCv_;
    std::condition_variable doneCv_;
    std::vector<Task> tasks_;
    size_t active_ = 0;
    bool stop_ = false;
    std::atomic<uint64_t> counted_{0};
    std::chrono::steady_clock::time_point lastReport_;
};

IndexSnapshot buildIndex(const std::vector<std::string>& rows, const BuildOptions& options) {
    IndexBuilder builder(options);
    return builder.run(rows);
}

}  // namespace chronosift

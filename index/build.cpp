#include "index/build.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <mutex>

#include "index/layout.h"
#include "index/paths.h"
#include "index/walk.h"
#include "platform/fs.h"
#include "platform/trash_folders.h"

namespace chronosift {

namespace {

constexpr int64_t kPending = kNoTime + 1;

struct Child {
    std::string_view name;  // in the worker's chunk
    platform::Identity id;  // as the entry's own stat gave it when listed
};

struct Worker {
    ChunkWriter chunk;
    FolderFiles files;
    std::vector<Child> children;
    std::vector<walk::Task> tasks;
    std::vector<std::pair<FolderId, platform::FsError>> errors;

    // Scratch is given back after each row, so it never adds to the index's own memory.
    void releaseScratch() {
        files = {};
        children = {};
        tasks = {};
    }
};

}  // namespace

class IndexBuilder {
  public:
    explicit IndexBuilder(const BuildOptions& options)
        : options_(options),
          // Folders waiting for their subfolders hold descriptors; past this many, subfolders
          // are reopened from the row instead.
          openBudget_(std::max<size_t>(64, platform::raiseOpenFileLimit() / 2)) {
        const unsigned n =
            options.threads != 0 ? std::clamp(options.threads, 1u, kMaxThreads) : kMaxThreads;
        // Workers hold nothing until their thread first reads a folder.
        for (unsigned i = 0; i < n; ++i) {
            workers_.push_back(std::make_unique<Worker>());
        }
        pool_ = std::make_unique<walk::Pool>(
            n, [this](unsigned i, walk::Task task) { processTask(*workers_[i], std::move(task)); },
            options.cancel);
    }

    IndexSnapshot run(const std::vector<std::string>& rows) {
        index_ = std::make_shared<FileIndex>();
        homeTrash_ = platform::homeTrashIdentity();
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
    static constexpr unsigned kMaxThreads = 256;

    bool cancelled() const {
        return options_.cancel != nullptr && options_.cancel->load(std::memory_order_relaxed);
    }

    void buildRow(const std::string& row) {
        FileIndex::Row result;
        result.text = row;
        int error = 0;
        auto root = std::make_shared<walk::OpenParent>();
        root->folder = platform::Folder::openPath(row, error);
        const platform::Identity id =
            root->folder.isOpen() ? root->folder.identity(error) : platform::Identity{};
        const std::string_view own = rowFolderPath(row);
        FolderId rootId = kNoFolder;
        if (error == 0 && own.size() > FileIndex::Folder::kMaxNameLength) {
            error = ENAMETOOLONG;
        }
        // The row is resolved once, here; later steps never read its text again.
        result.realPath = error == 0 ? root->folder.realPath() : std::string();
        if (error == 0 && !platform::trashFolderAround(result.realPath).empty()) {
            error = platform::kInTrash;
        }
        if (error == 0 && !index_->folders_.append(1, rootId)) {
            error = EOVERFLOW;
        }
        if (error != 0) {
            result.error = {row, error};
            index_->rows_.push_back(std::move(result));
            return;
        }
        if (result.realPath == "/") {
            result.realPath.clear();
        } else if (result.realPath.empty()) {
            result.realPath = own;
        }
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
        walk::ThreadTuner tuner =
            options_.threads != 0
                ? walk::ThreadTuner(std::clamp(options_.threads, 1u, kMaxThreads))
                : walk::ThreadTuner(root->folder.storage(), platform::usableProcessors());
        pool_->setThreads(tuner.threads());
        std::vector<walk::Task> first{{rootId, nullptr}};
        pool_->push(first);
        pool_->wait([&](size_t waiting) {
            pool_->setThreads(tuner.observe(pool_->done(), platform::blocksReadFromDevice(),
                                            std::chrono::steady_clock::now(),
                                            waiting >= pool_->threads()));
            reportProgress();
        });
        rowRoot_.reset();
        for (auto& w : workers_) {
            w->releaseScratch();
        }
        if (cancelled()) {
            return;  // no index comes of it, so its order does not matter
        }
        placeInIndexOrder(rootId);
    }

    void reportProgress() {
        if (!options_.progress) {
            return;
        }
        const auto now = std::chrono::steady_clock::now();
        if (now - lastReport_ >= options_.progressInterval) {
            lastReport_ = now;
            options_.progress(counted_.load(std::memory_order_relaxed));
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

    // The device and inode a folder was listed with, which its opening is checked against.
    platform::Identity listedIdentity(FolderId id) {
        const FileIndex::Folder& f = index_->folders_[id];
        std::lock_guard lock(mutex_);
        return {index_->devices_[f.device], f.inode};
    }

    void processTask(Worker& worker, walk::Task task) {
        const FileIndex::Folder& node = index_->folders_[task.id];
        int error = 0;
        const auto listed = [this](FolderId f) { return listedIdentity(f); };
        platform::Folder dir =
            walk::openFolder(index_->folders_, task, *rowRoot_, rowRootId_, listed, error);
        task.parent.reset();
        if (!dir.isOpen()) {
            recordError(worker, task.id, error);
            return;
        }
        // The opened folder was checked to be this one.
        const platform::Identity id = listedIdentity(task.id);
        if (id == homeTrash_) {
            return;  // the trash's own files and records are never listed
        }
        if (node.parent != kNoFolder && id.device != listedIdentity(node.parent).device &&
            dir.onPseudoFileSystem()) {
            return;
        }
        scanFolder(worker, dir, task.id);
        if (worker.children.empty() || cancelled()) {
            return;
        }
        addChildren(worker, std::move(dir), id.device, task.id);
    }

    void scanFolder(Worker& worker, platform::Folder& dir, FolderId id) {
        worker.files.clear();
        worker.children.clear();

        std::string_view name;
        platform::EntryKind kind;
        int error = 0;
        while (dir.next(name, kind, error)) {
            if (cancelled()) {
                return;
            }
            int64_t time = kPending;
            uint64_t size = 0;
            uint64_t fingerprint = 0;
            platform::EntryStat st;
            if (kind == platform::EntryKind::Unknown) {
                st = dir.stat(name.data());
                kind = st.isFolder ? platform::EntryKind::Folder : platform::EntryKind::NotFolder;
                time = st.error != 0 ? kNoTime : st.mtimeSeconds;
                size = st.size;
                fingerprint = st.fingerprint;
            }
            if (kind == platform::EntryKind::Folder) {
                if (name[0] != '.') {
                    // The folder's identity is the entry's own (one stat a folder, none more a
                    // file); one that vanished keeps none and is reported when opened.
                    if (st.id.inode == 0) {
                        st = dir.stat(name.data());
                    }
                    char* copy = worker.chunk.allocate(name.size());
                    std::memcpy(copy, name.data(), name.size());
                    worker.children.push_back({{copy, name.size()}, st.id});
                }
                continue;
            }
            if (name[0] == '~') {
                continue;
            }
            if (worker.files.names.size() + name.size() + 1 > UINT32_MAX) {
                error = EOVERFLOW;  // more names than one folder's offsets can hold
                break;
            }
            worker.files.nameStarts.push_back(static_cast<uint32_t>(worker.files.names.size()));
            worker.files.names.append(name);
            worker.files.names.push_back('\0');
            worker.files.times.push_back(time);
            worker.files.sizes.push_back(size);
            worker.files.fingerprints.push_back(fingerprint);
        }
        if (error != 0) {
            recordError(worker, id, error);
        }

        if (options_.afterListing) {
            std::string path;
            index_->appendFolderPath(id, path);
            options_.afterListing(path);
        }

        const auto n = static_cast<uint32_t>(worker.files.times.size());
        int statError = 0;
        for (uint32_t i = 0; i < n; ++i) {
            if (cancelled()) {
                return;
            }
            if (worker.files.times[i] != kPending) {
                continue;
            }
            const platform::EntryStat st =
                dir.stat(worker.files.names.data() + worker.files.nameStarts[i]);
            worker.files.times[i] = st.error != 0 ? kNoTime : st.mtimeSeconds;
            worker.files.sizes[i] = st.error != 0 ? 0 : st.size;
            worker.files.fingerprints[i] = st.error != 0 ? 0 : st.fingerprint;
            if (st.error != 0 && st.error != ENOENT && statError == 0) {
                statError = st.error;
            }
        }
        if (statError != 0) {
            recordError(worker, id, statError);
        }
        FileIndex::Folder& node = index_->folders_[id];
        node.fileCount = n;
        if (n > 0 && !writeFolderBlock(worker.chunk, worker.files, node)) {
            node.fileCount = 0;
            recordError(worker, id, EOVERFLOW);
            return;
        }
        counted_.fetch_add(n, std::memory_order_relaxed);
    }

    // Gives the folder's subfolders their numbers and queues them, in listing order.
    void addChildren(Worker& worker, platform::Folder dir, uint64_t device, FolderId id) {
        const auto count = static_cast<uint32_t>(worker.children.size());
        FolderId first = 0;
        {
            std::lock_guard lock(mutex_);
            if (!index_->folders_.append(count, first)) {
                overflowed_ = true;
                return;
            }
            const uint16_t parentSlot = deviceIndex(device);
            for (uint32_t i = 0; i < count; ++i) {
                const Child& c = worker.children[i];
                // One that vanished before its stat keeps its parent's device and no inode.
                const bool sameDevice = c.id.device == device || c.id.inode == 0;
                const uint16_t slot = sameDevice ? parentSlot : deviceIndex(c.id.device);
                index_->folders_[first + i] = {c.name.data(),
                                               nullptr,
                                               c.id.inode,
                                               id,
                                               0,
                                               0,
                                               0,
                                               0,
                                               static_cast<uint16_t>(c.name.size()),
                                               slot};
            }
        }
        FileIndex::Folder& node = index_->folders_[id];
        node.childBegin = first;
        node.childCount = count;

        std::shared_ptr<walk::OpenParent> parent;
        if (openParents_.load(std::memory_order_relaxed) < openBudget_) {
            parent = std::shared_ptr<walk::OpenParent>(new walk::OpenParent{std::move(dir)},
                                                       [this](walk::OpenParent* p) {
                                                           openParents_.fetch_sub(1);
                                                           delete p;
                                                       });
            openParents_.fetch_add(1);
        }
        // Queued last first, so that the first subfolder is taken first.
        for (uint32_t i = count; i-- > 0;) {
            worker.tasks.push_back({first + i, parent});
        }
        pool_->push(worker.tasks);
    }

    // The walk numbered the row's folders in the order it met them; the index numbers them
    // breadth first (the row's folder, then level by level, each parent's subfolders in listing
    // order), and gives out the file numbers in that order.
    void placeInIndexOrder(FolderId rootId) {
        auto& folders = index_->folders_;
        const auto end = static_cast<FolderId>(folders.size());
        const std::vector<FolderId> place = placeBreadthFirst(folders, rootId);
        for (auto& w : workers_) {
            for (auto& e : w->errors) {
                if (e.first >= rootId && e.first < end) {
                    e.first = place[e.first - rootId];
                }
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

    platform::Identity homeTrash_;
    std::unique_ptr<walk::Pool> pool_;
    std::shared_ptr<walk::OpenParent> rowRoot_;
    FolderId rowRootId_ = kNoFolder;
    bool overflowed_ = false;
    size_t openBudget_ = 64;
    std::atomic<size_t> openParents_{0};

    std::mutex mutex_;  // the folder table's growth and the device list
    std::atomic<uint64_t> counted_{0};
    std::chrono::steady_clock::time_point lastReport_;
};

IndexSnapshot buildIndex(const std::vector<std::string>& rows, const BuildOptions& options) {
    IndexBuilder builder(options);
    return builder.run(rows);
}

}  // namespace chronosift

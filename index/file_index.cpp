#include "index/file_index.h"

#include <algorithm>
#include <cstdlib>
#include <new>

namespace chronosift {

namespace {
constexpr size_t kMaxPages = (size_t{1} << 32) >> FileIndex::FolderTable::kPageBits;
constexpr size_t kPageFolders = size_t{1} << FileIndex::FolderTable::kPageBits;
}  // namespace

void FileIndex::FolderTable::Free::operator()(void* p) const {
    std::free(p);
}

// calloc leaves untouched pages unmapped, so the full page table costs address space only.
FileIndex::FolderTable::FolderTable()
    : pages_(static_cast<Folder**>(std::calloc(kMaxPages, sizeof(Folder*)))) {
    if (pages_ == nullptr) {
        throw std::bad_alloc();
    }
}

bool FileIndex::FolderTable::append(uint32_t n, FolderId& first) {
    if (size_ + n >= kNoFolder) {
        return false;
    }
    first = static_cast<FolderId>(size_);
    const size_t end = size_ + n;
    while (owned_.size() * kPageFolders < end) {
        auto* page = static_cast<Folder*>(std::calloc(kPageFolders, sizeof(Folder)));
        if (page == nullptr) {
            throw std::bad_alloc();
        }
        owned_.emplace_back(page);
        pages_[owned_.size() - 1] = page;
    }
    size_ = end;
    return true;
}

size_t FileIndex::FolderTable::bytesUsed() const {
    return size_ * sizeof(Folder);
}

FolderId FileIndex::folderOf(FileId file) const {
    // The last folder whose first file is at or before `file`; empty folders before it share
    // its first number but come earlier, so they are passed over.
    size_t low = 0;
    size_t high = folders_.size();
    while (low < high) {
        const size_t mid = low + (high - low) / 2;
        if (file < folders_[static_cast<FolderId>(mid)].firstFile) {
            high = mid;
        } else {
            low = mid + 1;
        }
    }
    return static_cast<FolderId>(low - 1);
}

FolderId FileIndex::folderFrom(FolderId from, FileId file) const {
    if (from >= folders_.size() || file < folders_[from].firstFile) {
        return folderOf(file);
    }
    while (file - folders_[from].firstFile >= folders_[from].fileCount) {
        ++from;
    }
    return from;
}

std::string_view FileIndex::name(FileId file) const {
    const Folder& f = folders_[folderOf(file)];
    return f.fileName(file - f.firstFile);
}

int64_t FileIndex::time(FileId file) const {
    const Folder& f = folders_[folderOf(file)];
    return f.fileTime(file - f.firstFile);
}

uint64_t FileIndex::size(FileId file) const {
    const Folder& f = folders_[folderOf(file)];
    return f.fileSize(file - f.firstFile);
}

platform::FileIdentity FileIndex::identity(FileId file) const {
    const Folder& f = folders_[folderOf(file)];
    return f.fileIdentity(file - f.firstFile);
}

void FileIndex::appendFolderPath(FolderId folder, std::string& out) const {
    FolderId chain[64];
    size_t depth = 0;
    FolderId id = folder;
    // Walk up to the row's folder, in steps of at most 64 parents.
    while (folders_[id].parent != kNoFolder && depth < 64) {
        chain[depth++] = id;
        id = folders_[id].parent;
    }
    if (folders_[id].parent != kNoFolder) {
        appendFolderPath(id, out);
    } else {
        out.append(folders_[id].folderName());
    }
    while (depth > 0) {
        out.push_back('/');
        out.append(folders_[chain[--depth]].folderName());
    }
}

void FileIndex::appendPath(FileId file, std::string& out) const {
    const FolderId id = folderOf(file);
    const Folder& f = folders_[id];
    appendFolderPath(id, out);
    out.push_back('/');  // the same rule as joinPath: "/name" in the root
    out.append(f.fileName(file - f.firstFile));
}

std::string FileIndex::path(FileId file) const {
    std::string out;
    appendPath(file, out);
    return out;
}

platform::FolderRoute FileIndex::route(FolderId folder) const {
    platform::FolderRoute route;
    FolderId id = folder;
    for (; folders_[id].parent != kNoFolder; id = folders_[id].parent) {
        const Folder& f = folders_[id];
        route.steps.push_back({std::string(f.folderName()), {devices_[f.device], f.inode}});
    }
    std::reverse(route.steps.begin(), route.steps.end());
    route.row = {devices_[folders_[id].device], folders_[id].inode};
    for (const Row& row : rows_) {
        if (row.root == id) {
            route.rowPath = row.realPath;
        }
    }
    return route;
}

size_t FileIndex::bytesUsed() const {
    return chunkBytes_ + folders_.bytesUsed();
}

}  // namespace chronosift

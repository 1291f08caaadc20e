#include "index/layout.h"

#include <algorithm>
#include <cstring>

namespace chronosift {

namespace {
constexpr size_t kChunkSize = size_t{4} << 20;
}  // namespace

char* ChunkWriter::allocate(size_t bytes) {
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

void FolderFiles::clear() {
    names.clear();
    nameStarts.clear();
    times.clear();
    sizes.clear();
    fingerprints.clear();
}

size_t offsetWidth(uint64_t nameBytes) {
    return nameBytes <= UINT16_MAX ? 2 : nameBytes <= UINT32_MAX ? 4 : 0;
}

bool writeFolderBlock(ChunkWriter& chunk, const FolderFiles& files, FileIndex::Folder& node) {
    const auto n = static_cast<uint32_t>(files.count());
    const size_t nameBytes = files.names.size() - n;  // without the NULs
    const size_t width = offsetWidth(nameBytes);
    if (width == 0 || files.names.size() > UINT32_MAX) {
        return false;
    }
    const bool narrow = width == sizeof(uint16_t);
    constexpr size_t kFixed = FileIndex::Folder::kFixedBytes;
    char* block = chunk.allocate(kFixed * size_t{n} + width * (n + 1) + nameBytes);
    std::memcpy(block, files.times.data(), sizeof(int64_t) * n);
    std::memcpy(block + sizeof(int64_t) * n, files.sizes.data(), sizeof(uint64_t) * n);
    std::memcpy(block + 2 * sizeof(int64_t) * n, files.fingerprints.data(), sizeof(uint64_t) * n);
    char* offsets = block + kFixed * size_t{n};
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
        const char* src = files.names.data() + files.nameStarts[i];
        const auto length = static_cast<uint32_t>(
            (i + 1 < n ? files.nameStarts[i + 1] : files.names.size()) - files.nameStarts[i] - 1);
        setOffset(i, at);
        std::memcpy(names + at, src, length);
        at += length;
    }
    setOffset(n, at);
    node.block = block;
    if (narrow) {
        node.nameLength |= FileIndex::Folder::kShortOffsets;
    }
    return true;
}

std::vector<FolderId> placeBreadthFirst(FileIndex::FolderTable& folders, FolderId rootId) {
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
    const std::vector<FolderId> result = place;
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
    return result;
}

}  // namespace chronosift

// Sort keys and orders of the results list, kept apart from the model that shows them.
#include "search/order.h"

#include <algorithm>
#include <string_view>

namespace chronosift {

std::vector<uint32_t> sortedOrder(const FileIndex* index, const std::vector<FileId>& ids,
                                  int column, bool descending) {
    // Keys sit beside the rows they belong to, so the sort runs over one array in memory.
    struct Key {
        uint64_t key;
        FileId id;
        uint32_t row;
        bool operator<(const Key& o) const {
            return key != o.key ? key < o.key : id != o.id ? id < o.id : row < o.row;
        }
    };
    std::vector<Key> keys(ids.size());
    if (column < 0 || column > 2 || index == nullptr) {
        column = -1;
    }
    std::vector<uint32_t> rank;  // for the path: each folder's place in path order
    if (column == 0) {
        // Paths compare as they begin, folder path and "/": that is the folders in pre-order,
        // the rows' folders and each folder's subfolders ordered by name and "/".
        const auto slashed = [](std::string_view name, std::string_view other) {
            const size_t n = std::min(name.size(), other.size());
            const int c = name.substr(0, n).compare(other.substr(0, n));
            if (c != 0 || name.size() == other.size()) {
                return c < 0;
            }
            // One is the start of the other: "/" against the longer one's next byte.
            return name.size() < other.size() ? '/' < other[n] : name[n] < '/';
        };
        const auto byName = [&](FolderId a, FolderId b) {
            return slashed(index->folder(a).folderName(), index->folder(b).folderName());
        };
        std::vector<FolderId> stack;
        for (const FileIndex::Row& row : index->rows()) {
            if (row.root != kNoFolder) {
                stack.push_back(row.root);
            }
        }
        std::sort(stack.begin(), stack.end(), [&](FolderId a, FolderId b) { return byName(b, a); });
        rank.resize(index->folderCount());
        uint32_t next = 0;
        std::vector<FolderId> children;
        while (!stack.empty()) {
            const FolderId f = stack.back();
            stack.pop_back();
            rank[f] = next++;
            const FileIndex::Folder& folder = index->folder(f);
            children.clear();
            for (uint32_t c = 0; c < folder.childCount; ++c) {
                children.push_back(folder.childBegin + c);
            }
            std::sort(children.begin(), children.end(), byName);
            stack.insert(stack.end(), children.rbegin(), children.rend());
        }
    }
    // The rows by file id (a radix sort, two passes of 16 bits), so that the folders are walked
    // once, in step, rather than looked up for every row.
    std::vector<std::pair<FileId, uint32_t>> byId(ids.size());
    for (size_t r = 0; r < ids.size(); ++r) {
        byId[r] = {ids[r], static_cast<uint32_t>(r)};
    }
    if (!std::is_sorted(byId.begin(), byId.end())) {
        std::vector<std::pair<FileId, uint32_t>> spare(byId.size());
        for (const int shift : {0, 16}) {
            std::vector<size_t> start(65537, 0);
            for (const auto& e : byId) {
                ++start[((e.first >> shift) & 0xFFFF) + 1];
            }
            for (size_t b = 1; b < start.size(); ++b) {
                start[b] += start[b - 1];
            }
            for (const auto& e : byId) {
                spare[start[(e.first >> shift) & 0xFFFF]++] = e;
            }
            byId.swap(spare);
        }
    }
    FolderId folder = 0;
    for (size_t k = 0; k < byId.size(); ++k) {
        const auto [id, row] = byId[k];
        if (column < 0) {
            keys[k] = {0, id, row};  // index order is the order by id
            continue;
        }
        folder = index->folderFrom(folder, id);
        const FileIndex::Folder& f = index->folder(folder);
        // Times are signed: flipping the sign bit orders them as unsigned keys.
        const uint64_t key = column == 0   ? rank[folder]
                             : column == 1 ? static_cast<uint64_t>(f.fileTime(id - f.firstFile)) ^
                                                 (uint64_t{1} << 63)
                                           : f.fileSize(id - f.firstFile);
        keys[row] = {key, id, row};
    }
    if (column >= 0) {
        std::sort(keys.begin(), keys.end());
    }
    if (column == 0) {
        // Within one folder, by name.
        for (size_t begin = 0; begin < keys.size();) {
            size_t end = begin + 1;
            while (end < keys.size() && keys[end].key == keys[begin].key) {
                ++end;
            }
            if (end - begin > 1) {
                const FileIndex::Folder& f = index->folder(index->folderOf(keys[begin].id));
                std::stable_sort(
                    keys.begin() + static_cast<ptrdiff_t>(begin),
                    keys.begin() + static_cast<ptrdiff_t>(end), [&](const Key& a, const Key& b) {
                        return f.fileName(a.id - f.firstFile) < f.fileName(b.id - f.firstFile);
                    });
            }
            begin = end;
        }
    }
    std::vector<uint32_t> order(keys.size());
    for (size_t r = 0; r < keys.size(); ++r) {
        order[r] = keys[r].row;
    }
    if (column >= 0 && descending) {
        std::reverse(order.begin(), order.end());
    }
    return order;
}

}  // namespace chronosift

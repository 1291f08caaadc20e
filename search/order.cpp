// Sort keys and orders of the results list, kept apart from the model that shows them.
#include "search/order.h"

#include <algorithm>
#include <array>
#include <string_view>

namespace chronosift {

namespace {

struct Keyed {
    uint64_t key;
    uint32_t row;
};

// Sorts by key, keeping the order of equal keys: 16 bits a pass, least significant first,
// passing over the digits every key shares. Ten million keys take a fraction of a second,
// where a comparison sort takes seconds.
bool stopped(const std::atomic<bool>* cancel) {
    return cancel != nullptr && cancel->load(std::memory_order_relaxed);
}

void radixSort(std::vector<Keyed>& items, const std::atomic<bool>* cancel) {
    constexpr size_t kDigits = 4;
    std::vector<std::array<size_t, 65536>> counts(kDigits);
    for (auto& c : counts) {
        c.fill(0);
    }
    for (const Keyed& k : items) {
        for (size_t d = 0; d < kDigits; ++d) {
            ++counts[d][(k.key >> (16 * d)) & 0xFFFF];
        }
    }
    std::vector<Keyed> spare;
    for (size_t d = 0; d < kDigits && !stopped(cancel); ++d) {
        auto& c = counts[d];
        if (std::find(c.begin(), c.end(), items.size()) != c.end()) {
            continue;  // every key has the same digit here
        }
        size_t at = 0;
        for (size_t& n : c) {
            const size_t here = n;
            n = at;
            at += here;
        }
        spare.resize(items.size());
        for (const Keyed& k : items) {
            spare[c[(k.key >> (16 * d)) & 0xFFFF]++] = k;
        }
        items.swap(spare);
    }
}

}  // namespace

std::vector<std::pair<FileId, uint32_t>> rowsById(const std::vector<FileId>& ids) {
    std::vector<std::pair<FileId, uint32_t>> byId(ids.size());
    for (size_t r = 0; r < ids.size(); ++r) {
        byId[r] = {ids[r], static_cast<uint32_t>(r)};
    }
    if (!std::is_sorted(byId.begin(), byId.end())) {
        // Two stable passes of 16 bits.
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
    return byId;
}

std::vector<uint32_t> sortedOrder(const FileIndex* index, const std::vector<FileId>& ids,
                                  int column, bool descending, const std::atomic<bool>* cancel) {
    if (column < 0 || column > 2 || index == nullptr) {
        column = -1;
    }
    std::vector<uint32_t> rank;       // for the path: each folder's place in path order
    std::vector<FolderId> rankOwner;  // and the folder at each place
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
        rankOwner.reserve(index->folderCount());
        std::vector<FolderId> children;
        while (!stack.empty()) {
            if ((rankOwner.size() & 0xFFF) == 0 && stopped(cancel)) {
                return {};
            }
            const FolderId f = stack.back();
            stack.pop_back();
            rank[f] = static_cast<uint32_t>(rankOwner.size());
            rankOwner.push_back(f);
            const FileIndex::Folder& folder = index->folder(f);
            children.clear();
            for (uint32_t c = 0; c < folder.childCount; ++c) {
                children.push_back(folder.childBegin + c);
            }
            std::sort(children.begin(), children.end(), byName);
            stack.insert(stack.end(), children.rbegin(), children.rend());
        }
    }
    // Keys in file id order, so that a stable sort by key leaves ties in index order.
    const std::vector<std::pair<FileId, uint32_t>> byId = rowsById(ids);
    std::vector<Keyed> keys(ids.size());
    FolderId folder = 0;
    for (size_t k = 0; k < byId.size(); ++k) {
        if ((k & 0xFFFF) == 0 && stopped(cancel)) {
            return {};
        }
        const auto [id, row] = byId[k];
        if (column < 0) {
            keys[k] = {0, row};  // index order is the order by id
            continue;
        }
        folder = index->folderFrom(folder, id);
        const FileIndex::Folder& f = index->folder(folder);
        // Times are signed: flipping the sign bit orders them as unsigned keys.
        const uint64_t key = column == 0   ? rank[folder]
                             : column == 1 ? static_cast<uint64_t>(f.fileTime(id - f.firstFile)) ^
                                                 (uint64_t{1} << 63)
                                           : f.fileSize(id - f.firstFile);
        keys[k] = {key, row};
    }
    if (column >= 0) {
        radixSort(keys, cancel);
    }
    if (column == 0) {
        // Within one folder, by name.
        // The flag read every 65536 rows or so: a folder's rows seldom begin at a multiple.
        size_t look = 0;
        for (size_t begin = 0; begin < keys.size();) {
            if (begin >= look) {
                if (stopped(cancel)) {
                    break;
                }
                look = begin + 0x10000;
            }
            size_t end = begin + 1;
            while (end < keys.size() && keys[end].key == keys[begin].key) {
                ++end;
            }
            if (end - begin > 1) {
                const FileIndex::Folder& f = index->folder(rankOwner[keys[begin].key]);
                const auto name = [&](const Keyed& k) {
                    return f.fileName(ids[k.row] - f.firstFile);
                };
                const auto less = [&](const Keyed& a, const Keyed& b) { return name(a) < name(b); };
                if (end - begin > 32) {
                    std::stable_sort(keys.begin() + static_cast<ptrdiff_t>(begin),
                                     keys.begin() + static_cast<ptrdiff_t>(end), less);
                } else {
                    // A few files a folder, as most have: sorted in place, ties kept.
                    for (size_t i = begin + 1; i < end; ++i) {
                        const Keyed moving = keys[i];
                        size_t j = i;
                        for (; j > begin && less(moving, keys[j - 1]); --j) {
                            keys[j] = keys[j - 1];
                        }
                        keys[j] = moving;
                    }
                }
            }
            begin = end;
        }
    }
    if (stopped(cancel)) {
        return {};
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

#include "search/find.h"

#include <atomic>
#include <thread>

#include "platform/local_zone.h"

namespace chronosift {

namespace {

// Marks the matches among folders [begin, end) in `bits` (one bit per file, by id) and returns
// how many there are. Words are shared only at the edges of the range, so two ranges are marked
// side by side with atomic ors there.
size_t markFolders(const FileIndex& index, size_t begin, size_t end, Criterion criterion,
                   int64_t cutoffDay, const SearchOptions& options, uint64_t* bits) {
    size_t count = 0;
    platform::LocalZone zone;
    for (size_t f = begin; f < end; ++f) {
        if (options.cancel != nullptr && options.cancel->load(std::memory_order_relaxed)) {
            return 0;
        }
        const FileIndex::Folder& folder = index.folder(static_cast<FolderId>(f));
        const int64_t* times = folder.fileCount > 0 ? folder.times() : nullptr;
        for (uint32_t i = 0; i < folder.fileCount; ++i) {
            const int64_t day = times[i] == kNoTime ? 0 : zone.localDay(times[i]);
            const FileId id = folder.firstFile + i;
            if (dayMatches(criterion, day, cutoffDay) &&
                (options.skip == nullptr || id >= options.skip->size() || !(*options.skip)[id])) {
                std::atomic_ref<uint64_t>(bits[id / 64])
                    .fetch_or(uint64_t{1} << (id % 64), std::memory_order_relaxed);
                ++count;
            }
        }
    }
    return count;
}

}  // namespace

std::vector<FileId> findMatches(const FileIndex& index, Criterion criterion, int64_t cutoffDay,
                                const SearchOptions& options) {
    const auto* cancel = options.cancel;
    const size_t folders = index.folderCount();
    // The matches are marked first and then listed into a vector of the exact size, so the
    // result never holds spare capacity or a second copy: it is a large part of peak memory.
    std::vector<uint64_t> bits((index.fileCount() + 63) / 64);
    size_t count = 0;
    // A large index is split in two halves by files, the second searched on another core.
    if (index.fileCount() < options.splitFrom || index.fileCount() < 2 ||
        std::thread::hardware_concurrency() < 2) {
        count = markFolders(index, 0, folders, criterion, cutoffDay, options, bits.data());
    } else {
        const FolderId middle = index.folderOf(static_cast<FileId>(index.fileCount() / 2));
        size_t second = 0;
        std::thread helper([&] {
            second =
                markFolders(index, middle, folders, criterion, cutoffDay, options, bits.data());
        });
        count = markFolders(index, 0, middle, criterion, cutoffDay, options, bits.data());
        helper.join();
        count += second;
    }
    if (cancel != nullptr && cancel->load()) {
        return {};
    }
    std::vector<FileId> matches;
    matches.reserve(count);
    for (size_t w = 0; w < bits.size(); ++w) {
        for (uint64_t word = bits[w]; word != 0; word &= word - 1) {
            matches.push_back(
                static_cast<FileId>(w * 64 + static_cast<size_t>(__builtin_ctzll(word))));
        }
    }
    return matches;
}

}  // namespace chronosift

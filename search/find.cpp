#include "search/find.h"

#include <thread>

#include "platform/local_zone.h"

namespace chronosift {

namespace {

// The matches among folders [begin, end), in index order.
std::vector<FileId> matchFolders(const FileIndex& index, size_t begin, size_t end,
                                 Criterion criterion, int64_t cutoffDay,
                                 const SearchOptions& options) {
    std::vector<FileId> matches;
    platform::LocalZone zone;
    for (size_t f = begin; f < end; ++f) {
        if (options.cancel != nullptr && options.cancel->load(std::memory_order_relaxed)) {
            return {};
        }
        const FileIndex::Folder& folder = index.folder(static_cast<FolderId>(f));
        const int64_t* times = folder.fileCount > 0 ? folder.times() : nullptr;
        for (uint32_t i = 0; i < folder.fileCount; ++i) {
            const int64_t day = times[i] == kNoTime ? 0 : zone.localDay(times[i]);
            const FileId id = folder.firstFile + i;
            if (dayMatches(criterion, day, cutoffDay) &&
                (options.skip == nullptr || id >= options.skip->size() || !(*options.skip)[id])) {
                matches.push_back(id);
            }
        }
    }
    return matches;
}

}  // namespace

std::vector<FileId> findMatches(const FileIndex& index, Criterion criterion, int64_t cutoffDay,
                                const SearchOptions& options) {
    const auto* cancel = options.cancel;
    const size_t folders = index.folderCount();
    // A large index is split in two halves by files, the second searched on another core.
    if (index.fileCount() < options.splitFrom || index.fileCount() < 2 ||
        std::thread::hardware_concurrency() < 2) {
        auto matches = matchFolders(index, 0, folders, criterion, cutoffDay, options);
        return cancel != nullptr && cancel->load() ? std::vector<FileId>{} : matches;
    }
    const FolderId middle = index.folderOf(static_cast<FileId>(index.fileCount() / 2));
    std::vector<FileId> second;
    std::thread helper(
        [&] { second = matchFolders(index, middle, folders, criterion, cutoffDay, options); });
    std::vector<FileId> matches = matchFolders(index, 0, middle, criterion, cutoffDay, options);
    helper.join();
    if (cancel != nullptr && cancel->load()) {
        return {};
    }
    matches.insert(matches.end(), second.begin(), second.end());
    return matches;
}

}  // namespace chronosift

#include "search/find.h"

#include "platform/local_zone.h"

namespace chronosift {

std::vector<FileId> findMatches(const FileIndex& index, Criterion criterion, int64_t cutoffDay,
                                const std::atomic<bool>* cancel) {
    std::vector<FileId> matches;
    platform::LocalZone zone;
    for (const FileIndex::Folder& folder : index.folders()) {
        if (cancel != nullptr && cancel->load(std::memory_order_relaxed)) {
            return {};
        }
        const int64_t* times = folder.fileCount > 0 ? folder.times() : nullptr;
        for (uint32_t i = 0; i < folder.fileCount; ++i) {
            const int64_t day = times[i] == kNoTime ? 0 : zone.localDay(times[i]);
            if (dayMatches(criterion, day, cutoffDay)) {
                matches.push_back(folder.firstFile + i);
            }
        }
    }
    return matches;
}

}  // namespace chronosift

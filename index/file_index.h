// The file index: every file below the search folders, with its last-modified time.
//
// Promises:
// - A finished index never changes. It is shared through `std::shared_ptr<const FileIndex>`, so
//   a result list made from it may outlive a newer build.
// - Files are numbered 0 to fileCount() − 1 in index order: search-folder rows from top to bottom;
//   within a row its folder, then its subfolders level by level, grouped by parent in the order
//   of the level above, each parent's children in enumeration order; within a folder its files
//   in enumeration order.
// - Paths are bytes and are rebuilt on demand from a folder table and a shared name store.
#pragma once

#include <cstdint>
#include <limits>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/fs.h"

namespace chronosift {

using FileId = uint32_t;
using FolderId = uint32_t;
inline constexpr FolderId kNoFolder = std::numeric_limits<FolderId>::max();
// The time of an entry that vanished before its time was read.
inline constexpr int64_t kNoTime = std::numeric_limits<int64_t>::min();

class FileIndex {
  public:
    // One folder's files, laid out in one block: times, sizes, fingerprints, then name offsets,
    // then names.
    // The offsets are 16 bits wide when the names fit, as they nearly always do.
    struct Folder {
        static constexpr uint16_t kShortOffsets = 0x8000;  // a flag in nameLength
        static constexpr uint16_t kMaxNameLength = kShortOffsets - 1;
        // Bytes a file takes before its name offset: time, size and fingerprint.
        static constexpr size_t kFixedBytes = 24;

        const char* name;  // a subfolder's name, or a row's path without its last "/"
        const char* block;
        uint64_t inode;   // the entry's own, as listed; its opening is checked against it
        FolderId parent;  // kNoFolder for a row's folder
        FileId firstFile;
        uint32_t fileCount;
        FolderId childBegin;  // the subfolders are childBegin .. childBegin + childCount − 1
        uint32_t childCount;
        uint16_t nameLength;  // with kShortOffsets
        uint16_t device;      // into devices()

        std::string_view folderName() const {
            return {name, static_cast<size_t>(nameLength & kMaxNameLength)};
        }
        const int64_t* times() const { return reinterpret_cast<const int64_t*>(block); }
        const uint64_t* sizes() const {
            return reinterpret_cast<const uint64_t*>(block + sizeof(int64_t) * fileCount);
        }
        const uint64_t* fingerprints() const {
            return reinterpret_cast<const uint64_t*>(block + 2 * sizeof(int64_t) * fileCount);
        }
        uint32_t nameOffset(uint32_t i) const {
            const char* offsets = block + kFixedBytes * size_t{fileCount};
            if ((nameLength & kShortOffsets) != 0) {
                return reinterpret_cast<const uint16_t*>(offsets)[i];
            }
            return reinterpret_cast<const uint32_t*>(offsets)[i];
        }
        const char* names() const {
            const size_t width = (nameLength & kShortOffsets) != 0 ? 2 : 4;
            return block + kFixedBytes * size_t{fileCount} + width * (fileCount + 1);
        }
        // The name, the time and the size of the folder's i-th file.
        std::string_view fileName(uint32_t i) const {
            const uint32_t from = nameOffset(i);
            return {names() + from, nameOffset(i + 1) - from};
        }
        int64_t fileTime(uint32_t i) const { return times()[i]; }
        uint64_t fileSize(uint32_t i) const { return sizes()[i]; }
        // What the listing saw of the file, for a check right before it is acted on.
        platform::FileIdentity fileIdentity(uint32_t i) const {
            return {times()[i] != kNoTime, times()[i], sizes()[i], fingerprints()[i]};
        }
    };

    // Folders in pages that never move, so the walk's threads can fill them side by side.
    class FolderTable {
      public:
        static constexpr unsigned kPageBits = 14;
        FolderTable();
        Folder& operator[](FolderId id) { return pages_[id >> kPageBits][id & kPageMask]; }
        const Folder& operator[](FolderId id) const {
            return pages_[id >> kPageBits][id & kPageMask];
        }
        size_t size() const { return size_; }
        // Adds `n` folders and returns the first one's id; false when the table is full. Not
        // safe to call from two threads at once, but safe beside readers of other folders.
        bool append(uint32_t n, FolderId& first);
        size_t bytesUsed() const;

      private:
        static constexpr FolderId kPageMask = (FolderId{1} << kPageBits) - 1;
        struct Free {
            void operator()(void* p) const;
        };
        std::unique_ptr<Folder*[], Free> pages_;
        std::vector<std::unique_ptr<Folder[], Free>> owned_;
        size_t size_ = 0;
    };

    // A search-folder row and what became of it.
    struct Row {
        std::string text;           // as given, ending in "/"
        std::string realPath;       // its folder with every link resolved, without a last "/"
        FolderId root = kNoFolder;  // kNoFolder when the row could not be opened
        platform::FsError error;    // why not, when root is kNoFolder
    };

    size_t fileCount() const { return fileCount_; }
    // Folders are numbered in index order: the rows' folders, each followed by its tree level
    // by level.
    size_t folderCount() const { return folders_.size(); }
    const std::vector<Row>& rows() const { return rows_; }
    const Folder& folder(FolderId id) const { return folders_[id]; }
    // Folders below the rows that could not be read. The walk went on without them.
    const std::vector<platform::FsError>& errors() const { return errors_; }

    FolderId folderOf(FileId file) const;
    // The same, looking forward from folder `from`: for files taken in index order each folder
    // is passed once, with no search.
    FolderId folderFrom(FolderId from, FileId file) const;
    std::string_view name(FileId file) const;
    int64_t time(FileId file) const;   // UTC seconds, or kNoTime
    uint64_t size(FileId file) const;  // bytes, as the folder listed it (0 when unknown)
    platform::FileIdentity identity(FileId file) const;

    // A folder's path without the trailing "/" ("" for the root folder itself).
    void appendFolderPath(FolderId folder, std::string& out) const;
    // The folder's path, "/", the name: "/name" in the root.
    void appendPath(FileId file, std::string& out) const;
    std::string path(FileId file) const;
    // How to reach a folder again without following a link: its row's real path and the
    // identity of every folder on the way, as the walk saw them.
    platform::FolderRoute route(FolderId folder) const;

    // Memory the index holds, for the benchmark.
    size_t bytesUsed() const;

  private:
    friend class IndexBuilder;
    FolderTable folders_;
    std::vector<uint64_t> devices_;
    std::vector<Row> rows_;
    std::vector<platform::FsError> errors_;
    std::vector<std::unique_ptr<char[]>> chunks_;
    size_t chunkBytes_ = 0;
    size_t fileCount_ = 0;
};

using IndexSnapshot = std::shared_ptr<const FileIndex>;

}  // namespace chronosift

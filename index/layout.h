// Writing the index: the chunks that hold every name and file block, and the layout of one
// folder's files in one block (times, sizes, then name offsets, then names).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "index/file_index.h"

namespace chronosift {

// Hands out 8-aligned pieces of large chunks. The chunks go to the index, so nothing written
// here is ever copied again; untouched chunk tails cost address space, not memory.
class ChunkWriter {
  public:
    char* allocate(size_t bytes);

    std::vector<std::unique_ptr<char[]>> chunks;
    size_t totalBytes = 0;

  private:
    char* current_ = nullptr;
    size_t used_ = 0;
    size_t capacity_ = 0;
};

// One folder's files as the walk collected them, in listing order.
struct FolderFiles {
    std::string names;  // each name followed by a NUL, for fstatat
    std::vector<uint32_t> nameStarts;
    std::vector<int64_t> times;
    std::vector<uint64_t> sizes;
    std::vector<uint64_t> fingerprints;

    size_t count() const { return times.size(); }
    void clear();
};

// How wide each name offset of a folder with `nameBytes` bytes of names is: 2 while the names
// fit 16 bits, 4 while they fit 32, and 0 when they do not fit at all.
size_t offsetWidth(uint64_t nameBytes);

// Writes the files into one block and points `node` at it. False, with nothing written, when the
// names do not fit 32-bit offsets (more than 4 GiB of names in one folder).
bool writeFolderBlock(ChunkWriter& chunk, const FolderFiles& files, FileIndex::Folder& node);

// The walk numbers a row's folders (rootId and every one after it) in the order it met them;
// the index numbers them breadth first: the row's folder, then level by level, each parent's
// subfolders in listing order. Moves the folders to those places, parents and children
// renumbered, and returns each folder's new id by its old one (less rootId).
std::vector<FolderId> placeBreadthFirst(FileIndex::FolderTable& folders, FolderId rootId);

}  // namespace chronosift

#include "index/file_index.h"

#include <algorithm>

namespace chronosift {

FolderId FileIndex::folderOf(FileId file) const {
    // The last folder whose first file is at or before `file`; empty folders before it share
    // its first number but come earlier, so they are passed over.
    auto it = std::upper_bound(folders_.begin(), folders_.end(), file,
                               [](FileId f, const Folder& folder) { return f < folder.firstFile; });
    return static_cast<FolderId>((it - folders_.begin()) - 1);
}

std::string_view FileIndex::name(FileId file) const {
    const Folder& f = folders_[folderOf(file)];
    return f.fileName(file - f.firstFile);
}

int64_t FileIndex::time(FileId file) const {
    const Folder& f = folders_[folderOf(file)];
    return f.fileTime(file - f.firstFile);
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

size_t FileIndex::bytesUsed() const {
    return chunkBytes_ + folders_.capacity() * sizeof(Folder);
}

}  // namespace chronosift

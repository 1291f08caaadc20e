#include "recycle/recycling_bin.h"

#include <unordered_map>

#include "platform/text.h"

namespace chronosift {

std::vector<trash::TrashItem> trashItems(const FileIndex& index, const std::vector<FileId>& files) {
    std::vector<trash::TrashItem> items;
    items.reserve(files.size());
    std::unordered_map<FolderId, std::shared_ptr<const platform::FolderRoute>> routes;
    for (FileId id : files) {
        const FolderId folder = index.folderOf(id);
        auto& route = routes[folder];
        if (route == nullptr) {
            route = std::make_shared<platform::FolderRoute>(index.route(folder));
        }
        items.push_back({index.path(id), route, std::string(index.name(id)), index.identity(id)});
    }
    return items;
}

std::string confirmationText(size_t count, uint64_t bytes) {
    return "Move " + platform::groupedNumber(count) +
           (count == 1 ? " checked file" : " checked files") + " (" + platform::sizeText(bytes) +
           ") to the trash?";
}

std::string resultsCaption(size_t rows, uint64_t bytes, size_t checked, uint64_t checkedBytes) {
    std::string text = "Chronosift [ " + platform::groupedNumber(rows) +
                       (rows == 1 ? " file found, " : " files found, ") + platform::sizeText(bytes);
    if (checked > 0) {
        text += " \u00b7 " + platform::groupedNumber(checked) + " checked, " +
                platform::sizeText(checkedBytes);
    }
    return text + " ]";
}

std::string putBackMessage(const std::vector<std::string>& paths,
                           const std::vector<trash::PutBackOutcome>& outcomes, size_t named) {
    std::vector<size_t> listed;
    size_t stayed = 0;
    for (size_t i = 0; i < outcomes.size(); ++i) {
        if (!outcomes[i].reason.empty()) {
            listed.push_back(i);
            stayed += outcomes[i].putBack ? 0 : 1;
        }
    }
    if (listed.empty()) {
        return {};
    }
    std::string text = stayed == 1 ? "1 file stayed in the trash:\n"
                       : stayed > 1
                           ? platform::groupedNumber(stayed) + " files stayed in the trash:\n"
                           : "Every file was put back, but:\n";
    for (size_t k = 0; k < listed.size() && k < named; ++k) {
        // Appended piece by piece: "\n" + string trips a false -Wrestrict in GCC 12.
        text.append("\n").append(platform::displayText(paths[listed[k]]));
        text.append(": ").append(outcomes[listed[k]].reason);
    }
    if (listed.size() > named) {
        text += "\nand " + platform::groupedNumber(listed.size() - named) + " more";
    }
    return text;
}

std::vector<int> rowsToRemove(const std::vector<int>& rows,
                              const std::vector<trash::TrashOutcome>& outcomes) {
    std::vector<int> gone;
    for (size_t i = 0; i < rows.size() && i < outcomes.size(); ++i) {
        if (outcomes[i].status == trash::TrashStatus::Moved ||
            outcomes[i].status == trash::TrashStatus::Missing) {
            gone.push_back(rows[i]);
        }
    }
    return gone;
}

std::string failureMessage(const std::vector<std::string>& paths,
                           const std::vector<trash::TrashOutcome>& outcomes, size_t named) {
    std::vector<size_t> stayed;
    std::string notes;  // files that moved, with something else to tell
    for (size_t i = 0; i < outcomes.size(); ++i) {
        if (outcomes[i].status != trash::TrashStatus::Moved) {
            stayed.push_back(i);
        } else if (outcomes[i].status == trash::TrashStatus::Moved && !outcomes[i].reason.empty()) {
            notes.append("\n").append(platform::displayText(paths[i]));
            notes.append(" went to the trash, but ").append(outcomes[i].reason);
        }
    }
    if (stayed.empty()) {
        return notes.empty() ? std::string() : notes.substr(1);
    }
    std::string text = stayed.size() == 1 ? "1 file was not moved to the trash:\n"
                                          : platform::groupedNumber(stayed.size()) +
                                                " files were not moved to the trash:\n";
    for (size_t k = 0; k < stayed.size() && k < named; ++k) {
        const size_t i = stayed[k];
        text.append("\n").append(platform::displayText(paths[i])).append(": ");
        if (outcomes[i].status == trash::TrashStatus::Missing) {
            text.append("it is no longer there (").append(outcomes[i].reason).append(")");
        } else if (outcomes[i].status == trash::TrashStatus::NotTried) {
            text.append("the move was cancelled before it");
        } else {
            text.append(outcomes[i].reason);
        }
    }
    if (stayed.size() > named) {
        text += "\nand " + platform::groupedNumber(stayed.size() - named) + " more";
    }
    return text + (notes.empty() ? "" : "\n" + notes);
}

std::vector<bool>& TrashedFiles::bitsFor(const IndexSnapshot& index) {
    // Forget the snapshots that no longer exist, so that a new one at the same address starts
    // clean.
    for (auto it = entries_.begin(); it != entries_.end();) {
        it = it->second.index.expired() ? entries_.erase(it) : std::next(it);
    }
    Entry& entry = entries_[index.get()];
    if (entry.bits.empty()) {
        entry.index = index;
        entry.bits.assign(index->fileCount(), false);
    }
    return entry.bits;
}

void TrashedFiles::mark(const IndexSnapshot& index, FileId file, bool on) {
    if (index != nullptr && file < index->fileCount()) {
        bitsFor(index)[file] = on;
    }
}

std::vector<std::string> TrashedFiles::markPaths(const IndexSnapshot& index,
                                                 const std::vector<std::string>& paths, bool on) {
    if (index == nullptr || paths.empty() || index->fileCount() == 0) {
        return paths;
    }
    std::unordered_map<std::string, FolderId> folders;
    std::string path;
    for (FolderId f = 0; f < index->folderCount(); ++f) {
        if (index->folder(f).fileCount > 0) {
            path.clear();
            index->appendFolderPath(f, path);
            folders.emplace(path, f);
        }
    }
    std::vector<bool>& bits = bitsFor(index);
    std::vector<std::string> unheld;
    for (const std::string& p : paths) {
        const size_t slash = p.rfind('/');
        const auto it = folders.find(p.substr(0, slash));
        bool held = false;
        if (slash != std::string::npos && it != folders.end()) {
            const FileIndex::Folder& folder = index->folder(it->second);
            const std::string_view name = std::string_view(p).substr(slash + 1);
            for (uint32_t i = 0; i < folder.fileCount; ++i) {
                if (folder.fileName(i) == name) {
                    bits[folder.firstFile + i] = on;
                    held = true;
                }
            }
        }
        if (!held) {
            unheld.push_back(p);
        }
    }
    return unheld;
}

const std::vector<bool>* TrashedFiles::skipFor(const IndexSnapshot& index) const {
    const auto it = entries_.find(index.get());
    if (it == entries_.end() || it->second.index.lock() != index) {
        return nullptr;
    }
    return &it->second.bits;
}

}  // namespace chronosift

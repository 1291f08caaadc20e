// Read-only access to folders, by raw byte names.
//
// Promises:
// - Nothing here follows a symbolic link except `Folder::openPath`, which opens a folder the user
//   named (a link the user picked is what the user meant).
// - Names are the file system's bytes, never decoded.
// - Every failure comes back as an errno value; nothing throws, nothing prints.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace chronosift::platform {

// The process's working folder, as bytes ("" when it cannot be read).
std::string currentFolder();

// The names of the subfolders of a folder, hidden ones and links left out, in enumeration order.
// Empty when the folder cannot be read.
std::vector<std::string> listSubfolders(const std::string& path);

// Mount points of the mounted volumes a user would browse: not "/", not kernel pseudo file
// systems, not the system's own mounts below /proc, /sys, /dev, /run (but /run/media) and /boot.
std::vector<std::string> mountedVolumes();

// True when the file system can report the last-modified time of the path (links followed).
bool fileExists(const std::string& path);

// A failure that carries the path it happened on.
struct FsError {
    std::string path;  // bytes
    int code = 0;      // errno

    // "path: reason", the path decoded for display.
    std::string message() const;
};

// The reason text for an errno value, in English.
std::string errorText(int code);

enum class EntryKind : uint8_t {
    Folder,     // a real directory, not a link to one
    NotFolder,  // anything else, links included
    Unknown,    // the file system did not say; ask `Folder::stat`
};

struct EntryStat {
    int error = 0;  // 0, or errno (ENOENT when the entry vanished)
    bool isFolder = false;
    int64_t mtimeSeconds = 0;  // floor of the modification time, UTC seconds
};

// An open folder being read. Move-only.
class Folder {
  public:
    Folder() = default;
    ~Folder();
    Folder(Folder&& other) noexcept;
    Folder& operator=(Folder&& other) noexcept;
    Folder(const Folder&) = delete;
    Folder& operator=(const Folder&) = delete;

    // Opens a folder by path, following links. `error` gets errno on failure.
    static Folder openPath(const std::string& path, int& error);
    // Opens `relative` below `base` without following a link in its last part. Works for
    // relative paths of any length: longer ones are opened piece by piece.
    static Folder openBelow(const Folder& base, std::string_view relative, int& error);

    bool isOpen() const { return dir_ != nullptr; }
    int fd() const;

    // The next entry, "." and ".." left out. False at the end or on a read error (then `error`
    // is set). The name stays valid until the next call.
    bool next(std::string_view& name, EntryKind& kind, int& error);

    // lstat of an entry of this folder. `name` must be NUL-terminated (names from `next` are).
    EntryStat stat(const char* name) const;

    // The device of this folder and whether it sits on a kernel pseudo file system.
    uint64_t device(int& error) const;
    bool onPseudoFileSystem() const;

  private:
    explicit Folder(void* dir) : dir_(dir) {}
    void* dir_ = nullptr;  // DIR*, kept opaque so the header stays free of system headers
};

}  // namespace chronosift::platform

// Read-only access to folders, by raw byte names.
//
// Promises:
// - Nothing here follows a symbolic link except `Folder::openPath`, which opens a folder the user
//   named (a link the user picked is what the user meant), and `realPath`, which resolves it.
// - Below such a folder, every folder is opened relative to its open parent, one name at a time,
//   and checked to be the folder that was listed (its device and inode as `Folder::stat` saw
//   the entry, never the inode the listing reports); one that changed fails with `kChanged`.
// - Names are the file system's bytes, never decoded.
// - Every failure comes back as an errno value; nothing throws, nothing prints.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

struct stat;
struct statx;

namespace chronosift::platform {

// The process's working folder, as bytes ("" when it cannot be read).
std::string currentFolder();

// The names of the subfolders of a folder, links left out and hidden ones too unless `hidden`,
// in enumeration order, at most `limit` of them. Empty when the folder cannot be read.
std::vector<std::string> listSubfolders(const std::string& path, bool hidden = false,
                                        size_t limit = SIZE_MAX);

// Raises this process's limit of open descriptors as far as it may go, and returns the limit.
size_t raiseOpenFileLimit();

// The processors this process may run on (at least 1).
unsigned usableProcessors();

// The blocks this process has had to wait for a device to read so far, in 512-byte units (0
// where the system does not count them). Reads served from the page cache do not count.
uint64_t blocksReadFromDevice();

// Where a file system keeps its data, as far as the time to read it goes: in memory (tmpfs,
// ramfs), on a local device, or behind a network (NFS, SMB, FUSE such as sshfs, and the like).
enum class Storage { Memory, Local, Network };

// True when the file system can report the last-modified time of the path (links followed).
bool fileExists(const std::string& path);
// True when the path names a folder now (links followed).
bool isFolder(const std::string& path);

// A failure that carries the path it happened on.
struct FsError {
    std::string path;  // bytes
    int code = 0;      // errno

    // "path: reason", the path decoded for display.
    std::string message() const;
};

// An error code beside the errno values: the entry is no longer the one that was listed (another
// folder, a link or a file stands under its name now).
inline constexpr int kChanged = -1;
// The entry lies inside a trash folder, which nothing walks or moves.
inline constexpr int kInTrash = -2;

// The reason text for an errno value, `kChanged` or `kInTrash`, in English.
std::string errorText(int code);

// What makes a folder or file the same one over time.
struct Identity {
    uint64_t device = 0;
    uint64_t inode = 0;
    static Identity of(const struct ::stat& st);
    bool operator==(const Identity&) const = default;
};

enum class EntryKind : uint8_t {
    Folder,     // a real directory, not a link to one
    NotFolder,  // anything else, links included
    Unknown,    // the file system did not say; ask `Folder::stat`
};

// A number that tells one file from another that took its name with the same time and size:
// made from the inode, the nanoseconds of the modification time and the birth time (0 where the
// file system keeps none). A copy with kept times (cp -p, rsync -t, tar) differs in the inode or
// the nanoseconds; a file made again on a freed inode with the very same time (rm f; cp -p g f)
// matches both, and only the birth time tells it apart. So where the file system reports no
// birth time, that one case goes unseen.
uint64_t fileFingerprint(uint64_t inode, uint32_t mtimeNanos, uint64_t birthNanos);

// statx of the entry `name` of the open folder `folder`, no link followed, asking for what an
// identity needs: type, size, inode, device, modification time and, where the file system keeps
// one, the birth time. 0 or errno.
int statEntry(int folder, const char* name, struct ::statx& sx);

struct EntryStat {
    int error = 0;  // 0, or errno (ENOENT when the entry vanished)
    bool isFolder = false;
    int64_t mtimeSeconds = 0;  // floor of the modification time, UTC seconds
    uint64_t size = 0;         // bytes; a link's own
    uint64_t fingerprint = 0;  // fileFingerprint of its inode and times
    Identity id;               // the entry's own device and inode (a mount's root for a mount)
};

// What a listed file was, all of it taken from one statx: checked again right before the file is
// acted on. A file without a time (it vanished while listed) matches nothing.
struct FileIdentity {
    bool known = false;
    int64_t mtimeSeconds = 0;
    uint64_t size = 0;
    uint64_t fingerprint = 0;

    static FileIdentity of(const struct ::statx& sx);
    bool matches(const struct ::statx& sx) const;
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
    // Opens the subfolder `name` (one name, NUL-terminated) of `parent` without following a
    // link, and checks that it is the folder `listed`: the device and inode that `stat` gave for
    // the entry when it was listed. So a mount or a btrfs subvolume below is its own root, as
    // listed, and any other folder, subvolume or mount put under the name since is refused.
    // `error`: errno, or kChanged.
    static Folder openChild(const Folder& parent, const char* name, const Identity& listed,
                            int& error);

    bool isOpen() const { return dir_ != nullptr; }
    int fd() const;

    // The next entry, "." and ".." left out. False at the end or on a read error (then `error` is
    // set). The name stays valid until the next call. The inode a listing reports is left out on
    // purpose: on btrfs and overlayfs it need not be the folder's own.
    bool next(std::string_view& name, EntryKind& kind, int& error);

    // statEntry of an entry of this folder. `name` must be NUL-terminated (names from `next` are).
    EntryStat stat(const char* name) const;

    // This folder's own identity, and whether it sits on a kernel pseudo file system.
    Identity identity(int& error) const;
    bool onPseudoFileSystem() const;
    // The kind of file system the folder is on; Local when it cannot be told.
    Storage storage() const;
    // The folder's absolute path with every link resolved, as the kernel knows it; "" when it
    // cannot be told (a path longer than the system's limit).
    std::string realPath() const;

  private:
    explicit Folder(void* dir) : dir_(dir) {}
    void* dir_ = nullptr;  // DIR*, kept opaque so the header stays free of system headers
};

// The way from a search-folder row to one of the folders below it, as the walk saw it.
struct FolderRoute {
    struct Step {
        std::string name;
        Identity id;
    };
    std::string rowPath;  // the row's real path: absolute, no links, no trailing "/" ("/": "")
    Identity row;
    std::vector<Step> steps;  // below the row, top down

    // rowPath and every step's name joined by "/": the folder's real path ("/" for the root).
    std::string realPath() const;
};

// Opens the folder of a route for use as a base of *at() calls (O_PATH), following no link on
// the way and checking the identity of the row and of every step. Returns the descriptor, or -1
// with `error` set (errno, or kChanged). The caller closes it.
int openRoute(const FolderRoute& route, int& error);

}  // namespace chronosift::platform

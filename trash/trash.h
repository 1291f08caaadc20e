// The desktop trash (FreeDesktop.org Trash specification 1.0), on raw byte names. This header is
// the wing's whole contract; the rooms behind it:
// - move.cpp: checks each listed file again and moves it, in batches, with its record;
// - place.cpp: which trash folder a file goes to (home, $topdir/.Trash/$uid, $topdir/.Trash-$uid);
// - records.h/.cpp: one trash folder in use: its records, the run's journal, dead-run clean-up;
// - put_back.cpp: Undo, the reverse of a move, checked the same way;
// - back_in_place.cpp: which moved files are back in their places already, whoever put them back.
// - relocate.h/.cpp: one file's move between two folders, and finishing one a kill cut short;
// - proven.h/.cpp: the only calls that unlink, rename or link, each proving what it acts on.
//
// Promises:
// - A file either stays where it was or is in a trash folder's files/ with one whole record in
//   info/. Nothing is ever deleted, copied across devices or replaced.
// - Only the file that was listed moves: its folder is reopened from its row one name at a time,
//   no link followed and every folder checked, and the file must still have the identity it was
//   listed with (time, size, inode, birth time where kept). Anything else stays and is reported
//   as changed. After the move, what reached files/ must be that inode; on every path (the move,
//   its fallback where the file system cannot rename without replacing, the move back, Undo, the
//   clean-up) a name is only ever unlinked once it is proved to be a second name of a file that
//   keeps another, or a record with the bytes that were written (see proven.h).
// - Nothing inside a trash folder is ever moved (a second guard beside the walk's).
// - A record is written under a name no trash tool reads, then linked to its final name, so a
//   tool sees a whole record or none; records reach the disk (one sync a batch) before their
//   files move. Every private name a run makes is in its journal before it exists, so a run
//   killed at any point (a move, Undo, or a clean-up) leaves nothing the next run that opens
//   that trash folder cannot finish or undo: records whose files never moved or are back go, a
//   move by link ends with the file under one name, never a hidden second one (see records.h).
//   Undo clears up after dead runs first like a move, and takes a file that a killed Undo had
//   already put back as put back.
// - Nothing found inside a trash folder is trusted until proved: journals and records are read
//   without blocking or following a link and only when they are regular files of the user's;
//   a folder found open to others is closed to them and what was in it left alone, and said so
//   in the reason of the first file moved there.
// - A file on the mount of $XDG_DATA_HOME/Trash goes there, with an absolute Path=. Any other goes
//   to its volume's $topdir/.Trash/$uid when .Trash is a real folder with the sticky bit, else to
//   $topdir/.Trash-$uid, with Path= relative to $topdir. $topdir is found by going up the real
//   folders until the volume changes (platform::isVolumeTop: a mount or a btrfs subvolume), never
//   from path text. The home trash is recorded by the path it really has, so Undo reaches it
//   without following a link even when $HOME or $XDG_DATA_HOME is reached through one.
// - Links are moved as links; their targets are not touched.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/fs.h"
#include "platform/trash_folders.h"

namespace chronosift::trash {

enum class TrashStatus : uint8_t {
    Moved,     // in the trash
    Missing,   // not there any more: nothing to move
    Failed,    // stayed where it was; see the reason
    NotTried,  // the operation was cancelled before this file
};

struct TrashOutcome {
    TrashStatus status = TrashStatus::NotTried;
    std::string reason;     // for Missing and Failed; for Moved, what else happened, if anything
    std::string trashedAs;  // for Moved: the path in files/
    // For Moved, what putting it back checks: the trash folder, the name in its files/, the
    // file's inode and the record as written.
    std::string trashFolder;
    std::string trashedName;
    uint64_t inode = 0;
    std::string record;
    uint64_t recordInode = 0;
    platform::Identity files;  // the trash folder's files/ and info/, as the move found them
    platform::Identity info;
};

// What became of a file that was to be put back.
struct PutBackOutcome {
    bool putBack = false;
    std::string reason;  // why it stayed in the trash; or a record that could not be removed
    bool retry = false;  // it stayed in the trash with its record as written: a later Undo may
};

// One file to move, as it was listed.
struct TrashItem {
    std::string path;                                     // as the user saw it, for messages
    std::shared_ptr<const platform::FolderRoute> folder;  // how to reach its folder again
    std::string name;
    platform::FileIdentity identity;  // as listed
};

// A file named by its path now, its folder taken as a row of its own (links in the path
// followed). For callers that have no listing; the change check then starts from this call.
TrashItem trashItemFor(const std::string& path);

// Places where tests change the world or make a system call fail, so that races and rare
// errors can be replayed without sleeps.
struct TrashHooks {
    // Before a file's folder is opened, with the file's path.
    std::function<void(const std::string& path)> beforeOpen;
    // Before every system call that changes the disk, `call` ("syncfs", "fdatasync", "renameat2",
    // "rename", "linkat", "unlinkat"), the clean-up's and the journal's included; a nonzero errno
    // makes it fail so. Failing "renameat2" with EINVAL stands for a file system without a rename
    // that cannot replace. Asked on the thread that runs moveAll or putBack.
    std::function<int(std::string_view call)> fail;
    // In Undo, after a file is back in its folder and before its record is removed.
    std::function<void()> afterPutBack;
};

struct TrashOptions {
    // Checked before each file; once set, the remaining files are not tried.
    const std::atomic<bool>* cancel = nullptr;
    // Called after each batch with the number of files done so far.
    std::function<void(size_t done)> progress;
    const TrashHooks* hooks = nullptr;
};

struct TrashCan;

// The trash of the current user, as the environment describes it ($XDG_DATA_HOME, $HOME).
class Trash {
  public:
    Trash();
    ~Trash();
    Trash(const Trash&) = delete;
    Trash& operator=(const Trash&) = delete;

    // The files in order; one outcome each.
    std::vector<TrashOutcome> moveAll(const std::vector<TrashItem>& items,
                                      const TrashOptions& options = {});

    using Place = platform::VolumePlace;

  private:
    struct Batch;
    void prepare(Batch& batch, size_t i, const TrashItem& item, const TrashOptions& options);
    void moveFile(Batch& batch, size_t k, const TrashOptions& options);
    TrashCan* canFor(int folder, const platform::FolderRoute& route, std::string& relative,
                     std::string& reason);

    std::string homeTrash_;
    std::unique_ptr<TrashCan> home_;
    bool homeTried_ = false;
    Place homePlace_;
    std::map<std::string, std::unique_ptr<TrashCan>> cans_;  // by real top folder
};

// Puts the files that moveAll moved (outcome Moved) back where they were, under their own
// names, and removes their records; other outcomes are passed over. A file stays in the trash
// when its place is taken, when its record was removed or changed by another program, when it
// is no longer the file that was moved, or when its folder changed; the reason says which.
// Nothing is ever replaced. Dead runs are cleared up first; a file a killed Undo had already put
// back (the same inode in its place, none in files/) counts as put back.
std::vector<PutBackOutcome> putBack(const std::vector<TrashItem>& items,
                                    const std::vector<TrashOutcome>& outcomes,
                                    const TrashOptions& options = {});

// For each file that moveAll moved: whether it is back in its own place now, whoever put it
// back: the same inode on the same device under its own name in its folder (reached as a move
// reaches it), and no longer under its name in the trash. Changes nothing.
std::vector<bool> backInPlace(const std::vector<TrashItem>& items,
                              const std::vector<TrashOutcome>& outcomes);

// The value of Path= for a path: every byte but unreserved ones and "/" as %XX.
std::string trashInfoPath(std::string_view path);

// The name under files/ for `name` with clash number `n` (1: none), at most `limit` bytes: the
// stem is shortened, never splitting a UTF-8 sequence, and the extension kept. Never empty and
// never hidden: a name that would be is replaced by one made from the clash number.
std::string trashName(std::string_view name, uint32_t n, size_t limit);

}  // namespace chronosift::trash

// One trash folder in use, and how its records are written. Inside trash/ only.
//
// Promises:
// - Trash folders are opened without following links, must belong to the user, and are closed
//   to mode 0700 when group or others could write into them, before anything is put there.
// - A record is written whole under a temporary name that no trash tool reads
//   (info/.chronosift-ID.tmp), then hard-linked to NAME.trashinfo, which fails when the name is
//   taken: a reader sees a whole record or none, at every moment.
// - Each run keeps a journal (info/.chronosift-ID.journal) of the records it linked and of the
//   records of files it is putting back, and holds a lock on it while it lives. The kernel drops
//   the lock when the process ends however it ends, so a journal whose lock can be taken belongs
//   to a dead run. Of its records, one is removed only when its file is not in files/ (never
//   moved, or already put back) and it is still exactly the record the run wrote: the same inode
//   and the same bytes, which a record another program made in its place, even on a reused
//   inode, does not have. Records of other programs, and of runs still alive, are never touched.
//   Moves by link a dead run left half done are finished or undone first (finishMove).
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <unordered_map>

#include "platform/fd.h"
#include "platform/fs.h"

namespace chronosift::trash {

inline constexpr char kInfoSuffix[] = ".trashinfo";
inline constexpr size_t kInfoSuffixLength = sizeof kInfoSuffix - 1;

struct TrashCan {
    std::string folder;  // for messages and outcomes
    std::string topdir;  // Path= is relative to it; empty for the home trash (absolute Path=)
    bool relative = false;
    platform::Fd files;
    platform::Fd info;
    platform::Identity filesId;  // of files/ and info/ as opened
    platform::Identity infoId;
    size_t nameLimit = 255 - kInfoSuffixLength;
    std::unordered_map<std::string, uint32_t> next;  // the next clash number to try, by name
    bool synced = true;                              // no record written since the last sync
    uint64_t lastRecordInode = 0;                    // of the record writeRecord last linked

    ~TrashCan();

    // Opens files/ and info/ below `trashFolder` (made when missing) and clears up after dead
    // runs. False with `reason` set when the folder cannot be used.
    bool open(int trashFolder, std::string& reason);

    // Writes `content` as info/`infoName`, whole. 0, EEXIST when the name is taken, or errno.
    int writeRecord(const std::string& infoName, const std::string& content);
    // Removes a record this run wrote. 0 or errno.
    int dropRecord(const std::string& infoName);
    // Lists a record of a file about to be put back, so that a run killed after the file is back
    // but before the record is gone has it cleared by the next run. 0 or errno. The entries reach
    // the disk with syncJournal, which must come before the files move.
    int journalPutBack(const std::string& infoName, uint64_t inode, const std::string& content);
    // Lists a move by link about to start (see finishMove), so that a run killed part way has it
    // finished or undone by the next. 0 or errno.
    int journalMove(uint64_t inode, const std::string& own, const std::string& from,
                    const std::string& to);
    int syncJournal(const std::function<int(std::string_view)>& fail = {});
    // Brings every record written so far to the disk. 0 or errno; `fail` may fail "syncfs".
    int sync(const std::function<int(std::string_view)>& fail = {});
    // Ends this run's journal: every record it lists is whole and its file has moved.
    void endRun();

  private:
    bool startJournal(int& error);
    int journal(const std::string& infoName, uint64_t inode, const std::string& content);
    int append(const std::string& entry);

    platform::Fd journal_;
    std::string id_;  // of this run's journal and temporary record
};

// Everything left to read from `fd`.
std::string readAll(int fd);

// Opens `name` below `parent` as a folder of the user's, made with mode 0700 when missing,
// without following a link, and closes it to 0700 when others could write into it.
platform::Fd openOwnFolder(int parent, const char* name, std::string& reason);

// Removes what dead runs left in a trash folder: their records whose files never moved, their
// temporary records and their journals.
void removeDeadRuns(int info, int files);

}  // namespace chronosift::trash

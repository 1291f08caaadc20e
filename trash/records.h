// One trash folder in use, and how its records are written. Inside trash/ only.
//
// Promises:
// - Trash folders are opened without following links, must belong to the user, and are closed
//   to mode 0700 when group or others could write into them, before anything is put there. What
//   was in a folder found open to others is never acted on: another user could have planted it.
// - A record is written whole under a temporary name that no trash tool reads
//   (info/.chronosift-ID.tmp), then hard-linked to NAME.trashinfo, which fails when the name is
//   taken: a reader sees a whole record or none, at every moment.
// - Each run keeps a journal (info/.chronosift-ID.journal) of the records it linked, the records
//   of files it is putting back, and every private name it is about to make (a move by link's,
//   a record's on its way out), and holds a lock on it while it lives. The kernel drops the lock
//   when the process ends however it ends, so a journal whose lock can be taken belongs to a dead
//   run. A journal is only read when it is a regular file of the user's, opened without blocking
//   or following a link, and only its entries that name records and private names inside the
//   same info/, or a move with one end in the same files/, are acted on. Of its records, one is
//   removed only when its file is not in files/ (never moved, or already put back) and it is
//   still exactly the record the run wrote: the same inode and the same bytes. A private name is
//   removed only as proved in proven.h. Moves by link a dead run left half done are finished or
//   undone first (finishMove); a run killed while clearing up is cleared up by the next, which
//   finds the same journal again.
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
    std::string note;  // what was found and left alone when it opened, for the caller to report
    // Something of this run could not be finished: its journal is left to the next run.
    bool unfinished = false;

    ~TrashCan();

    // Opens files/ and info/ below `trashFolder` (made when missing) and clears up after dead
    // runs, unless the folder (or, as `wasOpen` says, its caller's) was open to others. False
    // with `reason` set when the folder cannot be used.
    bool open(int trashFolder, std::string& reason, bool wasOpen = false);
    // Clears up what dead runs left in info/ and files/ (see above).
    void clearDeadRuns();

    // Writes `content` as info/`infoName`, whole. 0, EEXIST when the name is taken, or errno.
    int writeRecord(const std::string& infoName, const std::string& content);
    // Removes the record `infoName` while it is the one with inode `inode` and bytes `content`
    // (see removeRecordIfSame). 0, kChanged or errno; on failure the journal is left.
    int dropRecord(const std::string& infoName, uint64_t inode, const std::string& content);
    // Lists a record of a file about to be put back, so that a run killed after the file is back
    // but before the record is gone has it cleared by the next run. 0 or errno. The entries reach
    // the disk with syncJournal, which must come before the files move.
    int journalPutBack(const std::string& infoName, uint64_t inode, const std::string& content);
    // Lists a move by link about to start (see finishMove), so that a run killed part way has it
    // finished or undone by the next. 0 or errno.
    int journalMove(uint64_t inode, const std::string& ownFrom, const std::string& ownTo,
                    const std::string& from, const std::string& to);
    int syncJournal();
    // Brings every record written so far to the disk. 0 or errno.
    int sync();
    // Ends this run's journal: every record it lists is whole and its file has moved. When the
    // run could not finish something, the journal is only closed, for the next run to clear.
    void endRun();

  private:
    bool startJournal(int& error);
    int journal(const std::string& infoName, uint64_t inode, const std::string& content);
    int append(const std::string& entry);
    void clearDeadRun(const std::string& journal);

    platform::Fd journal_;
    std::string id_;  // of this run's journal and temporary record
    platform::Identity journalId_;
};

// Everything left to read from `fd`.
std::string readAll(int fd);

// Opens `name` below `parent` as a folder of the user's, made with mode 0700 when missing,
// without following a link, and closes it to 0700 when others could write into it (then sets
// `*wasOpen`).
platform::Fd openOwnFolder(int parent, const char* name, std::string& reason,
                           bool* wasOpen = nullptr);

}  // namespace chronosift::trash

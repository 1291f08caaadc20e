// Moving one file between two open folders without replacing anything, and only the file that
// was checked. The move, its move back and Undo all go through here, so each checks alike; every
// name is changed through the primitives of proven.h. Inside trash/ only.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "platform/fs.h"
#include "trash/proven.h"

namespace chronosift::trash {

// Called where the file system has no rename that cannot replace, before anything changes, with
// the private names the old name (`ownFrom`, beside it) and the new one (`ownTo`, beside that)
// may be taken off to; a nonzero errno stops the move there. The caller lists the move, so that a
// run killed part way has it finished or undone by the next.
using Announce = std::function<int(const std::string& ownFrom, const std::string& ownTo)>;

struct Relocation {
    enum State {
        Moved,     // the file is at `to` (and where `strandedAs` is set, another file that took
                   // its old name meanwhile could not be given that name back: it is there)
        Stayed,    // nothing moved: the file, if any, is where it was
        Stranded,  // a file that was not the checked one could be put neither there nor back
    } state = Stayed;
    int error = 0;  // for Stayed and Stranded: errno, kChanged (not the checked file), or EEXIST
    int strandedIn = -1;     // the folder (`fromFolder` or `toFolder`) that holds it
    std::string strandedAs;  // its name there
};

// Moves `from` in `fromFolder` to `to` in `toFolder` when it is the file with inode `inode`.
// With a rename that cannot replace where the file system has one; elsewhere the file is linked
// to `to` and checked, and its old name is taken off to `ownFrom` and unlinked only as a second
// name of what reached `to`, so a new version another program saves to the old name meanwhile is
// never removed. A link that is not of the checked file (or a name replaced after the link) is
// taken off to `ownTo` and unlinked only as a second name of what `from` holds. Whatever is found
// not to be the checked file goes back.
Relocation relocate(int fromFolder, const std::string& from, int toFolder, const std::string& to,
                    uint64_t inode, const Announce& announce = {});

// Finishes or undoes a move of `relocate` that a killed run began by link: the file with inode
// `inode` going from `from` to `to` (whole paths), with the private names `ownFrom` and `ownTo`
// it announced. Acts only when the folder of `from` or of `to` is `files` (the trash folder's
// files/ whose journal named it). A file under both names finishes its move; a link of another
// file is undone; a name of ours goes only as a second name of a file that keeps another; whatever
// else is under a private name gets its name back, or stays where it is when the name is taken.
void finishMove(uint64_t inode, const std::string& ownFrom, const std::string& ownTo,
                const std::string& from, const std::string& to, const platform::Identity& files);

// Removes the record `name` of `info` only while it is still the one that was written: inode
// `inode` and bytes `content`. It is first taken off its name to a private name, announced to
// `announce` before it is made, so a record put there meanwhile is never removed and a kill
// leaves nothing the next run cannot finish. 0; kChanged when it is not that record (it stays);
// or errno.
int removeRecordIfSame(int info, const std::string& name, uint64_t inode,
                       const std::string& content,
                       const std::function<int(const std::string& gone)>& announce);

}  // namespace chronosift::trash

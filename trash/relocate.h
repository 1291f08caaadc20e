// Moving one file between two open folders without replacing anything, and only the file that
// was checked. The move, its move back and Undo all go through here, so each checks alike.
// Inside trash/ only.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace chronosift::trash {

// Asked before each system call by name ("renameat2", "rename", "linkat", "unlinkat"); a
// nonzero errno makes that call fail so. For tests.
using FailHook = std::function<int(std::string_view call)>;

// Called where the file system has no rename that cannot replace, before anything changes, with
// the private name the old name will be taken off to; a nonzero errno stops the move there. The
// caller lists the move, so that a run killed part way has it finished or undone by the next.
using Announce = std::function<int(const std::string& own)>;

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
// to `to` and checked, and its old name is taken off to a fresh private name (no other program
// can be using that name) and checked before that is unlinked, so a new version another program
// saves to the old name meanwhile is never removed. Whatever is found not to be the checked file
// goes back.
Relocation relocate(int fromFolder, const std::string& from, int toFolder, const std::string& to,
                    uint64_t inode, const FailHook& fail = {}, const Announce& announce = {});

// Finishes or undoes a move of `relocate` that a killed run began by link: the file with inode
// `inode` going from `from` to `to` (whole paths), its old name taken off to `own` beside it.
// When the file reached `to`, a name of it left under `own` goes; when the old name was not yet
// taken off, the link at `to` goes and nothing has moved; whatever else is under `own` (a version
// another program saved to the old name) gets that name back, or stays where it is when the name
// is taken. Only names that are proved to be the file are removed.
void finishMove(uint64_t inode, const std::string& own, const std::string& from,
                const std::string& to);

// Gives `name` in `folder` back to `back` in `backFolder` without replacing: a rename that
// cannot replace, or a link and an unlink of the name it had (a plain rename only where the file
// system has no links, while `back` is free). 0 or errno.
int giveBack(int folder, const std::string& name, int backFolder, const std::string& back,
             const FailHook& fail = {});

// Whether the record `name` of `info` is the one that was written: a regular file of the user's
// with inode `inode` and bytes `content`, opened without blocking or following a link.
bool sameRecord(int info, const std::string& name, uint64_t inode, const std::string& content);

// Removes the record `name` of `info` only while it is still the one that was written: inode
// `inode` and bytes `content`, a regular file that is opened without blocking or following a
// link. It is first taken off its name, so a record put there meanwhile is never removed.
// 0; kChanged when it is not that record (it stays); or errno.
int removeRecordIfSame(int info, const std::string& name, uint64_t inode,
                       const std::string& content, const FailHook& fail = {});

// A name no other program uses, for a file or record on its way: ".chronosift-PID-RANDOM" and
// `suffix`.
std::string privateName(std::string_view suffix);

}  // namespace chronosift::trash

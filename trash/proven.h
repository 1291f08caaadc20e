// The only calls in trash/ and recycle/ that unlink, rename or link a name. Each proves what it
// acts on first, or acts only on a name it has just made; the build refuses these system calls
// anywhere else in those folders (cmake/check_includes.cmake). Inside trash/ and recycle/ only.
//
// A "private name" is one that `privateName` made: no other program uses it, and the caller lists
// it in its run's journal before it is made, so that a run killed while the name exists has it
// finished or undone by the next run.
//
// What each promises:
// - addName: makes `to` a new name of whatever `from` holds; never replaces. Proves nothing
//   about the file: the caller checks what arrived (identityAt) before acting on it.
// - moveNoReplace: renames without replacing (EINVAL or ENOSYS where the file system cannot).
//   The caller checks what arrived.
// - takeOff: gives `name` the private name `own`, which must not exist: a rename that cannot
//   replace, or a plain rename only while `own` is still free (EINVAL when `own` is not a
//   private name).
// - giveBack: gives the private name `own` back to `back` without ever replacing `back`; where
//   it needs a link and an unlink, the unlink is dropSecondName's. Where the file system has
//   neither a rename that cannot replace nor links, it fails (the link's errno) and `own` stays.
// - dropSecondName: unlinks the private name `own` only while it and `kept` are proved the same
//   file (device and inode) with at least two links: the file keeps its name `kept`.
// - dropRecord: unlinks the private name `own` only while it is proved to be a record that was
//   written: a regular file of the user's, opened without blocking or following a link, with
//   inode `inode` and exactly the bytes `content`.
// - dropOwnFile: unlinks `name` only while it is proved to be the file with identity `id` (a
//   journal or temporary this run made and opened).
// - dropOwnTemp: unlinks `name` only while it is a regular file of the user's, proved by opening
//   it without blocking or following a link (a dead run's temporary record, a stale temporary,
//   a press journal in its folder closed to others).
// - nameOpenFile: gives the unnamed file (O_TMPFILE) this run holds open as `fd` the new name
//   `name`; never replaces.
// None ever replaces a name another program may use.
// Every one asks the test hook (see HookScope) first; 0 or errno, kChanged when not proved.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "platform/fs.h"

namespace chronosift::trash {

// Asked before each system call that changes the disk, by name ("renameat2", "rename", "linkat",
// "unlinkat", "syncfs", "fdatasync"); a nonzero errno makes it fail so. For tests.
using FailHook = std::function<int(std::string_view call)>;

// While it lives, every primitive on this thread asks `hook` first.
class HookScope {
  public:
    explicit HookScope(const FailHook* hook);
    ~HookScope();
    HookScope(const HookScope&) = delete;
    HookScope& operator=(const HookScope&) = delete;

  private:
    const FailHook* previous_;
};

// What the hook says of `call`: 0 to go on, or the errno to fail with.
int injected(std::string_view call);

// A name no other program uses, for a file or record on its way: ".chronosift-PID-RANDOM" and
// `suffix`.
std::string privateName(std::string_view suffix);
// Whether `name` is one privateName made with `suffix`.
bool isPrivateName(std::string_view name, std::string_view suffix);

// What is at `name` in `folder` (not following a link), or a zero identity when nothing is.
platform::Identity identityAt(int folder, const std::string& name);

// Whether the record `name` of `info` is the one that was written: a regular file of the user's
// with inode `inode` and bytes `content`, opened without blocking or following a link.
bool sameRecord(int info, const std::string& name, uint64_t inode, const std::string& content);

int addName(int fromFolder, const std::string& from, int toFolder, const std::string& to);
int moveNoReplace(int fromFolder, const std::string& from, int toFolder, const std::string& to);
int takeOff(int folder, const std::string& name, const std::string& own);
int giveBack(int folder, const std::string& own, int backFolder, const std::string& back);
int dropSecondName(int folder, const std::string& own, int keptFolder, const std::string& kept);
int dropRecord(int info, const std::string& own, uint64_t inode, const std::string& content);
int dropOwnFile(int folder, const std::string& name, const platform::Identity& id);
int dropOwnTemp(int folder, const std::string& name);
int nameOpenFile(int fd, int folder, const std::string& name);

}  // namespace chronosift::trash

// The journals of the presses of "Send Checked Items to Recycling Bin" and of
// `chronosift-find --trash`, kept so that a press can be undone after the program closed, from
// any window or from `chronosift-find --undo-last`, without touching any other press.
//
// - Each press that moved a file has a journal of its own under $XDG_STATE_HOME/chronosift/
//   (normally ~/.local/state/chronosift/), named press-TIME-PID-N: TIME in nanoseconds since
//   1970 with 20 digits, so that names sort by age. It is made with O_EXCL and never replaced.
// - It is text, a line each: the version ("chronosift press journal 2"); "moved N key=value..."
//   for each file that moved, N its place in the press and every value %XX-escaped; "back N" as
//   an Undo puts file N back, or finds it back in place or gone from the trash for good. Only
//   whole lines count: a line cut short by a kill is dropped, and cut off before the next one is
//   added. The journal goes once no file of it is left to put back.
// - Whoever writes or undoes a press holds an exclusive lock (flock) on its journal, so two Undos
//   never take the same press at once; the kernel drops the lock however the process ends.
// - A journal of another version, or damaged, is left as it is and reported, never guessed at.
// - The single last-press journal of earlier versions is taken over as a press of its own; a
//   temporary of one (last-press.XXXXXX) that a kill left and that is old is removed.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "platform/fd.h"
#include "trash/trash.h"

namespace chronosift {

// The folder of the journals; "" when neither $XDG_STATE_HOME nor $HOME is set. It is used only
// when it is a real folder of the user's (not a link); it is made, or closed, to mode 0700.
std::string pressFolder();

// Writes a new journal for the files of a press that moved (other outcomes are left out).
// `path` is set to it, or to "" when none moved (then nothing is written). "" or why not.
std::string writePressJournal(const std::vector<trash::TrashItem>& items,
                              const std::vector<trash::TrashOutcome>& outcomes, std::string& path);

// One press as its journal holds it, open and locked for this process while it lives.
struct PressJournal {
    std::string path;
    // For each file that moved: its place in the press, the file and what the move did.
    std::vector<size_t> places;
    std::vector<trash::TrashItem> items;
    std::vector<trash::TrashOutcome> outcomes;
    std::vector<bool> done;  // back, or gone from the trash for good

    // Records that these files (indexes into `items`) are done; removes the journal when every
    // file is. "" or why not.
    std::string markDone(const std::vector<size_t>& files);

    platform::Fd fd;
    platform::Fd folder;  // the journals' folder, checked to be the user's and closed to others
    size_t length = 0;    // of its whole lines
};

// The newest press with a file left to put back, whichever program made it, locked; null when
// there is none. Each journal that cannot be used (damaged, of another version, not the user's
// own file) is left as it is and adds one line to `problems`; one that a live process holds is
// passed over.
std::unique_ptr<PressJournal> latestPressJournal(std::vector<std::string>& problems);

// Whether any journal is kept, without reading one: a cheap test for offering Undo.
bool anyPressJournal();

}  // namespace chronosift

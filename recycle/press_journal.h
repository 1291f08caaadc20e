// The last press of the trash button, kept on disk so that it can be undone after the program
// has closed: under $XDG_STATE_HOME/chronosift/ (normally ~/.local/state/chronosift/), written
// whole under a new name and renamed into place, so a crash leaves the old journal or the new
// one, never half of either. It holds, for each file that moved, everything Undo checks: the way
// back to its folder with the identity of every folder on it, and its trash folder, name, inode
// and record as written.
#pragma once

#include <string>
#include <vector>

#include "trash/trash.h"

namespace chronosift {

// The journal's path; "" when neither $XDG_STATE_HOME nor $HOME is set.
std::string lastPressPath();

// Writes the moved files of a press (other outcomes are left out); removes the journal when none
// moved. "" or why not.
std::string writePressJournal(const std::string& path, const std::vector<trash::TrashItem>& items,
                              const std::vector<trash::TrashOutcome>& outcomes);

// Reads a journal back. False with `error` empty when there is none, or with `error` set when it
// cannot be read or is damaged (then nothing is trusted from it).
bool readPressJournal(const std::string& path, std::vector<trash::TrashItem>& items,
                      std::vector<trash::TrashOutcome>& outcomes, std::string& error);

}  // namespace chronosift

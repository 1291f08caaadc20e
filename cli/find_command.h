// chronosift-find: the file index and the date search from the command line, for scripts.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "trash/trash.h"

namespace chronosift {

// Runs the command with its arguments (argv[0] is the program name). Writes results to `out`
// and messages to `err`. Returns the exit code: 0; 1 when --trash or --undo-last left a file in
// place, --trash has a note on a file that moved, or --undo-last cannot use a journal; 2 for bad
// usage.
int runFindCommand(int argc, char** argv, std::FILE* out, std::FILE* err);

// What --trash says of a move: one line on `err` for each file that was not moved and for each
// note on one that moved (a save left under another name, say). 1 when any file stayed or has a
// note, else 0.
int reportTrashOutcomes(const std::vector<std::string>& paths,
                        const std::vector<trash::TrashOutcome>& outcomes, std::FILE* err);

}  // namespace chronosift

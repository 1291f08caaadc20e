// chronosift-find: the file index and the date search from the command line, for scripts.
#pragma once

#include <cstdio>

namespace chronosift {

// Runs the command with its arguments (argv[0] is the program name). Writes results to `out`
// and messages to `err`. Returns the exit code: 0; 1 when --trash left a file in place; 2 for bad
// usage.
int runFindCommand(int argc, char** argv, std::FILE* out, std::FILE* err);

}  // namespace chronosift

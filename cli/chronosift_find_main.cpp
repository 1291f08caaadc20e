#include <cstdio>

#include "cli/find_command.h"

int main(int argc, char** argv) {
    return chronosift::runFindCommand(argc, argv, stdout, stderr);
}

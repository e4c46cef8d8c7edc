// orvel-logpipe FILE MAXBYTES: copies its standard input to FILE, moving FILE
// to FILE.1 before it would pass MAXBYTES. The suite server starts one per
// component start when there is no journal; it ends when its input closes.

#include <unistd.h>

#include <cstdint>
#include <iostream>
#include <string>

#include "platform/linux/ComponentOutput.h"

int main(int argc, char** argv) {
    std::uint64_t maxBytes = 0;
    try {
        if (argc == 3) maxBytes = std::stoull(argv[2]);
    } catch (const std::exception&) {
        maxBytes = 0;
    }
    if (argc != 3 || maxBytes == 0) {
        std::cerr << "Usage: orvel-logpipe FILE MAXBYTES (started by Orvel_Server)\n";
        return 2;
    }
    return orvel::platform::RunLogPipe(STDIN_FILENO, argv[1], maxBytes);
}

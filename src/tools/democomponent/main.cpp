// The demo suite's component server stand-in: runs until asked to end
// (SIGTERM, SIGINT or SIGHUP), then exits cleanly.

#include <signal.h>

#include <cstdio>
#include <cstring>

int main(int argc, char** argv) {
    if (argc > 1) {
        bool help = std::strcmp(argv[1], "--help") == 0;
        std::fprintf(help ? stdout : stderr,
                     "%sUsage: %s\nA component server stand-in of the Orvel demo suite: it runs "
                     "until it receives SIGTERM, SIGINT or SIGHUP.\n",
                     help ? "" : "unknown argument\n", argv[0]);
        return help ? 0 : 2;
    }
    sigset_t endSignals;
    sigemptyset(&endSignals);
    sigaddset(&endSignals, SIGTERM);
    sigaddset(&endSignals, SIGINT);
    sigaddset(&endSignals, SIGHUP);
    sigprocmask(SIG_BLOCK, &endSignals, nullptr);
    int received = 0;
    sigwait(&endSignals, &received);
    return 0;
}

// The test RTSP server as a process of its own, for the real viewer:
//   rtsp_test_server PORT_FILE [guarded]
// (guarded: "/guarded" alone, by Digest over TCP) writes its port to PORT_FILE, stops on SIGUSR1 (dropping every client), comes
// back on the same port on SIGUSR2, and ends on SIGTERM or SIGINT.
#include <csignal>
#include <cstdio>
#include <fstream>
#include <string_view>

#include "tests/support/RtspServer.h"

int main(int argc, char** argv) {
    const bool guarded = argc == 3 && std::string_view(argv[2]) == "guarded";
    if (argc != 2 && !guarded) {
        std::fprintf(stderr, "usage: rtsp_test_server PORT_FILE [guarded]\n");
        return 2;
    }
    sigset_t signals;
    sigemptyset(&signals);
    for (const int number : {SIGUSR1, SIGUSR2, SIGTERM, SIGINT}) {
        sigaddset(&signals, number);
    }
    // Blocked before any thread starts, so that every thread leaves them to sigwait.
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
    testing_support::RtspServer server(
        0, guarded ? testing_support::RtspServer::Guarded::Yes : testing_support::RtspServer::Guarded::No);
    std::ofstream(argv[1]) << server.port() << '\n';
    while (true) {
        int number = 0;
        sigwait(&signals, &number);
        if (number == SIGUSR1) {
            server.stop();
        } else if (number == SIGUSR2) {
            server.start();
        } else {
            return 0;
        }
    }
}

// Suites that talk to an X server themselves, without the toolkit: one Xvfb
// of their own for the whole run.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>

#include "tests/support/ViewerHarness.h"

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    const viewer_harness::XServer server;
    if (server.display().empty()) {
        std::fprintf(stderr, "Xvfb did not start\n");
        return 1;
    }
    setenv("DISPLAY", server.display().c_str(), 1);
    return RUN_ALL_TESTS();
}

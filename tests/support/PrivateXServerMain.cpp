#include "tests/support/ViewerHarness.h"

int main(int argc, char** argv) {
    return viewer_harness::runWithPrivateXServer(argc, argv);
}

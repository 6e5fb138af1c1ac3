// Widget suites run headless unless a platform is chosen, in one application object.
#include <gtest/gtest.h>

#include <cstdlib>

#include "app/QuadviewApplication.h"

int main(int argc, char** argv) {
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    ::testing::InitGoogleTest(&argc, argv);
    QuadviewApplication app(argc, argv);
    return RUN_ALL_TESTS();
}

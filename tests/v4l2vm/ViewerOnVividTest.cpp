// The whole viewer on vivid's capture nodes, inside the test guest: quadview
// with the V4L2 capture library beside it, F1 twice, and every camera window
// shows the driver's colour bars.
#include <gtest/gtest.h>

#include <thread>

#include "tests/support/ViewerHarness.h"

namespace {

using namespace std::chrono_literals;
using namespace viewer_harness;

// Shares of the area in vivid's yellow and cyan bars (75 %: about 191).
struct BarShares {
    double yellow = 0;
    double cyan = 0;
};

BarShares barShares(const QImage& image, const QRect& area) {
    int yellow = 0;
    int cyan = 0;
    for (int y = area.top(); y <= area.bottom(); ++y) {
        for (int x = area.left(); x <= area.right(); ++x) {
            const QColor colour = image.pixelColor(x, y);
            const bool high = colour.green() > 150;
            yellow += high && colour.red() > 150 && colour.blue() < 60 ? 1 : 0;
            cyan += high && colour.blue() > 150 && colour.red() < 60 ? 1 : 0;
        }
    }
    const double pixels = double(area.width()) * area.height();
    return {yellow / pixels, cyan / pixels};
}

TEST(ViewerOnVivid, SecondF1ShowsTheDriversPatternInAllFourWindows) {
    Process viewer({(binaries() / "quadview").string()}, "/tmp/viewer.log");
    const std::string form = findWindow("Form1");
    ASSERT_FALSE(form.empty()) << readAll("/tmp/viewer.log");
    pressKeys(form, "F1");
    std::this_thread::sleep_for(3s);
    pressKeys(form, "F1");
    std::this_thread::sleep_for(4s);  // the guest runs under software emulation
    const QImage live = screenshot();
    live.save("/tmp/viewer-on-vivid.png");
    for (const QRect& quadrant : tiledQuadrants()) {
        const BarShares shares = barShares(live, quadrant);
        EXPECT_GT(shares.yellow, 0.08) << "the yellow bar in " << quadrant.x() << "," << quadrant.y();
        EXPECT_GT(shares.cyan, 0.08) << "the cyan bar in " << quadrant.x() << "," << quadrant.y();
    }
    pressKeys(form, "F2");
    EXPECT_EQ(viewer.wait(20s), std::optional<int>(0));
}

}  // namespace

int main(int argc, char** argv) {
    return viewer_harness::runWithPrivateXServer(argc, argv);
}

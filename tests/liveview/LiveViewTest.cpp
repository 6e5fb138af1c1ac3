#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <list>
#include <memory>
#include <thread>

#include "liveview/LiveView.h"
#include "tests/support/FakeCard.h"
#include "tests/support/TestCameras.h"
#include "tests/support/TestPlatform.h"
#include "tests/support/Waiting.h"

namespace {

using namespace std::chrono_literals;
using testing_support::Eventually;
using testing_support::FakeCard;
using testing_support::SolidFrame;
using testing_support::TestCameras;
using testing_support::ThreadCount;

constexpr std::uint32_t White = 0xFFFFFFFFu;
constexpr std::uint32_t Red = 0xFFFF0000u;
constexpr std::uint32_t Green = 0xFF00FF00u;
constexpr std::uint32_t Blue = 0xFF0000FFu;

// Signals all four channels over and over, as a card delivering at full speed.
class Flood {
  public:
    Flood(const FakeCard& card, std::chrono::microseconds pause)
        : thread_([this, &card, pause] {
              while (running_) {
                  for (ChannelIndex channel = 0; channel < 4; ++channel) {
                      card.signal(channel);
                  }
                  std::this_thread::sleep_for(pause);
              }
          }) {}
    ~Flood() {
        running_ = false;
        thread_.join();
    }

  private:
    std::atomic<bool> running_{true};
    std::thread thread_;
};

class LiveViewTest : public ::testing::Test {
  protected:
    void TearDown() override {
        ReleaseLiveView();
        EXPECT_EQ(LiveView.Worker, nullptr);
    }
    // Signals a channel and waits until the worker has drawn that frame and reset the event.
    void deliver(ChannelIndex channel) {
        const std::size_t before = card.fetchCount();
        card.signal(channel);
        ASSERT_TRUE(Eventually([&] { return card.fetchCount() > before && !card.isSignalled(channel); }));
        // The reset follows the draw, so the surface is final once the event is clear.
    }

    // Hands a frame to the card; it lives until after TearDown, as a worker may read it until then.
    void useFrame(ChannelIndex channel, std::vector<std::uint8_t> pixels, int width, int height) {
        card.setFrame(channel, frames.emplace_back(std::move(pixels)).data(), width, height);
    }

    std::list<std::vector<std::uint8_t>> frames;
    FakeCard card;
    CaptureLibrary capture = card.library();
    TestCameras cameras;
};

TEST_F(LiveViewTest, StartReachesTheLibraryInOrderAndPaintsCamera1White) {
    StartLiveView(capture, cameras.handles());
    std::vector<std::string> expected;
    for (int channel = 0; channel < 4; ++channel) {
        expected.push_back("StopChannel " + std::to_string(channel));
        expected.push_back("SetChannelFlag " + std::to_string(channel) + " 0");
    }
    for (int channel = 0; channel < 4; ++channel) {
        expected.push_back("GetChannelEvent " + std::to_string(channel));
    }
    for (int channel = 0; channel < 4; ++channel) {
        const std::string n = std::to_string(channel);
        expected.insert(expected.end(), {"SetChannelPixelBytes " + n + " 3", "SetChannelMode " + n + " 0",
                                         "GetChannelFrame " + n, "StartChannel " + n + " -1"});
    }
    EXPECT_EQ(card.calls(), expected);
    EXPECT_FALSE(card.isSignalled(0)) << "a first start sends no stop request";

    EXPECT_EQ(cameras.at(0, 0, 0), White);
    EXPECT_EQ(cameras.at(0, 639, 479), White);
    EXPECT_FALSE(cameras.drawn(1)) << "only Camera1 turns white";
    EXPECT_EQ(LiveView.FrameWidth, 640);
    EXPECT_EQ(LiveView.FrameHeight, 480);
    EXPECT_EQ(LiveView.StagingInfo.biHeight, -480);
    EXPECT_EQ(LiveView.StagingInfo.biBitCount, 24);
    EXPECT_EQ(LiveView.CopyTarget, LiveView.Pixels);
}

TEST_F(LiveViewTest, PureColoursReachTheWindowAsSuch) {
    useFrame(1, SolidFrame(640, 480, 0, 0, 255), 640, 480);
    useFrame(2, SolidFrame(640, 480, 0, 255, 0), 640, 480);
    useFrame(3, SolidFrame(640, 480, 255, 0, 0), 640, 480);
    StartLiveView(capture, cameras.handles());
    deliver(1);
    deliver(2);
    deliver(3);
    EXPECT_EQ(cameras.at(1, 10, 10), Red);
    EXPECT_EQ(cameras.at(2, 639, 479), Green);
    EXPECT_EQ(cameras.at(3, 320, 240), Blue);
}

TEST_F(LiveViewTest, LowestChannelFirstOneFramePerPass) {
    StartLiveView(capture, cameras.handles());
    card.closeGate();
    card.signal(0);
    ASSERT_TRUE(card.waitAtGate());  // the worker is inside channel 0's pass
    card.signal(3);
    card.signal(1);
    card.signal(2);
    card.clearFetches();
    card.openGate();
    ASSERT_TRUE(Eventually([&] { return card.fetchOrder().size() >= 4; }));
    const std::vector<ChannelIndex> order = card.fetchOrder();
    EXPECT_EQ(std::vector<ChannelIndex>(order.begin(), order.begin() + 4),
              (std::vector<ChannelIndex>{0, 1, 2, 3}));
}

TEST_F(LiveViewTest, SmallFrameLandsTopLeftAndTheRestKeepsEarlierContent) {
    useFrame(0, SolidFrame(640, 480, 255, 0, 0), 640, 480);
    useFrame(1, SolidFrame(320, 240, 0, 0, 255), 320, 240);
    StartLiveView(capture, cameras.handles());
    deliver(0);
    deliver(1);
    EXPECT_EQ(cameras.at(1, 0, 0), Red);
    EXPECT_EQ(cameras.at(1, 319, 239), Red);
    EXPECT_EQ(cameras.at(1, 320, 0), Blue) << "channel 0's frame is still in the staging bitmap";
    EXPECT_EQ(cameras.at(1, 0, 240), Blue);
    EXPECT_TRUE(cameras.drawn(1)) << "the window receives the full area";
}

TEST_F(LiveViewTest, SourceRowsArePackedAndStagingRowsAre640Wide) {
    // A 3-pixel-wide frame whose second row is green: rows are 9 bytes apart.
    std::vector<std::uint8_t> frame = SolidFrame(3, 2, 0, 0, 255);
    for (int x = 0; x < 3; ++x) {
        frame[9 + 3 * x] = 0;
        frame[9 + 3 * x + 1] = 255;
        frame[9 + 3 * x + 2] = 0;
    }
    useFrame(2, std::move(frame), 3, 2);
    StartLiveView(capture, cameras.handles());
    deliver(2);
    EXPECT_EQ(cameras.at(2, 2, 0), Red);
    EXPECT_EQ(cameras.at(2, 0, 1), Green);
    EXPECT_EQ(cameras.at(2, 3, 0), White);
}

TEST_F(LiveViewTest, EmptyNullAndNegativeFramesCopyNothingButStillDraw) {
    const auto& red = frames.emplace_back(SolidFrame(640, 480, 0, 0, 255));
    const std::vector<std::tuple<const std::uint8_t*, int, int>> cases{
        {red.data(), 0, 0}, {nullptr, 640, 480}, {red.data(), -640, 480}, {red.data(), 640, -1}};
    StartLiveView(capture, cameras.handles());
    ChannelIndex channel = 1;
    for (const auto& [pixels, width, height] : cases) {
        card.setFrame(channel, pixels, width, height);
        deliver(channel);
        EXPECT_EQ(cameras.at(channel, 0, 0), White) << width << " x " << height;
        EXPECT_TRUE(cameras.drawn(channel)) << "drawn all the same";
        channel = static_cast<ChannelIndex>(channel % 3 + 1);
    }
}

TEST_F(LiveViewTest, OversizeFrameIsClippedToTheStagingBitmap) {
    std::vector<std::uint8_t> big = SolidFrame(800, 600, 0, 0, 255);
    // The pixel at (639, 479) of the 800-wide frame is blue; (640, 479) is beyond the staging bitmap.
    const std::size_t at = (479 * 800 + 639) * 3;
    big[at] = 255;
    big[at + 2] = 0;
    useFrame(3, std::move(big), 800, 600);
    StartLiveView(capture, cameras.handles());
    deliver(3);
    EXPECT_EQ(cameras.at(3, 639, 479), Blue);
    EXPECT_EQ(cameras.at(3, 0, 0), Red);
}

TEST_F(LiveViewTest, RestartUnderFullLoadLeavesExactlyOneWorker) {
    for (ChannelIndex channel = 0; channel < 4; ++channel) {
        useFrame(channel, SolidFrame(640, 480, 10, 20, 30), 640, 480);
    }
    const Flood flood(card, 0us);
    const int baseline = ThreadCount();
    for (int restart = 0; restart < 200; ++restart) {
        StartLiveView(capture, cameras.handles());
    }
    EXPECT_TRUE(Eventually([&] { return ThreadCount() == baseline + 1; }))
        << ThreadCount() - baseline << " workers";
    card.clearFetches();
    const std::size_t before = card.fetchCount();
    ASSERT_TRUE(Eventually([&] { return card.fetchCount() > before + 20; }));
    EXPECT_EQ(card.fetchingThreads().size(), 1u);
    ReleaseLiveView();
    EXPECT_TRUE(Eventually([&] { return ThreadCount() == baseline; }));
}

TEST_F(LiveViewTest, ShutdownWhileFramesFlowReleasesEverythingSafely) {
    for (ChannelIndex channel = 0; channel < 4; ++channel) {
        useFrame(channel, SolidFrame(640, 480, 1, 2, 3), 640, 480);
    }
    const Flood flood(card, 100us);
    for (int run = 0; run < 50; ++run) {
        // Fresh windows every run: once released, the old ones are destroyed at once.
        auto windows = std::make_unique<TestCameras>();
        StartLiveView(capture, windows->handles());
        std::this_thread::sleep_for(2ms);
        ReleaseLiveView();
        EXPECT_EQ(LiveView.Worker, nullptr);
        EXPECT_EQ(LiveView.OffscreenBitmap, nullptr);
        EXPECT_EQ(LiveView.OffscreenDC, nullptr);
        EXPECT_EQ(LiveView.WindowDC[0], nullptr);
        windows.reset();
    }
}

TEST_F(LiveViewTest, FailedWaitPausesAndTouchesNothing) {
    card.replaceEvent(2, testing_support::InvalidEvent());  // a wait including this fails at once
    StartLiveView(capture, cameras.handles());
    card.signal(0);
    EXPECT_LT(testing_support::CpuUsedDuring(100ms), 50ms) << "a failing wait must not spin a core";
    EXPECT_EQ(card.fetchCount(), 0u) << "no library call for a wait that failed";
    EXPECT_TRUE(card.isSignalled(0)) << "no event reset either";
    EXPECT_FALSE(cameras.drawn(1));
}

TEST_F(LiveViewTest, RestartStopsTheOldWorkerThroughChannelZero) {
    StartLiveView(capture, cameras.handles());
    deliver(1);
    card.clearFetches();
    card.clearCalls();
    StartLiveView(capture, cameras.handles());
    EXPECT_EQ(card.calls().front(), "StopChannel 0");
    // The stop request signals channel 0: a waiting worker handles it once more
    // before it leaves; otherwise the new worker finds it still signalled.
    ASSERT_TRUE(Eventually([&] { return !card.fetchOrder().empty() && !card.isSignalled(0); }));
    EXPECT_EQ(card.fetchOrder().front(), 0);
    EXPECT_NE(LiveView.Worker, nullptr);
}

TEST(FrameCopy, ClipsToTheTargetAndSkipsBadInput) {
    std::vector<std::uint8_t> target(4 * 2 * 3, 0xEE);
    const std::vector<std::uint8_t> source = SolidFrame(5, 3, 1, 2, 3);
    CopyFrameRows(source.data(), 5, 3, target.data(), 4, 2, 3);
    EXPECT_EQ(target[0], 1);
    EXPECT_EQ(target.back(), 3);
    std::vector<std::uint8_t> untouched(target.size(), 0xEE);
    CopyFrameRows(nullptr, 5, 3, untouched.data(), 4, 2, 3);
    CopyFrameRows(source.data(), 0, 3, untouched.data(), 4, 2, 3);
    CopyFrameRows(source.data(), 5, -3, untouched.data(), 4, 2, 3);
    CopyFrameRows(source.data(), 5, 3, nullptr, 4, 2, 3);
    EXPECT_EQ(untouched, std::vector<std::uint8_t>(target.size(), 0xEE));
}

}  // namespace

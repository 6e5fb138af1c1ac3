#include <gtest/gtest.h>
#include <poll.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <filesystem>
#include <functional>
#include <thread>

#include "abi/kesmacap.h"
#include "kesmacap/card/Card.h"
#include "kesmacap/v4l2/V4l2Source.h"
#include "tests/support/CardConformance.h"
#include "tests/support/FakeV4l2System.h"
#include "tests/support/ImageFiles.h"
#include "tests/support/ScratchFolder.h"
#include "tests/support/TestPlatform.h"
#include "tests/support/Waiting.h"

namespace kesmacap {
namespace {

using namespace std::chrono_literals;
using testing_support::CardConformance;
using testing_support::Eventually;
using testing_support::FakeDeviceSpec;
using testing_support::FakeV4l2System;

using Frame = testing_support::CardFrame;

// A card over fake devices "/dev/video0" ... as given.
class V4l2Card : public ::testing::Test {
  protected:
    void makeCard(const std::vector<std::pair<std::string, FakeDeviceSpec>>& devices) {
        auto system = std::make_unique<FakeV4l2System>();
        fake = system.get();
        std::vector<std::string> paths;
        for (const auto& [path, spec] : devices) {
            fake->addDevice(path, spec);
            paths.push_back(path);
        }
        card = std::make_unique<Card>([&](Channels& channels) {
            return std::make_unique<V4l2Source>(channels, std::move(system), paths);
        });
    }
    Frame frameOf(std::uint16_t channel) { return testing_support::FrameOf(*card, channel); }
    // Starts a channel and waits for the frame pushed now to arrive.
    void startAndDeliver(std::uint16_t channel, const std::string& path, std::uint8_t red) {
        ASSERT_EQ(card->OpenChannel(channel), 0);
        ASSERT_EQ(card->StartChannel(channel, -1), 0);
        deliver(channel, path, red);
    }
    void deliver(std::uint16_t channel, const std::string& path, std::uint8_t red) {
        const std::int32_t before = frameOf(channel).sequence;
        ASSERT_TRUE(fake->pushFrame(path, 1, 2, red));
        ASSERT_TRUE(Eventually([&] { return frameOf(channel).sequence > before; }));
    }
    std::int32_t state(std::uint16_t channel) {
        std::int32_t value = -1;
        card->QueryChannelState(channel, &value);
        return value;
    }

    FakeV4l2System* fake = nullptr;
    std::unique_ptr<Card> card;
};

TEST_F(V4l2Card, ExactFormatStreamsFramesAndRequeuesEveryBuffer) {
    makeCard({{"/dev/video0", {}}});
    int event = -1;
    card->GetChannelEvent(0, &event);
    startAndDeliver(0, "/dev/video0", 200);
    pollfd entry{event, POLLIN, 0};
    EXPECT_EQ(poll(&entry, 1, 0), 1) << "the event fires per frame";
    for (std::uint8_t red = 10; red < 30; ++red) {
        deliver(0, "/dev/video0", red);
        const Frame frame = frameOf(0);
        ASSERT_EQ(frame.width, 640);
        ASSERT_EQ(frame.height, 480);
        EXPECT_EQ(frame.pixels[2], red);
        EXPECT_EQ(frame.pixels[640 * 480 * 3 - 3], 1);
    }
    EXPECT_TRUE(Eventually([&] { return fake->queuedBuffers("/dev/video0") == V4l2Source::BufferCount; }))
        << "every buffer goes back to the driver";
}

TEST_F(V4l2Card, SmallerDeviceSizeIsDeliveredAsIs) {
    makeCard({{"/dev/video0", {true, 320, 240, V4L2_PIX_FMT_BGR24, 0}}});
    startAndDeliver(0, "/dev/video0", 99);
    const Frame frame = frameOf(0);
    EXPECT_EQ(frame.width, 320);
    EXPECT_EQ(frame.height, 240);
    EXPECT_EQ(frame.pixels[320 * 240 * 3 - 1], 99);
}

TEST_F(V4l2Card, LargerDeviceSizeIsClippedWithItsLinePadding) {
    makeCard({{"/dev/video0", {true, 800, 600, V4L2_PIX_FMT_BGR24, 800 * 3 + 64}}});
    startAndDeliver(0, "/dev/video0", 77);
    const Frame frame = frameOf(0);
    EXPECT_EQ(frame.width, 640);
    EXPECT_EQ(frame.height, 480);
    EXPECT_EQ(frame.pixels[640 * 3 + 2], 77) << "rows packed at 640 x 3 bytes";
    EXPECT_EQ(frame.pixels[640 * 480 * 3 - 1], 77);
}

TEST_F(V4l2Card, UnsupportedFormatRefusesToOpen) {
    makeCard({{"/dev/video0", {true, 640, 480, V4L2_PIX_FMT_YUYV, 0}}});
    EXPECT_EQ(card->OpenChannel(0), EINVAL);
    EXPECT_EQ(state(0), 0);
    EXPECT_FALSE(fake->isOpen("/dev/video0")) << "the device is closed again";
}

TEST_F(V4l2Card, ChannelWithoutDeviceFailsWithEnodevAndOthersWork) {
    makeCard({{"/dev/video0", {}}, {"/dev/video1", {}}});
    EXPECT_EQ(card->OpenChannel(2), ENODEV);
    EXPECT_EQ(card->OpenChannel(3), ENODEV);
    EXPECT_NE(frameOf(3).result, 0);
    EXPECT_EQ(frameOf(3).pixels, nullptr);
    startAndDeliver(1, "/dev/video1", 50);
    EXPECT_EQ(frameOf(1).pixels[2], 50);
}

TEST_F(V4l2Card, LostDeviceStopsItsChannelKeepsThePictureAndSparesTheOthers) {
    makeCard({{"/dev/video0", {}}, {"/dev/video1", {}}});
    startAndDeliver(0, "/dev/video0", 123);
    startAndDeliver(1, "/dev/video1", 45);
    fake->fail("/dev/video0", ENODEV);
    ASSERT_TRUE(Eventually([&] { return state(0) == 1; })) << "open, no longer started";
    EXPECT_LT(testing_support::CpuUsedDuring(100ms), 50ms) << "a dead device, still readable, must not spin";
    EXPECT_EQ(frameOf(0).pixels[2], 123) << "the last picture stays";

    deliver(1, "/dev/video1", 46);
    EXPECT_EQ(frameOf(1).pixels[2], 46);

    const testing_support::ScratchFolder folder("v4l2-save");
    ASSERT_EQ(card->SaveChannelPicture(0, (folder / "lost.png").c_str(), KESMACAP_FORMAT_PNG, 50), 0);
    const auto image = testing_support::ReadPng((folder / "lost-1.png").string());
    ASSERT_TRUE(image.valid());
    EXPECT_EQ(image.bgr[2], 123);

    EXPECT_EQ(card->StartChannel(0, -1), ENODEV) << "an unplugged device stays gone";
    EXPECT_EQ(card->StopChannel(0), 0);
    EXPECT_EQ(card->CloseChannel(0), 0);
    EXPECT_FALSE(fake->isOpen("/dev/video0"));
}

TEST_F(V4l2Card, BrokenDeviceIsStoppedAndAnswersItsErrorUntilClosed) {
    makeCard({{"/dev/video0", {}}});
    startAndDeliver(0, "/dev/video0", 3);
    fake->fail("/dev/video0", EIO);
    ASSERT_TRUE(Eventually([&] { return state(0) == 1; }));
    EXPECT_FALSE(fake->isStreaming("/dev/video0")) << "the back end turned streaming off";
    EXPECT_EQ(card->StartChannel(0, -1), EIO);
    EXPECT_EQ(card->CloseChannel(0), 0);
    EXPECT_EQ(fake->mappedBuffers(), 0u);
}

TEST_F(V4l2Card, OneDequeuePerReadinessSoLibv4l2LogsNothing) {
    makeCard({{"/dev/video0", {}}});
    startAndDeliver(0, "/dev/video0", 1);
    for (std::uint8_t red = 2; red < 30; ++red) {
        deliver(0, "/dev/video0", red);
    }
    ASSERT_TRUE(fake->pushFrame("/dev/video0", 1, 2, 40));
    ASSERT_TRUE(fake->pushFrame("/dev/video0", 1, 2, 41));
    EXPECT_TRUE(Eventually([&] { return frameOf(0).pixels[2] == 41; })) << "two ready frames both taken";
    EXPECT_EQ(fake->emptyDequeues("/dev/video0"), 0);
}

TEST_F(V4l2Card, HighestFrameRateTheDeviceOffers) {
    FakeDeviceSpec discrete;
    discrete.frameIntervals = {{1, 5}, {1, 25}, {1, 15}, {2, 25}};
    FakeDeviceSpec stepwise;
    stepwise.frameIntervals = {{1, 60}, {1, 1}};
    stepwise.stepwiseIntervals = true;
    FakeDeviceSpec fixedRate;  // no rate control at all
    makeCard({{"/dev/video0", discrete}, {"/dev/video1", stepwise}, {"/dev/video2", fixedRate}});
    for (std::uint16_t channel = 0; channel < 3; ++channel) {
        ASSERT_EQ(card->OpenChannel(channel), 0);
    }
    const v4l2_fract fastest = fake->frameInterval("/dev/video0");
    EXPECT_EQ(fastest.numerator, 1u);
    EXPECT_EQ(fastest.denominator, 25u);
    const v4l2_fract stepped = fake->frameInterval("/dev/video1");
    EXPECT_EQ(stepped.numerator, 1u);
    EXPECT_EQ(stepped.denominator, 60u);
    ASSERT_EQ(card->StartChannel(2, -1), 0) << "a device without rate control runs at its own";
    deliver(2, "/dev/video2", 5);
}

TEST_F(V4l2Card, SpuriousReadinessIsNoFrameAndNoFailure) {
    makeCard({{"/dev/video0", {}}});
    startAndDeliver(0, "/dev/video0", 1);
    const std::int32_t sequence = frameOf(0).sequence;
    fake->spuriousWakeUp("/dev/video0");
    std::this_thread::sleep_for(20ms);  // give the capture thread the chance to get it wrong
    EXPECT_EQ(frameOf(0).sequence, sequence);
    EXPECT_EQ(state(0), 2);
    deliver(0, "/dev/video0", 2);
    EXPECT_EQ(frameOf(0).pixels[2], 2);
}

TEST_F(V4l2Card, StopTurnsStreamingOffAndCloseGivesEverythingBack) {
    makeCard({{"/dev/video0", {}}});
    for (int pass = 0; pass < 2; ++pass) {
        startAndDeliver(0, "/dev/video0", 9);
        EXPECT_EQ(card->StopChannel(0), 0);
        EXPECT_FALSE(fake->isStreaming("/dev/video0"));
        std::this_thread::sleep_for(5ms);  // the capture thread goes round while the channel is stopped
        EXPECT_FALSE(fake->isCapturing("/dev/video0"));
        EXPECT_EQ(frameOf(0).pixels[2], 9) << "the last frame stays after a stop";
        ASSERT_EQ(card->StartChannel(0, -1), 0);
        deliver(0, "/dev/video0", 10);
        EXPECT_EQ(card->CloseChannel(0), 0) << "closed while streaming";
        EXPECT_FALSE(fake->isOpen("/dev/video0"));
        EXPECT_EQ(fake->mappedBuffers(), 0u) << "every buffer unmapped";
    }
}

TEST_F(V4l2Card, QuickReopeningNeverTakesTheNewDeviceForTheOld) {
    // A closed descriptor's number comes back for the next open; a wait result
    // for the old one must not stop the new one.
    makeCard({{"/dev/video0", {}}});
    for (int cycle = 0; cycle < 100; ++cycle) {
        startAndDeliver(0, "/dev/video0", static_cast<std::uint8_t>(cycle));
        ASSERT_EQ(card->CloseChannel(0), 0);
    }
}

TEST(V4l2Devices, ConfiguredListWinsElseCaptureNodesInNumericOrder) {
    FakeV4l2System system;
    system.addDevice("/dev/video10", {});
    system.addDevice("/dev/video2", {});
    system.addDevice("/dev/video1", {false});  // a metadata node
    system.addDevice("/dev/video0", {});
    system.addNode("/dev/video7");  // cannot be opened
    EXPECT_EQ(ResolveV4l2Devices(system, nullptr),
              (std::vector<std::string>{"/dev/video0", "/dev/video2", "/dev/video10"}));
    EXPECT_EQ(ResolveV4l2Devices(system, "/dev/a,/dev/b"), (std::vector<std::string>{"/dev/a", "/dev/b"}));
    EXPECT_EQ(ResolveV4l2Devices(system, ""), ResolveV4l2Devices(system, nullptr));
}

// The ABI's rules, over four fake devices that bring a frame whenever the suite asks.
class FakeDeviceCard final : public testing_support::OwnedCard<Card> {
  public:
    FakeDeviceCard(std::unique_ptr<Card> card, FakeV4l2System& fake)
        : OwnedCard<Card>(std::move(card)), fake_(fake) {}
    void feed(std::uint16_t channel) override {
        fake_.pushFrame("/dev/video" + std::to_string(channel), 0, 0, ++colour_);
    }

  private:
    FakeV4l2System& fake_;
    std::atomic<std::uint8_t> colour_{0};  // the suite feeds from several threads
};

std::unique_ptr<testing_support::CardUnderTest> fakeDeviceCard() {
    auto system = std::make_unique<FakeV4l2System>();
    FakeV4l2System& fake = *system;
    std::vector<std::string> paths;
    for (int channel = 0; channel < ChannelCount; ++channel) {
        paths.push_back("/dev/video" + std::to_string(channel));
        fake.addDevice(paths.back(), {});
    }
    auto card = std::make_unique<Card>(
        [&](Channels& channels) { return std::make_unique<V4l2Source>(channels, std::move(system), paths); });
    return std::make_unique<FakeDeviceCard>(std::move(card), fake);
}

INSTANTIATE_TEST_SUITE_P(V4l2OverFakeDevices, CardConformance,
                         testing::Values(testing_support::ConformanceTarget{"FakeDevices", fakeDeviceCard}),
                         testing_support::ConformanceName);

}  // namespace
}  // namespace kesmacap

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <thread>
#include <vector>

#include "kesmacap/card/Card.h"
#include "kesmacap/sim/SimulatedSource.h"
#include "tests/support/CardConformance.h"
#include "tests/support/ImageFiles.h"
#include "tests/support/TestPlatform.h"

namespace kesmacap {
namespace {

using namespace std::chrono_literals;

std::unique_ptr<Card> makeCard(double framesPerSecond) {
    return std::make_unique<Card>(
        [&](Channels& channels) { return std::make_unique<SimulatedSource>(channels, framesPerSecond); });
}

using testing_support::CardConformance;
using testing_support::Reset;
using testing_support::WaitSignalled;

using Frame = testing_support::CardFrame;

Frame frameOf(Card& card, std::uint16_t channel) {
    return testing_support::FrameOf(card, channel);
}

TEST(SimulatedCard, FramesArriveAtAboutTheSetRateWithOneEventEach) {
    auto card = makeCard(50);
    kesmacap_event event{};
    ASSERT_EQ(card->GetChannelEvent(2, &event), 0);
    ASSERT_EQ(card->OpenChannel(2), 0);
    EXPECT_FALSE(WaitSignalled(event, 100)) << "no event before StartChannel";
    ASSERT_EQ(card->StartChannel(2, -1), 0);

    ASSERT_TRUE(WaitSignalled(event, 1000));
    const std::int32_t first = frameOf(*card, 2).sequence;
    Reset(event);
    int wakeUps = 0;
    const auto start = std::chrono::steady_clock::now();
    while (std::chrono::steady_clock::now() - start < 600ms) {
        if (WaitSignalled(event, 100)) {
            Reset(event);
            ++wakeUps;
        }
    }
    const std::int32_t frames = frameOf(*card, 2).sequence - first;
    EXPECT_GE(frames, 20);
    EXPECT_LE(frames, 40);
    EXPECT_GE(wakeUps, frames * 3 / 4) << "an event per frame";
    EXPECT_EQ(card->StopChannel(2), 0);
    std::this_thread::sleep_for(60ms);
    Reset(event);
    EXPECT_FALSE(WaitSignalled(event, 100)) << "no event after StopChannel";
}

TEST(SimulatedCard, StillPictureBeforeStartAndAfterStop) {
    auto card = makeCard(200);
    ASSERT_EQ(card->OpenChannel(0), 0);
    const Frame before = frameOf(*card, 0);
    ASSERT_EQ(before.result, 0);
    ASSERT_NE(before.pixels, nullptr);
    EXPECT_EQ(before.width, 640);
    EXPECT_EQ(before.height, 480);
    const std::vector<std::uint8_t> still(before.pixels, before.pixels + 640 * 480 * 3);

    kesmacap_event event{};
    card->GetChannelEvent(0, &event);
    card->StartChannel(0, -1);
    ASSERT_TRUE(WaitSignalled(event, 1000));
    const Frame live = frameOf(*card, 0);
    EXPECT_NE(std::memcmp(live.pixels, still.data(), still.size()), 0) << "live differs from the still card";

    card->StopChannel(0);
    const Frame after = frameOf(*card, 0);
    ASSERT_NE(after.pixels, nullptr);
    EXPECT_EQ(std::memcmp(after.pixels, still.data(), still.size()), 0);
}

TEST(SimulatedCard, ChannelsHaveDistinctPictures) {
    auto card = makeCard(30);
    std::vector<std::vector<std::uint8_t>> pictures;
    for (std::uint16_t channel = 0; channel < 4; ++channel) {
        card->OpenChannel(channel);
        const Frame frame = frameOf(*card, channel);
        pictures.emplace_back(frame.pixels, frame.pixels + 640 * 480 * 3);
    }
    for (std::size_t a = 0; a < 4; ++a) {
        for (std::size_t b = a + 1; b < 4; ++b) {
            EXPECT_NE(pictures[a], pictures[b]) << a << " and " << b;
        }
    }
}

TEST(SimulatedCard, LentFrameStaysUnchangedWhileTheProducerRunsAtFullSpeed) {
    auto card = makeCard(0);
    card->OpenChannel(3);
    kesmacap_event event{};
    card->GetChannelEvent(3, &event);
    card->StartChannel(3, -1);
    ASSERT_TRUE(WaitSignalled(event, 1000));
    for (int round = 0; round < 5; ++round) {
        const Frame lent = frameOf(*card, 3);
        const std::vector<std::uint8_t> copy(lent.pixels, lent.pixels + 640 * 480 * 3);
        // A second borrower, as the viewer's GUI thread beside its worker.
        const Frame other = frameOf(*card, 3);
        std::this_thread::sleep_for(30ms);
        ASSERT_EQ(std::memcmp(lent.pixels, copy.data(), copy.size()), 0) << "round " << round;
        EXPECT_GE(other.sequence, lent.sequence);
        EXPECT_GT(frameOf(*card, 3).sequence, lent.sequence) << "the producer went on meanwhile";
    }
}

std::unique_ptr<testing_support::CardUnderTest> simulatedCard() {
    return std::make_unique<testing_support::OwnedCard<Card>>(makeCard(100));
}

INSTANTIATE_TEST_SUITE_P(SimulatedCard, CardConformance,
                         testing::Values(testing_support::ConformanceTarget{"InProcess", simulatedCard}),
                         testing_support::ConformanceName);

}  // namespace
}  // namespace kesmacap

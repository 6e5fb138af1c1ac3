#include "tests/support/CardConformance.h"

#include <array>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <thread>
#include <vector>

#include "tests/support/ImageFiles.h"
#include "tests/support/ScratchFolder.h"
#include "tests/support/TestPlatform.h"
#include "tests/support/Waiting.h"

namespace testing_support {

namespace {

constexpr std::uint16_t Channels = 4;
constexpr int ClosedState = 0;
constexpr int StartedState = 2;

using Frame = CardFrame;

Frame frameOf(CardUnderTest& card, std::uint16_t channel) {
    return FrameOf(card, channel);
}

std::int32_t stateOf(CardUnderTest& card, std::uint16_t channel) {
    std::int32_t state = -1;
    card.QueryChannelState(channel, &state);
    return state;
}

kesmacap_event eventOf(CardUnderTest& card, std::uint16_t channel) {
    kesmacap_event event{};
    EXPECT_EQ(card.GetChannelEvent(channel, &event), 0);
    return event;
}

// Waits for the channel's event after having the card produce a frame, and
// resets it as the viewer does. Frames may come by themselves meanwhile.
bool nextFrameSignals(CardUnderTest& card, std::uint16_t channel, kesmacap_event event) {
    Reset(event);
    card.feed(channel);
    const bool signalled = WaitSignalled(event, 2000);
    Reset(event);
    return signalled;
}

void openAndStart(CardUnderTest& card, std::uint16_t channel) {
    ASSERT_EQ(card.OpenChannel(channel), 0);
    ASSERT_EQ(card.SetChannelPixelBytes(channel, 3), 0);
    ASSERT_EQ(card.SetChannelMode(channel, 0), 0);
    ASSERT_EQ(card.StartChannel(channel, -1), 0);
}

}  // namespace

void CardConformance::SetUp() {
    card = GetParam().make();
    if (card == nullptr) {
        GTEST_SKIP() << GetParam().name << " is not here";
    }
}

void CardConformance::TearDown() {
    if (card == nullptr) {
        return;
    }
    for (std::uint16_t channel = 0; channel < Channels; ++channel) {
        card->StopChannel(channel);
        card->CloseChannel(channel);
    }
}

TEST_P(CardConformance, StopFlagAndCloseAreHarmlessInEveryState) {
    const auto harmless = [&](const char* state) {
        for (std::uint16_t channel = 0; channel < Channels; ++channel) {
            EXPECT_EQ(card->StopChannel(channel), 0) << state;
            EXPECT_EQ(card->SetChannelFlag(channel, 0), 0) << state;
        }
    };
    harmless("never opened");
    for (std::uint16_t channel = 0; channel < Channels; ++channel) {
        EXPECT_EQ(card->CloseChannel(channel), 0) << "never opened";
        openAndStart(*card, channel);
        EXPECT_EQ(stateOf(*card, channel), StartedState);
    }
    harmless("started, then stopped");
    harmless("stopped twice");
    for (std::uint16_t channel = 0; channel < Channels; ++channel) {
        EXPECT_EQ(card->CloseChannel(channel), 0);
        EXPECT_EQ(card->CloseChannel(channel), 0) << "closed twice";
        EXPECT_EQ(stateOf(*card, channel), ClosedState);
    }
    harmless("closed");
}

TEST_P(CardConformance, RefusesWhatItCannotDoWithTheErrnoOfIt) {
    EXPECT_EQ(card->OpenChannel(Channels), EINVAL);
    EXPECT_EQ(card->StartChannel(0, -1), EBADF) << "not open";
    for (const std::uint16_t channel : {std::uint16_t{0}, std::uint16_t{9}}) {
        const Frame closed = frameOf(*card, channel);
        EXPECT_NE(closed.result, 0) << channel;
        EXPECT_EQ(closed.pixels, nullptr) << channel;
        EXPECT_EQ(closed.width, 0) << channel;
        EXPECT_EQ(closed.height, 0) << channel;
    }
    ASSERT_EQ(card->OpenChannel(0), 0);
    EXPECT_EQ(card->OpenChannel(0), 0) << "opening again is harmless";
    EXPECT_EQ(card->SetChannelPixelBytes(0, 4), EINVAL);
    EXPECT_EQ(card->SetChannelMode(0, 1), EINVAL);
    EXPECT_EQ(card->GetChannelEvent(0, nullptr), EINVAL);
    EXPECT_EQ(card->QueryChannelState(0, nullptr), EINVAL);
    EXPECT_EQ(card->SaveChannelPicture(0, nullptr, KESMACAP_FORMAT_BMP, 50), EINVAL);
    EXPECT_EQ(card->GetChannelFrame(0, nullptr, nullptr, nullptr, nullptr), 0) << "null outputs are skipped";
}

TEST_P(CardConformance, EventPerFrameRisingSequenceAndSilenceAfterStop) {
    const kesmacap_event event = eventOf(*card, 2);
    openAndStart(*card, 2);
    ASSERT_TRUE(nextFrameSignals(*card, 2, event));
    const Frame first = frameOf(*card, 2);
    ASSERT_EQ(first.result, 0);
    ASSERT_NE(first.pixels, nullptr);
    EXPECT_GT(first.width, 0);
    EXPECT_LE(first.width, 640);
    EXPECT_GT(first.height, 0);
    EXPECT_LE(first.height, 480);
    // The last byte of a packed BGR frame is readable.
    volatile std::uint8_t last = first.pixels[first.width * first.height * 3 - 1];
    (void)last;

    ASSERT_TRUE(nextFrameSignals(*card, 2, event));
    EXPECT_GT(frameOf(*card, 2).sequence, first.sequence);

    ASSERT_EQ(card->StopChannel(2), 0);
    // A frame on its way may still land; after that, silence.
    WaitSignalled(event, 100);
    Reset(event);
    card->feed(2);
    EXPECT_FALSE(WaitSignalled(event, 200)) << "no event after StopChannel";
}

TEST_P(CardConformance, LentPixelsStayUnchangedUntilTheNextCall) {
    const kesmacap_event event = eventOf(*card, 3);
    openAndStart(*card, 3);
    ASSERT_TRUE(nextFrameSignals(*card, 3, event));
    const Frame lent = frameOf(*card, 3);
    ASSERT_NE(lent.pixels, nullptr);
    const std::vector<std::uint8_t> copy(lent.pixels, lent.pixels + lent.width * lent.height * 3);
    for (int more = 0; more < 3; ++more) {
        ASSERT_TRUE(nextFrameSignals(*card, 3, event));
    }
    EXPECT_EQ(std::memcmp(lent.pixels, copy.data(), copy.size()), 0);
}

TEST_P(CardConformance, FourChannelsAreIndependent) {
    std::array<kesmacap_event, Channels> events{};
    for (std::uint16_t channel = 0; channel < Channels; ++channel) {
        events[channel] = eventOf(*card, channel);
        openAndStart(*card, channel);
    }
    for (std::uint16_t a = 0; a < Channels; ++a) {
        for (std::uint16_t b = a + 1; b < Channels; ++b) {
            EXPECT_NE(events[a], events[b]) << a << " and " << b;
        }
        EXPECT_TRUE(nextFrameSignals(*card, a, events[a])) << a;
    }
    ASSERT_EQ(card->StopChannel(1), 0);
    ASSERT_EQ(card->CloseChannel(1), 0);
    for (const std::uint16_t channel : {0, 2, 3}) {
        EXPECT_TRUE(nextFrameSignals(*card, channel, events[channel])) << channel << " after closing 1";
        EXPECT_EQ(stateOf(*card, channel), StartedState) << channel;
    }
    EXPECT_NE(frameOf(*card, 1).result, 0);
}

TEST_P(CardConformance, EveryRestartBringsFrames) {
    const kesmacap_event event = eventOf(*card, 0);
    ASSERT_EQ(card->OpenChannel(0), 0);
    for (int cycle = 0; cycle < 20; ++cycle) {
        ASSERT_EQ(card->StartChannel(0, -1), 0) << cycle;
        ASSERT_TRUE(nextFrameSignals(*card, 0, event)) << cycle;
        ASSERT_EQ(card->StopChannel(0), 0) << cycle;
    }
}

TEST_P(CardConformance, CloseWhileCapturingKeepsTheEventAndTheCardWhole) {
    const kesmacap_event before = eventOf(*card, 1);
    openAndStart(*card, 1);
    ASSERT_TRUE(nextFrameSignals(*card, 1, before));
    card->feed(1);
    ASSERT_EQ(card->CloseChannel(1), 0);
    EXPECT_EQ(stateOf(*card, 1), ClosedState);
    EXPECT_TRUE(IsOpenEvent(before)) << "still open after CloseChannel";
    EXPECT_EQ(eventOf(*card, 1), before) << "the same event for the library's life";
    openAndStart(*card, 1);
    EXPECT_TRUE(nextFrameSignals(*card, 1, before)) << "reopened";
}

// Thousands of calls of every operation: through the viewer's binding, also
// the 32-bit call thunk's proof for either calling convention.
TEST_P(CardConformance, EveryOperationIsSafeFromManyThreadsAtOnce) {
    std::atomic<bool> stop{false};
    std::vector<std::thread> threads;
    for (std::uint16_t channel = 0; channel < Channels; ++channel) {
        threads.emplace_back([&, channel] {
            kesmacap_event event{};
            std::int32_t state = 0;
            while (!stop) {
                card->OpenChannel(channel);
                card->GetChannelEvent(channel, &event);
                card->SetChannelPixelBytes(channel, 3);
                card->SetChannelMode(channel, 0);
                card->StartChannel(channel, -1);
                card->QueryChannelState(channel, &state);
                card->feed(channel);
                const Frame frame = frameOf(*card, channel);
                if (frame.pixels != nullptr) {
                    volatile std::uint8_t last = frame.pixels[frame.width * frame.height * 3 - 1];
                    (void)last;
                }
                card->StopChannel(channel);
                card->SetChannelFlag(channel, 0);
                card->CloseChannel(channel);
            }
        });
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    stop = true;
    for (auto& thread : threads) {
        thread.join();
    }
    // The card is still whole afterwards: a channel starts and delivers.
    const kesmacap_event event = eventOf(*card, 0);
    openAndStart(*card, 0);
    EXPECT_TRUE(nextFrameSignals(*card, 0, event));
}

TEST_P(CardConformance, SavesEachChannelInTheThreeFormats) {
    ScratchFolder folder("conformance");
    const kesmacap_event event = eventOf(*card, 0);
    openAndStart(*card, 0);
    ASSERT_TRUE(nextFrameSignals(*card, 0, event));
    ASSERT_EQ(card->StopChannel(0), 0);  // the picture holds still while it is saved and compared
    const Frame shown = frameOf(*card, 0);
    ASSERT_NE(shown.pixels, nullptr);
    const std::vector<std::uint8_t> picture(shown.pixels, shown.pixels + shown.width * shown.height * 3);

    struct Case {
        std::uint8_t format;
        const char* given;
        const char* written;
        DecodedImage (*read)(const std::string&);
        double tolerance;
    };
    const Case cases[] = {{KESMACAP_FORMAT_BMP, "photo.bmp", "photo-1.bmp", ReadBmp, 0.0},
                          {KESMACAP_FORMAT_JPEG, "photo.jpg", "photo-1.jpg", ReadJpeg, 6.0},
                          {KESMACAP_FORMAT_PNG, "photo.png", "photo-1.png", ReadPng, 0.0},
                          {KESMACAP_FORMAT_PNG, "bare", "bare-1.png", ReadPng, 0.0}};
    for (const Case& test : cases) {
        ASSERT_EQ(card->SaveChannelPicture(0, (folder / test.given).string().c_str(), test.format, 90), 0)
            << test.given;
        const DecodedImage image = test.read((folder / test.written).string());
        ASSERT_TRUE(image.valid()) << test.written;
        EXPECT_LE(MeanDifference(image, picture.data(), shown.width, shown.height), test.tolerance)
            << test.written;
    }
    const std::string missing = (folder / "no-such-folder" / "x.bmp").string();
    EXPECT_EQ(card->SaveChannelPicture(0, missing.c_str(), KESMACAP_FORMAT_BMP, 50), ENOENT);
    EXPECT_FALSE(std::filesystem::exists(folder / "no-such-folder"));
    EXPECT_NE(card->SaveChannelPicture(1, (folder / "closed.bmp").string().c_str(), KESMACAP_FORMAT_BMP, 50),
              0)
        << "a closed channel has no picture";
}

}  // namespace testing_support

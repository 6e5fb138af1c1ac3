// The capture ABI's rules that every capture library keeps, written once
// (CardConformance.cpp) and run against each library:
//   INSTANTIATE_TEST_SUITE_P(Name, CardConformance, testing::Values(ConformanceTarget{...}));
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <ostream>
#include <string>
#include <type_traits>

#include "abi/kesmacap.h"
#include "tests/support/CardFrame.h"

namespace testing_support {

// One capture library as the suite drives it: the eleven operations with the
// ABI's own types.
class CardUnderTest {
  public:
    virtual ~CardUnderTest() = default;
    virtual std::int32_t OpenChannel(std::uint16_t channel) = 0;
    virtual std::int32_t StopChannel(std::uint16_t channel) = 0;
    virtual std::int32_t SetChannelFlag(std::uint16_t channel, std::int32_t value) = 0;
    virtual std::int32_t CloseChannel(std::uint16_t channel) = 0;
    virtual std::int32_t GetChannelEvent(std::uint16_t channel, kesmacap_event* event) = 0;
    virtual std::int32_t SetChannelPixelBytes(std::uint16_t channel, std::uint8_t bytes) = 0;
    virtual std::int32_t SetChannelMode(std::uint16_t channel, std::uint8_t mode) = 0;
    virtual std::int32_t GetChannelFrame(std::uint16_t channel, std::uint8_t** pixels, std::int32_t* width,
                                         std::int32_t* height, std::int32_t* sequence) = 0;
    virtual std::int32_t StartChannel(std::uint16_t channel, std::int32_t value) = 0;
    virtual std::int32_t QueryChannelState(std::uint16_t channel, std::int32_t* state) = 0;
    virtual std::int32_t SaveChannelPicture(std::uint16_t channel, const char* path, std::uint8_t format,
                                            std::int32_t value) = 0;
    // Makes a started channel's next frame come, for a card whose frames a
    // test pushes; a card that runs by itself needs nothing.
    virtual void feed(std::uint16_t /*channel*/) {}
};

// The ABI's form of an event the viewer's binding hands out as a HANDLE.
kesmacap_event AbiEvent(void* handle);

// Forwards the operations to any object that has them under their names
// (kesmacap::Card, the viewer's CaptureLibrary binding, ...).
template <typename Card>
class ForwardingCard : public CardUnderTest {
  public:
    explicit ForwardingCard(Card& card) : card_(card) {}
    std::int32_t OpenChannel(std::uint16_t channel) override { return card_.OpenChannel(channel); }
    std::int32_t StopChannel(std::uint16_t channel) override { return card_.StopChannel(channel); }
    std::int32_t SetChannelFlag(std::uint16_t channel, std::int32_t value) override {
        return card_.SetChannelFlag(channel, value);
    }
    std::int32_t CloseChannel(std::uint16_t channel) override { return card_.CloseChannel(channel); }
    std::int32_t GetChannelEvent(std::uint16_t channel, kesmacap_event* event) override {
        if constexpr (std::is_invocable_v<decltype(&Card::GetChannelEvent), Card&, std::uint16_t,
                                          kesmacap_event*>) {
            return card_.GetChannelEvent(channel, event);
        } else {
            void* handle = nullptr;
            const std::int32_t result = card_.GetChannelEvent(channel, event != nullptr ? &handle : nullptr);
            if (result == 0 && event != nullptr) {
                *event = AbiEvent(handle);
            }
            return result;
        }
    }
    std::int32_t SetChannelPixelBytes(std::uint16_t channel, std::uint8_t bytes) override {
        return card_.SetChannelPixelBytes(channel, bytes);
    }
    std::int32_t SetChannelMode(std::uint16_t channel, std::uint8_t mode) override {
        return card_.SetChannelMode(channel, mode);
    }
    std::int32_t GetChannelFrame(std::uint16_t channel, std::uint8_t** pixels, std::int32_t* width,
                                 std::int32_t* height, std::int32_t* sequence) override {
        return card_.GetChannelFrame(channel, pixels, width, height, sequence);
    }
    std::int32_t StartChannel(std::uint16_t channel, std::int32_t value) override {
        return card_.StartChannel(channel, value);
    }
    std::int32_t QueryChannelState(std::uint16_t channel, std::int32_t* state) override {
        return card_.QueryChannelState(channel, state);
    }
    std::int32_t SaveChannelPicture(std::uint16_t channel, const char* path, std::uint8_t format,
                                    std::int32_t value) override {
        return card_.SaveChannelPicture(channel, path, format, value);
    }

  private:
    Card& card_;
};

// The same over a card of the test's own, which it keeps for its life.
template <typename Card>
class OwnedCard : public ForwardingCard<Card> {
  public:
    explicit OwnedCard(std::unique_ptr<Card> card) : ForwardingCard<Card>(*card), card_(std::move(card)) {}

  private:
    std::unique_ptr<Card> card_;
};

// A loaded capture library file (libkesmacap.so, kesmacap.dll), bound by
// ordinal as the viewer binds it, or null with the reason in `why`.
std::unique_ptr<CardUnderTest> LoadedLibrary(const std::string& file, std::string& why);

struct ConformanceTarget {
    std::string name;  // letters and digits: it names the instantiated tests
    std::function<std::unique_ptr<CardUnderTest>()> make;
};

class CardConformance : public ::testing::TestWithParam<ConformanceTarget> {
  protected:
    void SetUp() override;
    // Every channel stopped and closed, as the next test expects to find a card
    // that stays loaded.
    void TearDown() override;

    std::unique_ptr<CardUnderTest> card;
};

inline void PrintTo(const ConformanceTarget& target, std::ostream* out) {
    *out << target.name;
}

inline std::string ConformanceName(const ::testing::TestParamInfo<ConformanceTarget>& info) {
    return info.param.name;
}

}  // namespace testing_support

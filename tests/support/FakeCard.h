// An in-process capture table whose frames, events and results the test controls.
#pragma once

#include <array>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "capture/CaptureLibrary.h"
#include "tests/support/TestPlatform.h"

namespace testing_support {

// The calls a command makes on every channel in order, as FakeCard records
// them: {"StopChannel", "SetChannelFlag 0"} gives "StopChannel 0",
// "SetChannelFlag 0 0", "StopChannel 1", ...
std::vector<std::string> EachChannel(std::initializer_list<std::string> operations);
std::vector<std::string> operator+(std::vector<std::string> first, const std::vector<std::string>& second);

class FakeCard {
  public:
    FakeCard();
    ~FakeCard();
    FakeCard(const FakeCard&) = delete;
    FakeCard& operator=(const FakeCard&) = delete;

    // Binds the table; one FakeCard is bound at a time.
    CaptureLibrary library();

    // Calls made from the thread that made the card, as "Operation channel [argument]".
    std::vector<std::string> calls() const;
    void clearCalls();

    // The frame GetChannelFrame hands out for a channel; pixels must outlive its use.
    void setFrame(ChannelIndex channel, const std::uint8_t* pixels, std::int32_t width, std::int32_t height);
    // Signals the channel's event, as the library does for a new frame.
    void signal(ChannelIndex channel) const;
    bool isSignalled(ChannelIndex channel) const;
    // GetChannelEvent hands out this value instead of the channel's event.
    void replaceEvent(ChannelIndex channel, kesmacap_event event) { eventOverride_[channel] = event; }

    // Frames fetched by other threads (the worker), in order, and by which threads.
    std::vector<ChannelIndex> fetchOrder() const;
    std::set<std::thread::id> fetchingThreads() const;
    void clearFetches();
    std::size_t fetchCount() const { return fetchCount_.load(); }

    // While closed, QueryChannelState on another thread waits until the gate opens.
    void closeGate();
    void openGate();
    // Waits until some thread waits at the closed gate.
    bool waitAtGate();

    // Makes the named operation throw std::runtime_error(message).
    void throwOn(const std::string& operation, const std::string& message);

    struct Save {
        ChannelIndex channel;
        std::string path;
        std::uint8_t format;
        std::int32_t value;
    };
    std::vector<Save> saves() const;
    void setSaveResult(ChannelIndex channel, std::int32_t result) { saveResults_[channel] = result; }

    // Entry points for the table's functions.
    std::int32_t record(const std::string& operation, ChannelIndex channel, const std::string& argument = {});
    std::int32_t getChannelEvent(ChannelIndex channel, kesmacap_event* event);
    std::int32_t getChannelFrame(ChannelIndex channel, std::uint8_t** pixels, std::int32_t* width,
                                 std::int32_t* height, std::int32_t* sequence);
    std::int32_t queryChannelState(ChannelIndex channel, std::int32_t* state);
    std::int32_t saveChannelPicture(ChannelIndex channel, const char* path, std::uint8_t format,
                                    std::int32_t value);

  private:
    struct Frame {
        const std::uint8_t* pixels = nullptr;
        std::int32_t width = 0;
        std::int32_t height = 0;
    };

    const std::thread::id owner_ = std::this_thread::get_id();
    std::array<TestEvent, ChannelCount> events_;
    std::array<std::optional<kesmacap_event>, ChannelCount> eventOverride_{};
    std::array<std::int32_t, ChannelCount> saveResults_{};
    mutable std::mutex mutex_;
    std::condition_variable gateChanged_;
    bool gateClosed_ = false;
    int waitingAtGate_ = 0;
    std::vector<std::string> calls_;
    std::array<Frame, ChannelCount> frames_{};
    std::vector<ChannelIndex> fetchOrder_;
    std::set<std::thread::id> fetchingThreads_;
    std::atomic<std::size_t> fetchCount_{0};
    std::string throwOperation_;
    std::string throwMessage_;
    std::vector<Save> saves_;
};

// Solid-colour packed BGR frame.
std::vector<std::uint8_t> SolidFrame(int width, int height, std::uint8_t blue, std::uint8_t green,
                                     std::uint8_t red);

}  // namespace testing_support

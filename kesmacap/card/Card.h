#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <new>
#include <utility>

#include "kesmacap/card/Channel.h"

namespace kesmacap {

constexpr int ChannelCount = 4;
using Channels = std::array<Channel, ChannelCount>;

// What a capture back end does; the card does the rest. Calls come with the
// channel's number already checked, one at a time per card.
class FrameSource {
  public:
    virtual ~FrameSource() = default;
    // Returns 0 or an errno value (ENODEV: no device for this channel).
    virtual std::int32_t open(int channel) = 0;
    virtual void close(int channel) = 0;
    virtual std::int32_t start(int channel) = 0;
    virtual void stop(int channel) = 0;
    // The picture a channel shows while it does not run; null keeps the last frame.
    virtual const Picture* still(int /*channel*/) const { return nullptr; }
};

// The capture ABI's operations over four channels and one back end.
class Card {
  public:
    // make gets the channels the back end will publish into.
    template <typename MakeSource>
    explicit Card(MakeSource&& make) : source_(make(channels_)) {}
    ~Card();
    Card(const Card&) = delete;
    Card& operator=(const Card&) = delete;

    std::int32_t OpenChannel(std::uint16_t channel);
    std::int32_t StopChannel(std::uint16_t channel);
    std::int32_t SetChannelFlag(std::uint16_t channel, std::int32_t value);
    std::int32_t CloseChannel(std::uint16_t channel);
    std::int32_t GetChannelEvent(std::uint16_t channel, kesmacap_event* event);
    std::int32_t SetChannelPixelBytes(std::uint16_t channel, std::uint8_t bytes);
    std::int32_t SetChannelMode(std::uint16_t channel, std::uint8_t mode);
    std::int32_t GetChannelFrame(std::uint16_t channel, std::uint8_t** pixels, std::int32_t* width,
                                 std::int32_t* height, std::int32_t* sequence);
    std::int32_t StartChannel(std::uint16_t channel, std::int32_t value);
    std::int32_t QueryChannelState(std::uint16_t channel, std::int32_t* state);
    std::int32_t SaveChannelPicture(std::uint16_t channel, const char* path, std::uint8_t format,
                                    std::int32_t value);

  private:
    void stopLocked(int channel);

    // Declared first so the back end, which publishes into them, goes first.
    Channels channels_;
    // Serialises open, start, stop and close, so a back end sees them one at a time.
    std::mutex control_;
    std::unique_ptr<FrameSource> source_;
};

// The process's card: each library defines it as LibraryCard(its back end).
Card& TheCard();

// The library's one card, made on first use by `make`. On Linux it is torn
// down when the library is unloaded: the back end stops first. On Windows it
// is never destroyed: when a process ends, Windows has ended the back end's
// threads before the DLL's static destructors run, maybe inside one of the
// card's locks, and tearing the card down then would hang the exit. A viewer
// that closes its channels first has already had every back end stopped.
// Called from one TheCard per library.
template <typename MakeSource>
Card& LibraryCard(MakeSource&& make) {
#ifdef _WIN32
    alignas(Card) static unsigned char storage[sizeof(Card)];
    static Card* const card = ::new (storage) Card(std::forward<MakeSource>(make));
    return *card;
#else
    static Card card(std::forward<MakeSource>(make));
    return card;
#endif
}

}  // namespace kesmacap

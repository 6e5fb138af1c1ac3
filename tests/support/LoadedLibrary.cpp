// The conformance suite's view of a capture library loaded from its file.
#include "capture/CaptureLibrary.h"
#include "tests/support/CardConformance.h"
#ifndef _WIN32
#include "platform/linux/EventHandle.h"
#endif

namespace testing_support {

namespace {

kesmacap_event abiEvent(HANDLE event) {
#ifdef _WIN32
    return event;
#else
    return DescriptorFromEventHandle(event);
#endif
}

class LibraryCard final : public CardUnderTest {
  public:
    explicit LibraryCard(CaptureLibrary capture) : capture_(std::move(capture)) {}

    std::int32_t OpenChannel(std::uint16_t channel) override { return capture_.OpenChannel(channel); }
    std::int32_t StopChannel(std::uint16_t channel) override { return capture_.StopChannel(channel); }
    std::int32_t SetChannelFlag(std::uint16_t channel, std::int32_t value) override {
        return capture_.SetChannelFlag(channel, value);
    }
    std::int32_t CloseChannel(std::uint16_t channel) override { return capture_.CloseChannel(channel); }
    std::int32_t GetChannelEvent(std::uint16_t channel, kesmacap_event* event) override {
        HANDLE handle = nullptr;
        const std::int32_t result = capture_.GetChannelEvent(channel, event != nullptr ? &handle : nullptr);
        if (result == 0 && event != nullptr) {
            *event = abiEvent(handle);
        }
        return result;
    }
    std::int32_t SetChannelPixelBytes(std::uint16_t channel, std::uint8_t bytes) override {
        return capture_.SetChannelPixelBytes(channel, bytes);
    }
    std::int32_t SetChannelMode(std::uint16_t channel, std::uint8_t mode) override {
        return capture_.SetChannelMode(channel, mode);
    }
    std::int32_t GetChannelFrame(std::uint16_t channel, std::uint8_t** pixels, std::int32_t* width,
                                 std::int32_t* height, std::int32_t* sequence) override {
        return capture_.GetChannelFrame(channel, pixels, width, height, sequence);
    }
    std::int32_t StartChannel(std::uint16_t channel, std::int32_t value) override {
        return capture_.StartChannel(channel, value);
    }
    std::int32_t QueryChannelState(std::uint16_t channel, std::int32_t* state) override {
        return capture_.QueryChannelState(channel, state);
    }
    std::int32_t SaveChannelPicture(std::uint16_t channel, const char* path, std::uint8_t format,
                                    std::int32_t value) override {
        return capture_.SaveChannelPicture(channel, path, format, value);
    }

  private:
    const CaptureLibrary capture_;
};

}  // namespace

std::unique_ptr<CardUnderTest> LoadedLibrary(const std::string& file, std::string& why) {
    try {
        return std::make_unique<LibraryCard>(CaptureLibrary::loadFile(file));
    } catch (const CaptureLibraryError& error) {
        why = error.what();
        return nullptr;
    }
}

}  // namespace testing_support

#include "tests/support/FakeCard.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <stdexcept>

namespace testing_support {

namespace {

FakeCard* bound = nullptr;

constexpr std::size_t MaxFetchLog = 100000;

std::int32_t openChannel(std::uint16_t channel) {
    return bound->record("OpenChannel", channel);
}
std::int32_t stopChannel(std::uint16_t channel) {
    return bound->record("StopChannel", channel);
}
std::int32_t setChannelFlag(std::uint16_t channel, std::int32_t value) {
    return bound->record("SetChannelFlag", channel, std::to_string(value));
}
std::int32_t closeChannel(std::uint16_t channel) {
    return bound->record("CloseChannel", channel);
}
std::int32_t getChannelEvent(std::uint16_t channel, int* event) {
    return bound->getChannelEvent(channel, event);
}
std::int32_t setChannelPixelBytes(std::uint16_t channel, std::uint8_t bytes) {
    return bound->record("SetChannelPixelBytes", channel, std::to_string(bytes));
}
std::int32_t setChannelMode(std::uint16_t channel, std::uint8_t mode) {
    return bound->record("SetChannelMode", channel, std::to_string(mode));
}
std::int32_t getChannelFrame(std::uint16_t channel, std::uint8_t** pixels, std::int32_t* width,
                             std::int32_t* height, std::int32_t* sequence) {
    return bound->getChannelFrame(channel, pixels, width, height, sequence);
}
std::int32_t startChannel(std::uint16_t channel, std::int32_t value) {
    return bound->record("StartChannel", channel, std::to_string(value));
}
std::int32_t queryChannelState(std::uint16_t channel, std::int32_t* state) {
    return bound->queryChannelState(channel, state);
}
std::int32_t saveChannelPicture(std::uint16_t channel, const char* path, std::uint8_t format,
                                std::int32_t value) {
    return bound->saveChannelPicture(channel, path, format, value);
}

template <typename Function>
kesmacap_fn generic(Function function) {
    return reinterpret_cast<kesmacap_fn>(function);
}

kesmacap_fn table(std::uint16_t ordinal) {
    switch (ordinal) {
        case KESMACAP_OPEN_CHANNEL:
            return generic(&openChannel);
        case KESMACAP_STOP_CHANNEL:
            return generic(&stopChannel);
        case KESMACAP_SET_CHANNEL_FLAG:
            return generic(&setChannelFlag);
        case KESMACAP_CLOSE_CHANNEL:
            return generic(&closeChannel);
        case KESMACAP_GET_CHANNEL_EVENT:
            return generic(&getChannelEvent);
        case KESMACAP_SET_CHANNEL_PIXEL_BYTES:
            return generic(&setChannelPixelBytes);
        case KESMACAP_SET_CHANNEL_MODE:
            return generic(&setChannelMode);
        case KESMACAP_GET_CHANNEL_FRAME:
            return generic(&getChannelFrame);
        case KESMACAP_START_CHANNEL:
            return generic(&startChannel);
        case KESMACAP_QUERY_CHANNEL_STATE:
            return generic(&queryChannelState);
        case KESMACAP_SAVE_CHANNEL_PICTURE:
            return generic(&saveChannelPicture);
        default:
            return nullptr;
    }
}

}  // namespace

FakeCard::FakeCard() {
    for (int& event : events_) {
        event = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    }
}

FakeCard::~FakeCard() {
    for (const int event : events_) {
        close(event);
    }
    if (bound == this) {
        bound = nullptr;
    }
}

CaptureLibrary FakeCard::library() {
    bound = this;
    return CaptureLibrary::bind(table);
}

std::vector<std::string> FakeCard::calls() const {
    const std::lock_guard lock(mutex_);
    return calls_;
}

void FakeCard::clearCalls() {
    const std::lock_guard lock(mutex_);
    calls_.clear();
}

void FakeCard::setFrame(ChannelIndex channel, const std::uint8_t* pixels, std::int32_t width,
                        std::int32_t height) {
    const std::lock_guard lock(mutex_);
    frames_[channel] = Frame{pixels, width, height};
}

void FakeCard::signal(ChannelIndex channel) const {
    const std::uint64_t one = 1;
    [[maybe_unused]] const auto written = write(events_[channel], &one, sizeof one);
}

bool FakeCard::isSignalled(ChannelIndex channel) const {
    pollfd entry{events_[channel], POLLIN, 0};
    return poll(&entry, 1, 0) == 1;
}

std::vector<ChannelIndex> FakeCard::fetchOrder() const {
    const std::lock_guard lock(mutex_);
    return fetchOrder_;
}

std::set<std::thread::id> FakeCard::fetchingThreads() const {
    const std::lock_guard lock(mutex_);
    return fetchingThreads_;
}

void FakeCard::clearFetches() {
    const std::lock_guard lock(mutex_);
    fetchOrder_.clear();
    fetchingThreads_.clear();
}

void FakeCard::closeGate() {
    const std::lock_guard lock(mutex_);
    gateClosed_ = true;
}

void FakeCard::openGate() {
    {
        const std::lock_guard lock(mutex_);
        gateClosed_ = false;
    }
    gateChanged_.notify_all();
}

bool FakeCard::waitAtGate() {
    std::unique_lock lock(mutex_);
    return gateChanged_.wait_for(lock, std::chrono::seconds(5), [&] { return waitingAtGate_ > 0; });
}

void FakeCard::throwOn(const std::string& operation, const std::string& message) {
    const std::lock_guard lock(mutex_);
    throwOperation_ = operation;
    throwMessage_ = message;
}

std::vector<FakeCard::Save> FakeCard::saves() const {
    const std::lock_guard lock(mutex_);
    return saves_;
}

std::int32_t FakeCard::record(const std::string& operation, ChannelIndex channel,
                              const std::string& argument) {
    std::string message;
    {
        const std::lock_guard lock(mutex_);
        if (std::this_thread::get_id() == owner_) {
            calls_.push_back(operation + " " + std::to_string(channel) +
                             (argument.empty() ? "" : " " + argument));
        }
        if (operation == throwOperation_) {
            message = throwMessage_;
        }
    }
    if (!message.empty()) {
        throw std::runtime_error(message);
    }
    return 0;
}

std::int32_t FakeCard::getChannelEvent(ChannelIndex channel, int* event) {
    record("GetChannelEvent", channel);
    if (channel >= ChannelCount) {
        return 22;
    }
    *event = eventOverride_[channel] != -2 ? eventOverride_[channel] : events_[channel];
    return 0;
}

std::int32_t FakeCard::getChannelFrame(ChannelIndex channel, std::uint8_t** pixels, std::int32_t* width,
                                       std::int32_t* height, std::int32_t* sequence) {
    const bool worker = std::this_thread::get_id() != owner_;
    if (!worker) {
        record("GetChannelFrame", channel);
    }
    const std::lock_guard lock(mutex_);
    if (worker) {
        ++fetchCount_;
        if (fetchOrder_.size() < MaxFetchLog) {
            fetchOrder_.push_back(channel);
        }
        fetchingThreads_.insert(std::this_thread::get_id());
    }
    const Frame frame = channel < ChannelCount ? frames_[channel] : Frame{};
    *pixels = const_cast<std::uint8_t*>(frame.pixels);
    *width = frame.width;
    *height = frame.height;
    *sequence = 0;
    return 0;
}

std::int32_t FakeCard::queryChannelState(ChannelIndex channel, std::int32_t* state) {
    if (std::this_thread::get_id() == owner_) {
        record("QueryChannelState", channel);
    } else {
        std::unique_lock lock(mutex_);
        ++waitingAtGate_;
        gateChanged_.notify_all();
        gateChanged_.wait(lock, [&] { return !gateClosed_; });
        --waitingAtGate_;
    }
    *state = 2;
    return 0;
}

std::int32_t FakeCard::saveChannelPicture(ChannelIndex channel, const char* path, std::uint8_t format,
                                          std::int32_t value) {
    record("SaveChannelPicture", channel);
    const std::lock_guard lock(mutex_);
    saves_.push_back({channel, path, format, value});
    return channel < ChannelCount ? saveResults_[channel] : 22;
}

std::vector<std::uint8_t> SolidFrame(int width, int height, std::uint8_t blue, std::uint8_t green,
                                     std::uint8_t red) {
    std::vector<std::uint8_t> frame(static_cast<std::size_t>(width) * height * 3);
    for (std::size_t i = 0; i + 2 < frame.size(); i += 3) {
        frame[i] = blue;
        frame[i + 1] = green;
        frame[i + 2] = red;
    }
    return frame;
}

int ThreadCount() {
    return static_cast<int>(std::distance(std::filesystem::directory_iterator("/proc/self/task"),
                                          std::filesystem::directory_iterator()));
}

}  // namespace testing_support

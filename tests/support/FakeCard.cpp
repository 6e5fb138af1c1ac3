#include "tests/support/FakeCard.h"

#include <chrono>
#include <stdexcept>

#include "abi/OrdinalTable.h"

namespace testing_support {

namespace {

FakeCard* bound = nullptr;

constexpr std::size_t MaxFetchLog = 100000;

// The table's functions forward to the bound card.
struct BoundOperations {
    static std::int32_t OpenChannel(std::uint16_t channel) { return bound->record("OpenChannel", channel); }
    static std::int32_t StopChannel(std::uint16_t channel) { return bound->record("StopChannel", channel); }
    static std::int32_t SetChannelFlag(std::uint16_t channel, std::int32_t value) {
        return bound->record("SetChannelFlag", channel, std::to_string(value));
    }
    static std::int32_t CloseChannel(std::uint16_t channel) { return bound->record("CloseChannel", channel); }
    static std::int32_t GetChannelEvent(std::uint16_t channel, kesmacap_event* event) {
        return bound->getChannelEvent(channel, event);
    }
    static std::int32_t SetChannelPixelBytes(std::uint16_t channel, std::uint8_t bytes) {
        return bound->record("SetChannelPixelBytes", channel, std::to_string(bytes));
    }
    static std::int32_t SetChannelMode(std::uint16_t channel, std::uint8_t mode) {
        return bound->record("SetChannelMode", channel, std::to_string(mode));
    }
    static std::int32_t GetChannelFrame(std::uint16_t channel, std::uint8_t** pixels, std::int32_t* width,
                                        std::int32_t* height, std::int32_t* sequence) {
        return bound->getChannelFrame(channel, pixels, width, height, sequence);
    }
    static std::int32_t StartChannel(std::uint16_t channel, std::int32_t value) {
        return bound->record("StartChannel", channel, std::to_string(value));
    }
    static std::int32_t QueryChannelState(std::uint16_t channel, std::int32_t* state) {
        return bound->queryChannelState(channel, state);
    }
    static std::int32_t SaveChannelPicture(std::uint16_t channel, const char* path, std::uint8_t format,
                                           std::int32_t value) {
        return bound->saveChannelPicture(channel, path, format, value);
    }
};

}  // namespace

FakeCard::FakeCard() = default;

FakeCard::~FakeCard() {
    if (bound == this) {
        bound = nullptr;
    }
}

CaptureLibrary FakeCard::library() {
    bound = this;
    return CaptureLibrary::bind(kesmacap::LookupOrdinal<BoundOperations>);
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
    events_[channel].signal();
}

bool FakeCard::isSignalled(ChannelIndex channel) const {
    return events_[channel].isSignalled();
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

std::int32_t FakeCard::getChannelEvent(ChannelIndex channel, kesmacap_event* event) {
    record("GetChannelEvent", channel);
    if (channel >= ChannelCount) {
        return 22;
    }
    *event = eventOverride_[channel].value_or(events_[channel].native());
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

std::vector<std::string> EachChannel(std::initializer_list<std::string> operations) {
    std::vector<std::string> calls;
    for (ChannelIndex channel = 0; channel < ChannelCount; ++channel) {
        for (const std::string& operation : operations) {
            const auto space = operation.find(' ');
            calls.push_back(operation.substr(0, space) + " " + std::to_string(channel) +
                            (space == std::string::npos ? "" : operation.substr(space)));
        }
    }
    return calls;
}

std::vector<std::string> operator+(std::vector<std::string> first, const std::vector<std::string>& second) {
    first.insert(first.end(), second.begin(), second.end());
    return first;
}

}  // namespace testing_support

// The simulated card's ABI: any sequence of the eleven operations with any
// channels, settings, formats and path bytes, from two threads at once.
// Pictures go to a scratch folder.
#include <fuzzer/FuzzedDataProvider.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <thread>
#include <vector>

#include "kesmacap/card/Card.h"
#include "kesmacap/sim/SimulatedSource.h"

namespace {

namespace fs = std::filesystem;

const fs::path& scratch() {
    static const fs::path folder = [] {
        fs::path path = fs::temp_directory_path() / ("card-fuzz-" + std::to_string(getpid()));
        fs::create_directories(path);
        return path;
    }();
    return folder;
}

// A name inside the scratch folder made of the input's bytes.
std::string pathFrom(std::string bytes) {
    for (char& byte : bytes) {
        if (byte == '/' || byte == '\0') {
            byte = '_';
        }
    }
    if (bytes.empty() || bytes == "." || bytes == "..") {
        bytes = "x";
    }
    return (scratch() / bytes).string();
}

using Operation = std::function<void(kesmacap::Card&)>;

Operation operationFrom(FuzzedDataProvider& in) {
    const std::uint16_t channel = in.ConsumeBool() ? in.ConsumeIntegralInRange<std::uint16_t>(0, 4)
                                                   : in.ConsumeIntegral<std::uint16_t>();
    const std::int32_t value = in.ConsumeIntegral<std::int32_t>();
    const std::uint8_t byte = in.ConsumeIntegral<std::uint8_t>();
    const bool withOutputs = in.ConsumeBool();
    switch (in.ConsumeIntegralInRange(0, 10)) {
        case 0:
            return [=](kesmacap::Card& card) { card.OpenChannel(channel); };
        case 1:
            return [=](kesmacap::Card& card) { card.StopChannel(channel); };
        case 2:
            return [=](kesmacap::Card& card) { card.SetChannelFlag(channel, value); };
        case 3:
            return [=](kesmacap::Card& card) { card.CloseChannel(channel); };
        case 4:
            return [=](kesmacap::Card& card) {
                kesmacap_event event{};
                card.GetChannelEvent(channel, withOutputs ? &event : nullptr);
            };
        case 5:
            return [=](kesmacap::Card& card) { card.SetChannelPixelBytes(channel, byte); };
        case 6:
            return [=](kesmacap::Card& card) { card.SetChannelMode(channel, byte); };
        case 7:
            return [=](kesmacap::Card& card) {
                std::uint8_t* pixels = nullptr;
                std::int32_t width = 0;
                std::int32_t height = 0;
                std::int32_t sequence = 0;
                card.GetChannelFrame(channel, withOutputs ? &pixels : nullptr, &width, &height,
                                     withOutputs ? &sequence : nullptr);
                if (pixels != nullptr && width > 0 && height > 0) {
                    // Every lent byte must be readable.
                    volatile std::uint8_t sum = 0;
                    for (std::size_t i = 0; i < static_cast<std::size_t>(width) * height * 3; i += 61) {
                        sum = sum + pixels[i];
                    }
                    sum = sum + pixels[static_cast<std::size_t>(width) * height * 3 - 1];
                }
            };
        case 8:
            return [=](kesmacap::Card& card) { card.StartChannel(channel, value); };
        case 9:
            return [=](kesmacap::Card& card) {
                std::int32_t state = 0;
                card.QueryChannelState(channel, withOutputs ? &state : nullptr);
            };
        default: {
            const std::string path = pathFrom(in.ConsumeRandomLengthString(40));
            return [=](kesmacap::Card& card) {
                card.SaveChannelPicture(channel, withOutputs ? path.c_str() : nullptr, byte % 4, value);
            };
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider in(data, size);
    const double rate = in.ConsumeBool() ? 0.0 : 1000.0;
    std::vector<Operation> first;
    std::vector<Operation> second;
    while (in.remaining_bytes() > 0 && first.size() + second.size() < 64) {
        (in.ConsumeBool() ? first : second).push_back(operationFrom(in));
    }
    {
        kesmacap::Card card([rate](kesmacap::Channels& channels) {
            return std::make_unique<kesmacap::SimulatedSource>(channels, rate);
        });
        std::thread other([&] {
            for (const Operation& operation : second) {
                operation(card);
            }
        });
        for (const Operation& operation : first) {
            operation(card);
        }
        other.join();
    }
    std::error_code ignored;
    for (const auto& entry : fs::directory_iterator(scratch(), ignored)) {
        fs::remove_all(entry.path(), ignored);
    }
    return 0;
}

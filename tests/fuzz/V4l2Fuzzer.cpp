// V4L2 frame handling through fake devices: any negotiated pixel format
// (YUV placed as it comes, BGR24, or one refused), size and field order,
// bytesperline, sizeimage and bytesused, an error from any call, while
// channels are opened, started, fed, failed, stopped and closed.
#include <fuzzer/FuzzedDataProvider.h>
#include <linux/videodev2.h>

#include <array>
#include <cerrno>
#include <string>

#include "kesmacap/card/Card.h"
#include "kesmacap/v4l2/V4l2Source.h"
#include "tests/support/FakeV4l2System.h"

namespace {

using testing_support::FakeDeviceSpec;
using testing_support::FakeV4l2System;

constexpr std::size_t MaxBufferBytes = 4u << 20;

constexpr std::array<unsigned long, 10> Requests{
    0,           VIDIOC_QUERYCAP, VIDIOC_S_FMT,    VIDIOC_REQBUFS,   VIDIOC_QUERYBUF,
    VIDIOC_QBUF, VIDIOC_DQBUF,    VIDIOC_STREAMON, VIDIOC_STREAMOFF, VIDIOC_G_FMT};
constexpr std::array<int, 7> Errors{EINVAL, EIO, ENODEV, EBUSY, ENOMEM, EAGAIN, EPIPE};
// The formats placed as they come, libv4l2's BGR24, one that must be refused.
constexpr std::array<std::uint32_t, 7> Formats{V4L2_PIX_FMT_BGR24,  V4L2_PIX_FMT_YUYV,   V4L2_PIX_FMT_UYVY,
                                               V4L2_PIX_FMT_YUV420, V4L2_PIX_FMT_YVU420, V4L2_PIX_FMT_NV12,
                                               V4L2_PIX_FMT_H264};

std::uint32_t dimension(FuzzedDataProvider& in) {
    return in.ConsumeBool() ? in.ConsumeIntegralInRange<std::uint32_t>(0, 1300)
                            : in.ConsumeIntegral<std::uint32_t>();
}

FakeDeviceSpec specFrom(FuzzedDataProvider& in) {
    FakeDeviceSpec spec;
    spec.capture = in.ConsumeIntegralInRange(0, 7) != 0;
    spec.width = dimension(in);
    spec.height = dimension(in);
    spec.pixelFormat = in.ConsumeIntegralInRange(0, 7) != 0
                           ? Formats[in.ConsumeIntegralInRange<std::size_t>(0, Formats.size() - 1)]
                           : in.ConsumeIntegral<std::uint32_t>();
    spec.bytesPerLine = in.ConsumeBool() ? 0 : in.ConsumeIntegral<std::uint32_t>();
    spec.sizeImage = in.ConsumeBool() ? 0 : in.ConsumeIntegralInRange<std::uint32_t>(1, MaxBufferBytes);
    spec.bytesUsed = in.ConsumeBool() ? 0 : in.ConsumeIntegral<std::uint32_t>();
    spec.failingRequest = Requests[in.ConsumeIntegralInRange<std::size_t>(0, Requests.size() - 1)];
    spec.failingError = Errors[in.ConsumeIntegralInRange<std::size_t>(0, Errors.size() - 1)];
    spec.mmapFails = in.ConsumeIntegralInRange(0, 7) == 0;
    spec.field = in.ConsumeIntegralInRange<std::uint32_t>(V4L2_FIELD_ANY, V4L2_FIELD_INTERLACED_BT);
    // The fake allocates what the device settings ask for (three bytes a
    // pixel at most, planar 4:2:0's one and a half too): keep that within reason.
    const std::size_t line = spec.bytesPerLine != 0 ? spec.bytesPerLine : std::size_t{spec.width} * 3;
    if (spec.sizeImage == 0 && line * spec.height > MaxBufferBytes) {
        spec.sizeImage = MaxBufferBytes;
    }
    return spec;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider in(data, size);
    auto system = std::make_unique<FakeV4l2System>();
    FakeV4l2System& fake = *system;
    const int deviceCount = in.ConsumeIntegralInRange(1, 4);
    std::vector<std::string> paths;
    for (int device = 0; device < deviceCount; ++device) {
        paths.push_back("/dev/video" + std::to_string(device));
        fake.addDevice(paths.back(), specFrom(in));
    }
    kesmacap::Card card([&](kesmacap::Channels& channels) {
        return std::make_unique<kesmacap::V4l2Source>(channels, std::move(system), paths);
    });
    for (int step = 0; step < 48 && in.remaining_bytes() > 0; ++step) {
        const auto channel = in.ConsumeIntegralInRange<std::uint16_t>(0, 4);
        const std::string& path = paths[channel % paths.size()];
        switch (in.ConsumeIntegralInRange(0, 7)) {
            case 0:
                card.OpenChannel(channel);
                break;
            case 1:
                card.StartChannel(channel, -1);
                break;
            case 2:
                card.StopChannel(channel);
                break;
            case 3:
                card.CloseChannel(channel);
                break;
            case 4:
                fake.pushFrame(path, in.ConsumeIntegral<std::uint8_t>(), 0x40, 0x80);
                break;
            case 5:
                fake.fail(path, Errors[in.ConsumeIntegralInRange<std::size_t>(0, Errors.size() - 1)]);
                break;
            case 6:
                fake.spuriousWakeUp(path);
                break;
            default: {
                std::uint8_t* pixels = nullptr;
                std::int32_t width = 0;
                std::int32_t height = 0;
                std::int32_t sequence = 0;
                card.GetChannelFrame(channel, &pixels, &width, &height, &sequence);
                if (pixels != nullptr && width > 0 && height > 0) {
                    volatile std::uint8_t last = pixels[static_cast<std::size_t>(width) * height * 3 - 1];
                    (void)last;
                }
                break;
            }
        }
    }
    return 0;
}

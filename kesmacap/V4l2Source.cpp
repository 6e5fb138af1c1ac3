#include "kesmacap/V4l2Source.h"

#include <fcntl.h>
#include <linux/videodev2.h>
#include <sys/eventfd.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <optional>

namespace kesmacap {

namespace {

constexpr v4l2_buf_type CaptureType = V4L2_BUF_TYPE_VIDEO_CAPTURE;

// A request about one of the device's memory-mapped capture buffers.
v4l2_buffer mappedBuffer(std::uint32_t index = 0) {
    v4l2_buffer buffer{};
    buffer.type = CaptureType;
    buffer.memory = V4L2_MEMORY_MMAP;
    buffer.index = index;
    return buffer;
}

std::uint32_t deviceCaps(const v4l2_capability& capability) {
    return (capability.capabilities & V4L2_CAP_DEVICE_CAPS) != 0 ? capability.device_caps
                                                                 : capability.capabilities;
}

}  // namespace

V4l2Source::V4l2Source(Channels& channels, std::unique_ptr<V4l2System> system,
                       std::vector<std::string> devices)
    : channels_(channels),
      system_(std::move(system)),
      devices_(std::move(devices)),
      wake_(eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)),
      thread_([this] { run(); }) {}

V4l2Source::~V4l2Source() {
    {
        const std::lock_guard lock(mutex_);
        quit_ = true;
    }
    wake();
    thread_.join();
    for (Device& device : state_) {
        stopStreamingLocked(device);
        releaseBuffersLocked(device);
        if (device.fd >= 0) {
            system_->close(device.fd);
        }
    }
    if (wake_ >= 0) {
        ::close(wake_);
    }
}

void V4l2Source::wake() const {
    const std::uint64_t one = 1;
    [[maybe_unused]] const auto written = write(wake_, &one, sizeof one);
}

std::int32_t V4l2Source::open(int channel) {
    if (static_cast<std::size_t>(channel) >= devices_.size() || devices_[channel].empty()) {
        return ENODEV;
    }
    const int fd = system_->open(devices_[channel], O_RDWR | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        return errno;
    }
    const auto fail = [&](std::int32_t error) {
        system_->close(fd);
        return error;
    };
    v4l2_capability capability{};
    if (system_->ioctl(fd, VIDIOC_QUERYCAP, &capability) != 0) {
        return fail(errno);
    }
    if ((deviceCaps(capability) & V4L2_CAP_VIDEO_CAPTURE) == 0 ||
        (deviceCaps(capability) & V4L2_CAP_STREAMING) == 0) {
        return fail(ENODEV);
    }
    v4l2_format format{};
    format.type = CaptureType;
    format.fmt.pix.width = MaxWidth;
    format.fmt.pix.height = MaxHeight;
    format.fmt.pix.pixelformat = V4L2_PIX_FMT_BGR24;
    format.fmt.pix.field = V4L2_FIELD_ANY;
    if (system_->ioctl(fd, VIDIOC_S_FMT, &format) != 0) {
        return fail(errno);
    }
    // The driver may settle on another size; a format other than BGR24 means
    // no conversion exists for this device.
    const std::size_t packedLine = static_cast<std::size_t>(format.fmt.pix.width) * BytesPerPixel;
    const std::size_t bytesPerLine =
        format.fmt.pix.bytesperline != 0 ? format.fmt.pix.bytesperline : packedLine;
    if (format.fmt.pix.pixelformat != V4L2_PIX_FMT_BGR24 || format.fmt.pix.width == 0 ||
        format.fmt.pix.height == 0 || bytesPerLine < packedLine) {
        return fail(EINVAL);
    }
    setFastestFrameRate(fd, format.fmt.pix);
    const std::lock_guard lock(mutex_);
    Device& device = state_[channel];
    device.fd = fd;
    device.lost = 0;
    device.width = static_cast<int>(format.fmt.pix.width);
    device.height = static_cast<int>(format.fmt.pix.height);
    device.bytesPerLine = bytesPerLine;
    return 0;
}

// Devices keep whatever rate they had unless they offer rate control; a
// driver's default is often far below what it can do (vivid: 5 of 25 fps).
void V4l2Source::setFastestFrameRate(int fd, const v4l2_pix_format& format) const {
    v4l2_streamparm parameters{};
    parameters.type = CaptureType;
    if (system_->ioctl(fd, VIDIOC_G_PARM, &parameters) != 0 ||
        (parameters.parm.capture.capability & V4L2_CAP_TIMEPERFRAME) == 0) {
        return;
    }
    const auto shorter = [](const v4l2_fract& a, const v4l2_fract& b) {
        return std::uint64_t{a.numerator} * b.denominator < std::uint64_t{b.numerator} * a.denominator;
    };
    std::optional<v4l2_fract> fastest;
    constexpr std::uint32_t MostIntervals = 256;
    for (std::uint32_t index = 0; index < MostIntervals; ++index) {
        v4l2_frmivalenum interval{};
        interval.index = index;
        interval.pixel_format = format.pixelformat;
        interval.width = format.width;
        interval.height = format.height;
        if (system_->ioctl(fd, VIDIOC_ENUM_FRAMEINTERVALS, &interval) != 0) {
            break;
        }
        // Stepwise and continuous ranges come as one entry; their fastest is the minimum.
        const bool discrete = interval.type == V4L2_FRMIVAL_TYPE_DISCRETE;
        const v4l2_fract candidate = discrete ? interval.discrete : interval.stepwise.min;
        if (candidate.numerator != 0 && candidate.denominator != 0 &&
            (!fastest || shorter(candidate, *fastest))) {
            fastest = candidate;
        }
        if (!discrete) {
            break;
        }
    }
    if (fastest) {
        parameters.parm.capture.timeperframe = *fastest;
        // A refusal leaves the device at its own rate, which still works.
        system_->ioctl(fd, VIDIOC_S_PARM, &parameters);
    }
}

void V4l2Source::close(int channel) {
    std::unique_lock lock(mutex_);
    Device& device = state_[channel];
    stopStreamingLocked(device);
    if (device.fd < 0) {
        return;
    }
    waitUntilUnwatchedLocked(lock, device.fd);
    releaseBuffersLocked(device);
    system_->close(device.fd);
    device.fd = -1;
}

void V4l2Source::waitUntilUnwatchedLocked(std::unique_lock<std::mutex>& lock, int fd) {
    wake();  // the capture thread goes round and leaves a stopped descriptor out of its wait
    watchChanged_.wait(lock,
                       [&] { return std::find(watched_.begin(), watched_.end(), fd) == watched_.end(); });
}

std::int32_t V4l2Source::start(int channel) {
    std::int32_t result = 0;
    {
        const std::lock_guard lock(mutex_);
        result = startStreamingLocked(state_[channel]);
    }
    wake();  // the capture thread takes the device into its wait
    return result;
}

void V4l2Source::stop(int channel) {
    {
        const std::lock_guard lock(mutex_);
        stopStreamingLocked(state_[channel]);
    }
    wake();
}

std::int32_t V4l2Source::startStreamingLocked(Device& device) {
    if (device.fd < 0) {
        return EBADF;
    }
    if (device.lost != 0) {
        return device.lost;
    }
    if (device.streaming) {
        return 0;
    }
    if (device.buffers.empty()) {
        if (const std::int32_t error = requestBuffersLocked(device); error != 0) {
            return error;
        }
    }
    // Every buffer is the application's after a stop (STREAMOFF hands queued ones back).
    for (std::uint32_t index = 0; index < device.buffers.size(); ++index) {
        v4l2_buffer buffer = mappedBuffer(index);
        if (system_->ioctl(device.fd, VIDIOC_QBUF, &buffer) != 0) {
            const std::int32_t error = errno;
            v4l2_buf_type type = CaptureType;
            system_->ioctl(device.fd, VIDIOC_STREAMOFF, &type);  // takes back those already queued
            return error;
        }
    }
    v4l2_buf_type type = CaptureType;
    if (system_->ioctl(device.fd, VIDIOC_STREAMON, &type) != 0) {
        const std::int32_t error = errno;
        system_->ioctl(device.fd, VIDIOC_STREAMOFF, &type);
        return error;
    }
    device.streaming = true;
    ++device.session;
    return 0;
}

std::int32_t V4l2Source::requestBuffersLocked(Device& device) {
    v4l2_requestbuffers request{};
    request.count = BufferCount;
    request.type = CaptureType;
    request.memory = V4L2_MEMORY_MMAP;
    if (system_->ioctl(device.fd, VIDIOC_REQBUFS, &request) != 0) {
        return errno;
    }
    if (request.count == 0) {
        return ENOMEM;
    }
    for (unsigned index = 0; index < request.count; ++index) {
        v4l2_buffer buffer = mappedBuffer(index);
        if (system_->ioctl(device.fd, VIDIOC_QUERYBUF, &buffer) != 0) {
            const std::int32_t error = errno;
            releaseBuffersLocked(device);
            return error;
        }
        void* const address =
            system_->mmap(buffer.length, PROT_READ | PROT_WRITE, MAP_SHARED, device.fd, buffer.m.offset);
        if (address == MAP_FAILED) {
            const std::int32_t error = errno;
            releaseBuffersLocked(device);
            return error;
        }
        device.buffers.push_back({address, buffer.length});
    }
    return 0;
}

void V4l2Source::stopStreamingLocked(Device& device) {
    if (!device.streaming) {
        return;
    }
    v4l2_buf_type type = CaptureType;
    system_->ioctl(device.fd, VIDIOC_STREAMOFF, &type);
    device.streaming = false;
}

// Only with nothing watching the descriptor any more, or about to close it.
void V4l2Source::releaseBuffersLocked(Device& device) {
    if (device.fd < 0) {
        return;
    }
    for (const Mapping& mapping : device.buffers) {
        system_->munmap(mapping.address, mapping.length);
    }
    device.buffers.clear();
    v4l2_requestbuffers release{};
    release.count = 0;
    release.type = CaptureType;
    release.memory = V4L2_MEMORY_MMAP;
    system_->ioctl(device.fd, VIDIOC_REQBUFS, &release);
}

void V4l2Source::copyFrame(int channel, const Device& device, const Mapping& buffer, std::size_t bytesUsed) {
    // Never more than the card's size: a larger frame is clipped at its right and bottom.
    const int columns = std::min(device.width, MaxWidth);
    const int rows = std::min(device.height, MaxHeight);
    const std::size_t rowBytes = static_cast<std::size_t>(columns) * BytesPerPixel;
    const std::size_t available = bytesUsed != 0 ? std::min(bytesUsed, buffer.length) : buffer.length;
    if (rows <= 0 || device.bytesPerLine * static_cast<std::size_t>(rows - 1) + rowBytes > available) {
        return;  // a short buffer: drop it rather than read past it
    }
    Channel& target = channels_[channel];
    std::uint8_t* const destination = target.backBuffer();
    const auto* const source = static_cast<const std::uint8_t*>(buffer.address);
    for (int row = 0; row < rows; ++row) {
        std::memcpy(destination + rowBytes * row, source + device.bytesPerLine * row, rowBytes);
    }
    target.publish(columns, rows);
}

int V4l2Source::takeFrameLocked(int channel) {
    Device& device = state_[channel];
    v4l2_buffer buffer = mappedBuffer();
    if (system_->ioctl(device.fd, VIDIOC_DQBUF, &buffer) != 0) {
        // EAGAIN: a spurious readiness. Anything else: the device is gone or broken.
        return errno == EAGAIN || errno == EINTR ? 0 : errno;
    }
    if (buffer.index < device.buffers.size() && (buffer.flags & V4L2_BUF_FLAG_ERROR) == 0) {
        copyFrame(channel, device, device.buffers[buffer.index], buffer.bytesused);
    }
    return system_->ioctl(device.fd, VIDIOC_QBUF, &buffer) == 0 ? 0 : errno;
}

void V4l2Source::run() {
    struct Waiting {
        int channel;
        unsigned session;
    };
    std::vector<pollfd> waits;
    std::vector<Waiting> waiting;
    while (true) {
        waits.assign(1, pollfd{wake_, POLLIN, 0});
        waiting.clear();
        {
            const std::lock_guard lock(mutex_);
            if (quit_) {
                return;
            }
            watched_.clear();
            for (int channel = 0; channel < ChannelCount; ++channel) {
                if (state_[channel].streaming) {
                    waits.push_back(pollfd{state_[channel].fd, POLLIN, 0});
                    waiting.push_back({channel, state_[channel].session});
                    watched_.push_back(state_[channel].fd);
                }
            }
        }
        watchChanged_.notify_all();
        if (system_->poll(waits.data(), waits.size(), -1) < 0) {
            if (errno != EINTR) {
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            }
            continue;
        }
        if ((waits[0].revents & POLLIN) != 0) {
            std::uint64_t drained = 0;
            [[maybe_unused]] const auto got = read(wake_, &drained, sizeof drained);
        }
        const std::lock_guard lock(mutex_);
        for (std::size_t i = 1; i < waits.size(); ++i) {
            const int channel = waiting[i - 1].channel;
            Device& device = state_[channel];
            // Stopped, or restarted, while this thread waited: not this session any more.
            if (waits[i].revents == 0 || !device.streaming || device.session != waiting[i - 1].session) {
                continue;
            }
            // A node that went away hangs up; a streaming queue in error says POLLERR.
            const short revents = waits[i].revents;
            const int failure = (revents & (POLLHUP | POLLNVAL)) != 0 ? ENODEV
                                : (revents & POLLERR) != 0            ? EIO
                                                                      : takeFrameLocked(channel);
            if (failure != 0) {
                // Unplugged or broken: the channel stops and keeps its last picture.
                stopStreamingLocked(device);
                device.lost = failure;
                channels_[channel].markStopped(nullptr);
            }
        }
    }
}

}  // namespace kesmacap

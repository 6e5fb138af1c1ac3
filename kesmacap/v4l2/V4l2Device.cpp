#include "kesmacap/v4l2/V4l2Device.h"

#include <fcntl.h>
#include <sys/mman.h>

#include <algorithm>
#include <cerrno>
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

std::int32_t V4l2Device::open(const std::string& path) {
    close();
    const int fd = system_.open(path, O_RDWR | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        return errno;
    }
    const auto fail = [&](std::int32_t error) {
        system_.close(fd);
        return error;
    };
    v4l2_capability capability{};
    if (system_.ioctl(fd, VIDIOC_QUERYCAP, &capability) != 0) {
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
    if (system_.ioctl(fd, VIDIOC_S_FMT, &format) != 0) {
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
    fd_ = fd;
    lost_ = 0;
    width_ = static_cast<int>(format.fmt.pix.width);
    height_ = static_cast<int>(format.fmt.pix.height);
    bytesPerLine_ = bytesPerLine;
    setFastestFrameRate(format.fmt.pix);
    return 0;
}

// Devices keep whatever rate they had unless they offer rate control; a
// driver's default is often far below what it can do (vivid: 5 of 25 fps).
void V4l2Device::setFastestFrameRate(const v4l2_pix_format& format) const {
    v4l2_streamparm parameters{};
    parameters.type = CaptureType;
    if (system_.ioctl(fd_, VIDIOC_G_PARM, &parameters) != 0 ||
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
        if (system_.ioctl(fd_, VIDIOC_ENUM_FRAMEINTERVALS, &interval) != 0) {
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
        system_.ioctl(fd_, VIDIOC_S_PARM, &parameters);
    }
}

void V4l2Device::close() {
    if (fd_ < 0) {
        return;
    }
    stopStreaming();
    releaseBuffers();
    system_.close(fd_);
    fd_ = -1;
}

std::int32_t V4l2Device::startStreaming() {
    if (fd_ < 0) {
        return EBADF;
    }
    if (lost_ != 0) {
        return lost_;
    }
    if (streaming_) {
        return 0;
    }
    if (buffers_.empty()) {
        if (const std::int32_t error = requestBuffers(); error != 0) {
            return error;
        }
    }
    // Every buffer is the application's after a stop (STREAMOFF hands queued ones back).
    for (std::uint32_t index = 0; index < buffers_.size(); ++index) {
        v4l2_buffer buffer = mappedBuffer(index);
        if (system_.ioctl(fd_, VIDIOC_QBUF, &buffer) != 0) {
            const std::int32_t error = errno;
            v4l2_buf_type type = CaptureType;
            system_.ioctl(fd_, VIDIOC_STREAMOFF, &type);  // takes back those already queued
            return error;
        }
    }
    v4l2_buf_type type = CaptureType;
    if (system_.ioctl(fd_, VIDIOC_STREAMON, &type) != 0) {
        const std::int32_t error = errno;
        system_.ioctl(fd_, VIDIOC_STREAMOFF, &type);
        return error;
    }
    streaming_ = true;
    ++session_;
    return 0;
}

std::int32_t V4l2Device::requestBuffers() {
    v4l2_requestbuffers request{};
    request.count = BufferCount;
    request.type = CaptureType;
    request.memory = V4L2_MEMORY_MMAP;
    if (system_.ioctl(fd_, VIDIOC_REQBUFS, &request) != 0) {
        return errno;
    }
    if (request.count == 0) {
        return ENOMEM;
    }
    for (unsigned index = 0; index < request.count; ++index) {
        v4l2_buffer buffer = mappedBuffer(index);
        if (system_.ioctl(fd_, VIDIOC_QUERYBUF, &buffer) != 0) {
            const std::int32_t error = errno;
            releaseBuffers();
            return error;
        }
        void* const address =
            system_.mmap(buffer.length, PROT_READ | PROT_WRITE, MAP_SHARED, fd_, buffer.m.offset);
        if (address == MAP_FAILED) {
            const std::int32_t error = errno;
            releaseBuffers();
            return error;
        }
        buffers_.push_back({address, buffer.length});
    }
    return 0;
}

void V4l2Device::stopStreaming() {
    if (!streaming_) {
        return;
    }
    v4l2_buf_type type = CaptureType;
    system_.ioctl(fd_, VIDIOC_STREAMOFF, &type);
    streaming_ = false;
}

void V4l2Device::markLost(int failure) {
    stopStreaming();
    lost_ = failure;
}

// Only with nothing watching the descriptor any more, or about to close it.
void V4l2Device::releaseBuffers() {
    if (fd_ < 0) {
        return;
    }
    for (const Mapping& mapping : buffers_) {
        system_.munmap(mapping.address, mapping.length);
    }
    buffers_.clear();
    v4l2_requestbuffers release{};
    release.count = 0;
    release.type = CaptureType;
    release.memory = V4L2_MEMORY_MMAP;
    system_.ioctl(fd_, VIDIOC_REQBUFS, &release);
}

void V4l2Device::copyFrame(Channel& channel, const Mapping& buffer, std::size_t bytesUsed) const {
    // Never more than the card's size: a larger frame is clipped at its right and bottom.
    const int columns = std::min(width_, MaxWidth);
    const int rows = std::min(height_, MaxHeight);
    const std::size_t rowBytes = static_cast<std::size_t>(columns) * BytesPerPixel;
    const std::size_t available = bytesUsed != 0 ? std::min(bytesUsed, buffer.length) : buffer.length;
    if (rows <= 0 || bytesPerLine_ * static_cast<std::size_t>(rows - 1) + rowBytes > available) {
        return;  // a short buffer: drop it rather than read past it
    }
    std::uint8_t* const destination = channel.backBuffer();
    const auto* const source = static_cast<const std::uint8_t*>(buffer.address);
    for (int row = 0; row < rows; ++row) {
        std::memcpy(destination + rowBytes * row, source + bytesPerLine_ * row, rowBytes);
    }
    channel.publish(columns, rows);
}

int V4l2Device::takeFrame(Channel& channel) {
    v4l2_buffer buffer = mappedBuffer();
    if (system_.ioctl(fd_, VIDIOC_DQBUF, &buffer) != 0) {
        // EAGAIN: a spurious readiness. Anything else: the device is gone or broken.
        return errno == EAGAIN || errno == EINTR ? 0 : errno;
    }
    if (buffer.index < buffers_.size() && (buffer.flags & V4L2_BUF_FLAG_ERROR) == 0) {
        copyFrame(channel, buffers_[buffer.index], buffer.bytesused);
    }
    return system_.ioctl(fd_, VIDIOC_QBUF, &buffer) == 0 ? 0 : errno;
}

}  // namespace kesmacap

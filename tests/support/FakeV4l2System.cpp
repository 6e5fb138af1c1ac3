#include "tests/support/FakeV4l2System.h"

#include <sys/eventfd.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <thread>
#include <utility>

namespace testing_support {

namespace {

constexpr off_t OffsetStep = 1 << 24;

int failWith(int error) {
    errno = error;
    return -1;
}

// Bytes per pixel of the first plane (4:2:0 adds half as much in chroma);
// three for a format the fake does not know.
std::uint32_t pixelBytes(std::uint32_t format) {
    const bool planar =
        format == V4L2_PIX_FMT_YUV420 || format == V4L2_PIX_FMT_YVU420 || format == V4L2_PIX_FMT_NV12;
    return format == V4L2_PIX_FMT_YUYV || format == V4L2_PIX_FMT_UYVY ? 2 : planar ? 1 : 3;
}

std::size_t lineOf(const FakeDeviceSpec& spec, std::uint32_t width) {
    return spec.bytesPerLine != 0 ? spec.bytesPerLine : std::size_t{width} * pixelBytes(spec.pixelFormat);
}

// A solid colour in the format, as far as the buffer goes: B, G, R, or
// Y'CbCr in BT.601's limited range (4:2:0: the luma plane alone).
void fillSolid(std::vector<std::uint8_t>& pixels, std::uint32_t format, std::size_t line, std::uint32_t width,
               std::uint32_t height, std::uint8_t blue, std::uint8_t green, std::uint8_t red) {
    const auto y = static_cast<std::uint8_t>(((66 * red + 129 * green + 25 * blue + 128) >> 8) + 16);
    const auto u = static_cast<std::uint8_t>(((-38 * red - 74 * green + 112 * blue + 128) >> 8) + 128);
    const auto v = static_cast<std::uint8_t>(((112 * red - 94 * green - 18 * blue + 128) >> 8) + 128);
    const std::uint32_t bytes = pixelBytes(format);
    const std::array<std::uint8_t, 4> unit = bytes == 3 ? std::array{blue, green, red, blue}
                                             : format == V4L2_PIX_FMT_UYVY ? std::array{u, y, v, y}
                                                                           : std::array{y, u, y, v};
    for (std::size_t index = 0; index < std::min(pixels.size(), line * height); ++index) {
        const std::size_t at = index % line;
        if (at < std::size_t{width} * bytes) {
            pixels[index] = bytes == 1 ? y : unit[at % (bytes == 3 ? 3 : 4)];
        }
    }
}

}  // namespace

void FakeV4l2System::addDevice(const std::string& path, const FakeDeviceSpec& spec) {
    const std::lock_guard lock(mutex_);
    Device& device = devices_[path];
    device.spec = spec;
    device.width = spec.width;
    device.height = spec.height;
    device.number = static_cast<dev_t>(0x5100 + devices_.size());  // major 81, as video nodes have
    device.measured = spec.inputs.empty() ? 0 : spec.inputs.front().detected;  // idling on input 0
    nodes_.push_back(path);
}

void FakeV4l2System::addAlias(const std::string& alias, const std::string& path) {
    const std::lock_guard lock(mutex_);
    aliases_[alias] = path;
}

std::size_t FakeV4l2System::frameBytes(const Device& device) const {
    const std::size_t line = lineOf(device.spec, device.width);
    const std::size_t chroma =
        pixelBytes(device.spec.pixelFormat) == 1 ? line * ((device.height + 1) / 2) : 0;
    return line * device.height + chroma;
}

// Readiness (a frame, an unplug) wakes every handle; only the queue's owner, which dequeues, has it taken
// back.
void FakeV4l2System::setReady(const Device& device, bool ready) const {
    for (const int fd : device.handles) {
        if (ready) {
            const std::uint64_t one = 1;
            [[maybe_unused]] const auto written = write(fd, &one, sizeof one);
        } else if (fd == device.owner) {
            std::uint64_t drained = 0;
            [[maybe_unused]] const auto got = read(fd, &drained, sizeof drained);
        }
    }
}

bool FakeV4l2System::pushFrame(const std::string& path, std::uint8_t blue, std::uint8_t green,
                               std::uint8_t red) {
    const std::lock_guard lock(mutex_);
    Device* const device = byPath(path);
    if (device == nullptr || !device->streaming || device->queued.empty()) {
        return false;
    }
    const std::uint32_t index = device->queued.front();
    device->queued.pop_front();
    device->filled.push_back(index);
    setReady(*device, true);
    if (!device->spec.inputs.empty()) {
        const FakeInput& input = device->spec.inputs[device->input];
        device->measured = input.signal ? input.detected : 0;
        if (!input.signal) {
            device->broken.insert(index);
            return true;
        }
        if ((device->standard & input.detected) == 0) {
            blue = green = red = Garbage;  // the decoder locked to another line count
        }
    }
    fillSolid(device->buffers[index], device->spec.pixelFormat, lineOf(device->spec, device->width),
              device->width, device->height, blue, green, red);
    return true;
}

void FakeV4l2System::fail(const std::string& path, int error) {
    const std::lock_guard lock(mutex_);
    Device* const device = byPath(path);
    device->failure = error;
    if (error == ENODEV) {
        device->streaming = false;  // the driver stops the queue as it unregisters the node
    }
    setReady(*device, true);
}

void FakeV4l2System::spuriousWakeUp(const std::string& path) {
    const std::lock_guard lock(mutex_);
    Device* const device = byPath(path);
    device->spurious = true;
    setReady(*device, true);
}

void FakeV4l2System::replug(const std::string& path) {
    const std::lock_guard lock(mutex_);
    byPath(path)->failure = 0;
}

void FakeV4l2System::setSignal(const std::string& path, std::uint32_t input, bool signal) {
    const std::lock_guard lock(mutex_);
    byPath(path)->spec.inputs.at(input).signal = signal;
}

std::uint32_t FakeV4l2System::input(const std::string& path) const {
    const std::lock_guard lock(mutex_);
    return byPath(path)->input;
}

v4l2_std_id FakeV4l2System::standard(const std::string& path) const {
    const std::lock_guard lock(mutex_);
    return byPath(path)->standard;
}

bool FakeV4l2System::isStreaming(const std::string& path) const {
    const std::lock_guard lock(mutex_);
    return byPath(path)->streaming;
}

bool FakeV4l2System::isCapturing(const std::string& path) const {
    const std::lock_guard lock(mutex_);
    const Device* const device = byPath(path);
    return device->streaming || device->readMode;
}

int FakeV4l2System::emptyDequeues(const std::string& path) const {
    const std::lock_guard lock(mutex_);
    return byPath(path)->emptyDequeues;
}

v4l2_fract FakeV4l2System::frameInterval(const std::string& path) const {
    const std::lock_guard lock(mutex_);
    return byPath(path)->interval;
}

bool FakeV4l2System::isOpen(const std::string& path) const {
    const std::lock_guard lock(mutex_);
    return !byPath(path)->handles.empty();
}

std::size_t FakeV4l2System::queuedBuffers(const std::string& path) const {
    const std::lock_guard lock(mutex_);
    return byPath(path)->queued.size();
}

std::size_t FakeV4l2System::mappedBuffers() const {
    const std::lock_guard lock(mutex_);
    return mapped_.size();
}

FakeV4l2System::Device* FakeV4l2System::byFd(int fd) {
    for (auto& [path, device] : devices_) {
        if (device.handles.count(fd) != 0) {
            return &device;
        }
    }
    return nullptr;
}

FakeV4l2System::Device* FakeV4l2System::byPath(const std::string& path) {
    return const_cast<Device*>(std::as_const(*this).byPath(path));
}

const FakeV4l2System::Device* FakeV4l2System::byPath(const std::string& path) const {
    const auto alias = aliases_.find(path);
    const auto found = devices_.find(alias == aliases_.end() ? path : alias->second);
    return found == devices_.end() ? nullptr : &found->second;
}

std::vector<std::string> FakeV4l2System::deviceNodes() {
    const std::lock_guard lock(mutex_);
    return nodes_;
}

std::optional<dev_t> FakeV4l2System::deviceNumber(const std::string& path) {
    const std::lock_guard lock(mutex_);
    const Device* const device = byPath(path);
    return device != nullptr ? std::optional(device->number) : std::nullopt;
}

int FakeV4l2System::open(const std::string& path, int /*flags*/) {
    const std::lock_guard lock(mutex_);
    Device* const device = byPath(path);
    if (device == nullptr) {
        return failWith(ENOENT);
    }
    const int fd = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    device->handles.insert(fd);
    return fd;
}

// The queue's owner lets go: streaming, its buffers and any read mode go with it.
void FakeV4l2System::release(Device& device) {
    device.owner = -1;
    device.streaming = false;
    device.readMode = false;
    device.buffers.clear();
    device.queued.clear();
    device.filled.clear();
    device.broken.clear();
}

int FakeV4l2System::close(int fd) {
    const std::lock_guard lock(mutex_);
    Device* const device = byFd(fd);
    if (device == nullptr) {
        return failWith(EBADF);
    }
    if (device->owner == fd || device->handles.size() == 1) {
        release(*device);
    }
    device->handles.erase(fd);
    ::close(fd);
    return 0;
}

int FakeV4l2System::ioctl(int fd, unsigned long request, void* argument) {
    const std::lock_guard lock(mutex_);
    Device* const device = byFd(fd);
    if (device == nullptr) {
        return failWith(EBADF);
    }
    if (device->spec.failingRequest != 0 && request == device->spec.failingRequest) {
        return failWith(device->spec.failingError);
    }
    if (device->failure == ENODEV) {
        return failWith(ENODEV);  // unplugged: the node answers nothing any more
    }
    // videobuf2: the queue is its owner's; another handle that would touch it is busy.
    const bool queueRequest = request == VIDIOC_REQBUFS || request == VIDIOC_QBUF ||
                              request == VIDIOC_DQBUF || request == VIDIOC_STREAMON ||
                              request == VIDIOC_STREAMOFF;
    if (queueRequest && device->owner >= 0 && device->owner != fd) {
        return failWith(EBUSY);
    }
    return this->request(*device, fd, request, argument);
}

// The kernel's video buffer layer, as far as the back end meets it.
int FakeV4l2System::request(Device& device, int fd, unsigned long request, void* argument) {
    switch (request) {
        case VIDIOC_QUERYCAP: {
            auto* const capability = static_cast<v4l2_capability*>(argument);
            const std::uint32_t io = device.spec.readOnly ? V4L2_CAP_READWRITE : V4L2_CAP_STREAMING;
            const std::uint32_t caps =
                device.spec.capture ? V4L2_CAP_VIDEO_CAPTURE | io : V4L2_CAP_META_CAPTURE;
            capability->capabilities = caps | V4L2_CAP_DEVICE_CAPS;
            capability->device_caps = caps;
            return 0;
        }
        case VIDIOC_S_FMT:
        case VIDIOC_G_FMT: {
            if (request == VIDIOC_S_FMT && !device.buffers.empty()) {
                return failWith(EBUSY);
            }
            if (request == VIDIOC_S_FMT && !device.spec.inputs.empty()) {
                device.width = 720;
                device.height = (device.standard & V4L2_STD_525_60) != 0 ? 480 : 576;
            }
            auto& pix = static_cast<v4l2_format*>(argument)->fmt.pix;
            pix.width = device.width;
            pix.height = device.height;
            pix.pixelformat = device.spec.pixelFormat;
            pix.bytesperline = device.spec.bytesPerLine;
            pix.field = device.spec.field;
            return 0;
        }
        case VIDIOC_ENUM_FMT: {
            auto* const format = static_cast<v4l2_fmtdesc*>(argument);
            if (format->index != 0) {
                return failWith(EINVAL);
            }
            format->pixelformat = device.spec.pixelFormat;
            const bool h264 = device.spec.pixelFormat == V4L2_PIX_FMT_H264;
            std::snprintf(reinterpret_cast<char*>(format->description), sizeof format->description, "%s",
                          h264 ? "H.264" : "Some format");
            return 0;
        }
        case VIDIOC_ENUMINPUT: {
            auto* const input = static_cast<v4l2_input*>(argument);
            if (device.spec.inputs.empty() || input->index >= device.spec.inputs.size()) {
                return failWith(device.spec.inputs.empty() ? ENOTTY : EINVAL);
            }
            const FakeInput& fake = device.spec.inputs[input->index];
            std::snprintf(reinterpret_cast<char*>(input->name), sizeof input->name, "%s", fake.name.c_str());
            input->capabilities = V4L2_IN_CAP_STD;
            input->std = V4L2_STD_ALL;
            // Defined for the selected input only; bttv, saa7134 and vivid say 0 for the others.
            input->status = fake.signal || input->index != device.input ? 0 : V4L2_IN_ST_NO_SIGNAL;
            return 0;
        }
        case VIDIOC_G_INPUT:
        case VIDIOC_S_INPUT: {
            auto* const index = static_cast<int*>(argument);
            if (device.spec.inputs.empty()) {
                return failWith(ENOTTY);
            }
            if (request == VIDIOC_G_INPUT) {
                *index = static_cast<int>(device.input);
                return 0;
            }
            if (*index < 0 || static_cast<std::size_t>(*index) >= device.spec.inputs.size()) {
                return failWith(EINVAL);
            }
            if (!device.buffers.empty() || device.streaming) {
                return failWith(EBUSY);
            }
            device.input = static_cast<std::uint32_t>(*index);
            return 0;
        }
        case VIDIOC_G_STD:
        case VIDIOC_S_STD:
        case VIDIOC_QUERYSTD: {
            auto* const standard = static_cast<v4l2_std_id*>(argument);
            if (device.spec.inputs.empty()) {
                return failWith(ENOTTY);
            }
            if (request == VIDIOC_QUERYSTD) {
                // What the decoder measured last: the previous input's until a field of this one came.
                *standard = device.measured;
                return device.measured != 0 ? 0 : failWith(ENOLINK);
            }
            if (request == VIDIOC_G_STD) {
                *standard = device.standard;
                return 0;
            }
            if (!device.buffers.empty() || device.streaming) {
                return failWith(EBUSY);
            }
            device.standard = *standard;
            return 0;
        }
        case VIDIOC_ENUM_FRAMEINTERVALS: {
            auto* const interval = static_cast<v4l2_frmivalenum*>(argument);
            const auto& offered = device.spec.frameIntervals;
            if (offered.empty()) {
                return failWith(ENOTTY);
            }
            if (interval->pixel_format != device.spec.pixelFormat || interval->width != device.width ||
                interval->height != device.height) {
                return failWith(EINVAL);
            }
            if (device.spec.stepwiseIntervals && interval->index == 0 && offered.size() == 2) {
                interval->type = V4L2_FRMIVAL_TYPE_STEPWISE;
                interval->stepwise.min = offered[0];
                interval->stepwise.max = offered[1];
                interval->stepwise.step = v4l2_fract{1, offered[0].denominator};
                return 0;
            }
            if (device.spec.stepwiseIntervals || interval->index >= offered.size()) {
                return failWith(EINVAL);
            }
            interval->type = V4L2_FRMIVAL_TYPE_DISCRETE;
            interval->discrete = offered[interval->index];
            return 0;
        }
        case VIDIOC_G_PARM:
        case VIDIOC_S_PARM: {
            if (device.spec.frameIntervals.empty()) {
                return failWith(ENOTTY);
            }
            auto& capture = static_cast<v4l2_streamparm*>(argument)->parm.capture;
            if (request == VIDIOC_S_PARM) {
                device.interval = capture.timeperframe;
            }
            capture.capability = V4L2_CAP_TIMEPERFRAME;
            capture.timeperframe = device.interval;
            return 0;
        }
        case VIDIOC_REQBUFS: {
            auto* const request = static_cast<v4l2_requestbuffers*>(argument);
            if (device.readMode || device.streaming) {
                return failWith(EBUSY);  // "file io in progress", or streaming
            }
            device.queued.clear();
            device.filled.clear();
            device.broken.clear();
            const std::size_t length =
                device.spec.sizeImage != 0 ? device.spec.sizeImage : frameBytes(device);
            device.buffers.assign(request->count, std::vector<std::uint8_t>(length));
            device.owner = device.buffers.empty() ? -1 : fd;
            if (device.buffers.empty() && device.pollers > 0) {
                device.readMode = true;  // a poll woken now finds a queue without buffers
                device.owner = fd;
            }
            return 0;
        }
        case VIDIOC_QUERYBUF: {
            auto* const buffer = static_cast<v4l2_buffer*>(argument);
            if (buffer->index >= device.buffers.size()) {
                return failWith(EINVAL);
            }
            buffer->length = static_cast<std::uint32_t>(device.buffers[buffer->index].size());
            buffer->m.offset = static_cast<std::uint32_t>(buffer->index * OffsetStep);
            return 0;
        }
        case VIDIOC_QBUF: {
            const auto* const buffer = static_cast<v4l2_buffer*>(argument);
            if (device.readMode) {
                return failWith(EBUSY);
            }
            if (buffer->index >= device.buffers.size() ||
                std::count(device.queued.begin(), device.queued.end(), buffer->index) != 0) {
                return failWith(EINVAL);
            }
            device.queued.push_back(buffer->index);
            return 0;
        }
        case VIDIOC_DQBUF: {
            auto* const buffer = static_cast<v4l2_buffer*>(argument);
            if (device.failure != 0) {
                return failWith(device.failure);
            }
            if (!device.streaming) {
                return failWith(EINVAL);
            }
            if (device.spurious || device.filled.empty()) {
                device.spurious = false;
                ++device.emptyDequeues;
                setReady(device, !device.filled.empty());
                return failWith(EAGAIN);
            }
            buffer->index = device.filled.front();
            buffer->bytesused = device.spec.bytesUsed != 0 ? device.spec.bytesUsed
                                                           : static_cast<std::uint32_t>(frameBytes(device));
            buffer->flags = device.broken.erase(buffer->index) != 0 ? V4L2_BUF_FLAG_ERROR : 0;
            buffer->field = device.spec.field;
            device.filled.pop_front();
            setReady(device, !device.filled.empty());
            return 0;
        }
        case VIDIOC_STREAMON:
            if (device.readMode) {
                return failWith(EBUSY);
            }
            if (device.buffers.empty()) {
                return failWith(EINVAL);
            }
            device.streaming = true;
            return 0;
        case VIDIOC_STREAMOFF:
            // Every buffer goes back to the application, queued or filled, and pollers wake.
            device.streaming = false;
            device.queued.clear();
            device.filled.clear();
            device.broken.clear();
            setReady(device, true);
            return 0;
        default:
            return failWith(ENOTTY);
    }
}

void* FakeV4l2System::mmap(std::size_t length, int /*prot*/, int /*flags*/, int fd, off_t offset) {
    const std::lock_guard lock(mutex_);
    Device* const device = byFd(fd);
    const auto index = static_cast<std::size_t>(offset / OffsetStep);
    if (device == nullptr || device->spec.mmapFails || index >= device->buffers.size() ||
        device->buffers[index].size() != length) {
        errno = EINVAL;
        return MAP_FAILED;
    }
    void* const address = device->buffers[index].data();
    mapped_.insert(address);
    return address;
}

int FakeV4l2System::munmap(void* address, std::size_t /*length*/) {
    const std::lock_guard lock(mutex_);
    return mapped_.erase(address) == 1 ? 0 : failWith(EINVAL);
}

// As the kernel's buffer layer answers a poll, at its start and again when it
// wakes: a queue without buffers starts the read() emulation; a queue with
// buffers that is not streaming has nothing to wait for (POLLERR).
int FakeV4l2System::poll(pollfd* fds, nfds_t count, int timeout) {
    std::vector<Device*> polled(count, nullptr);
    bool immediate = false;
    {
        const std::lock_guard lock(mutex_);
        for (nfds_t i = 0; i < count; ++i) {
            Device* const device = byFd(fds[i].fd);
            if (device == nullptr) {
                continue;
            }
            polled[i] = device;
            ++device->pollers;
            if (device->buffers.empty() && device->spec.capture && device->failure == 0 &&
                device->owner < 0) {
                device->readMode = true;  // the poller becomes the queue's owner
                device->owner = fds[i].fd;
            }
            immediate = immediate || (!device->streaming && !device->readMode);
        }
    }
    const int result = ::poll(fds, count, immediate ? 0 : timeout);
    // A poller woken by a stop runs a moment later, when the application may
    // have gone on to release the buffers.
    const auto stoppedMeanwhile = [&] {
        const std::lock_guard lock(mutex_);
        return std::any_of(polled.begin(), polled.end(),
                           [](const Device* device) { return device != nullptr && !device->streaming; });
    };
    if (!immediate && stoppedMeanwhile()) {
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    const std::lock_guard lock(mutex_);
    int ready = 0;
    for (nfds_t i = 0; i < count; ++i) {
        Device* const device = polled[i];
        if (device != nullptr) {
            --device->pollers;
            if (result >= 0 && device->failure == ENODEV) {
                fds[i].revents = POLLERR | POLLHUP;
            } else if (result >= 0 && !device->streaming && !device->readMode) {
                fds[i].revents = POLLERR;
            }
        }
        ready += fds[i].revents != 0 ? 1 : 0;
    }
    return result < 0 ? result : ready;
}

}  // namespace testing_support

#include "kesmacap/v4l2/V4l2Device.h"

#include <fcntl.h>
#include <sys/mman.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <optional>
#include <system_error>

namespace kesmacap {

namespace {

constexpr v4l2_buf_type CaptureType = V4L2_BUF_TYPE_VIDEO_CAPTURE;
// No driver has more inputs or events queued than this; a broken one that never says "no more" ends here.
constexpr std::uint32_t MostEntries = 256;

// A request about one of the device's memory-mapped capture buffers.
v4l2_buffer mappedBuffer(std::uint32_t index = 0) {
    v4l2_buffer buffer{};
    buffer.type = CaptureType;
    buffer.memory = V4L2_MEMORY_MMAP;
    buffer.index = index;
    return buffer;
}

std::string nameOf(const v4l2_input& input) {
    return std::string(reinterpret_cast<const char*>(input.name),
                       strnlen(reinterpret_cast<const char*>(input.name), sizeof input.name));
}

}  // namespace

std::string ErrorText(int error) {
    return std::error_code(error, std::generic_category()).message();
}

DeviceProblem V4l2Device::open(const std::string& path) {
    close();
    const int fd = system_.open(path, O_RDWR | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        const int error = errno;
        return {error == ENOENT ? "The device is not there (unplugged?)"
                                : "Cannot open it: " + ErrorText(error)};
    }
    v4l2_capability capability{};
    if (system_.ioctl(fd, VIDIOC_QUERYCAP, &capability) != 0) {
        const int error = errno;
        system_.close(fd);
        // ENOTTY: no Video4Linux2 device at all; anything else (an unplug under way) may pass.
        return {"Not a video device: " + ErrorText(error), error == ENOTTY};
    }
    const std::uint32_t caps = NodeCaps(capability);
    if ((caps & V4L2_CAP_VIDEO_CAPTURE) == 0 || (caps & V4L2_CAP_STREAMING) == 0) {
        system_.close(fd);
        if ((caps & V4L2_CAP_VIDEO_CAPTURE) != 0 && (caps & V4L2_CAP_READWRITE) != 0) {
            // cx18's and ivtv's MPEG-2, HD PVR's H.264: a byte stream read() from an encoder.
            return {
                "It is an encoder's node: it sends compressed video through read() only, which this "
                "library cannot show. Name the card's raw video node, or show it with the GStreamer "
                "library (v4l2:// in its sources)",
                true};
        }
        return {"Not a video capture node", true};
    }
    fd_ = fd;
    negotiated_ = std::nullopt;
    detected_.clear();
    return {};
}

void V4l2Device::close() {
    if (fd_ < 0) {
        return;
    }
    stopStreaming();
    releaseBuffers();
    unwatchSourceChanges();
    system_.close(fd_);
    fd_ = -1;
}

bool V4l2Device::answers() const {
    v4l2_capability capability{};
    return fd_ >= 0 && (system_.ioctl(fd_, VIDIOC_QUERYCAP, &capability) == 0 || errno != ENODEV);
}

int V4l2Device::setReleasing(unsigned long request, void* argument) {
    if (system_.ioctl(fd_, request, argument) == 0) {
        return 0;
    }
    if (errno != EBUSY || buffers_.empty()) {
        return errno;
    }
    releaseBuffers();
    return system_.ioctl(fd_, request, argument) == 0 ? 0 : errno;
}

DeviceProblem V4l2Device::configure(const V4l2Settings& settings) {
    if (fd_ < 0) {
        return {"Not open"};
    }
    stopStreaming();
    if (DeviceProblem problem = selectInput(settings)) {
        return problem;
    }
    v4l2_input input{};
    input.index = input_;
    const bool described = system_.ioctl(fd_, VIDIOC_ENUMINPUT, &input) == 0;
    watchSourceChanges();

    fourByThree_ = false;
    detecting_ = false;
    // Inputs of one kind and standard share a format, so switching between them keeps the buffers.
    Negotiated wanted{input_, 0, 0, 0};
    if (described && (input.capabilities & V4L2_IN_CAP_STD) != 0) {
        if (DeviceProblem problem = selectStandard(settings, input)) {
            return problem;
        }
        system_.ioctl(fd_, VIDIOC_G_STD, &wanted.standard);
        wanted.input = StandardInputs;
        fourByThree_ = true;
        detecting_ = !settings.standard;
    } else if (described && (input.capabilities & V4L2_IN_CAP_DV_TIMINGS) != 0) {
        if (DeviceProblem problem = selectTimings()) {
            return problem;
        }
        v4l2_dv_timings timings{};
        if (system_.ioctl(fd_, VIDIOC_G_DV_TIMINGS, &timings) == 0) {
            wanted.width = timings.bt.width;
            wanted.height = timings.bt.height;
        }
        wanted.input = TimingsInputs;
    }
    standard_ = wanted.standard;
    // The format follows the input and its standard or timings; asked again
    // only when they changed, or when the driver changed it with them.
    v4l2_format now{};
    now.type = CaptureType;
    if (negotiated_ == wanted && system_.ioctl(fd_, VIDIOC_G_FMT, &now) == 0 &&
        now.fmt.pix.width == format_.width && now.fmt.pix.height == format_.height) {
        return {};
    }
    negotiated_ = std::nullopt;
    releaseBuffers();
    if (DeviceProblem problem = negotiateFormat()) {
        return problem;
    }
    negotiated_ = wanted;
    return {};
}

DeviceProblem V4l2Device::selectInput(const V4l2Settings& settings) {
    int current = 0;
    const bool selectable = system_.ioctl(fd_, VIDIOC_G_INPUT, &current) == 0;
    std::optional<std::uint32_t> wanted = settings.input;
    std::string names;
    if (wanted || !settings.inputName.empty()) {
        std::optional<std::uint32_t> found;
        for (std::uint32_t index = 0; index < MostEntries; ++index) {
            v4l2_input input{};
            input.index = index;
            if (system_.ioctl(fd_, VIDIOC_ENUMINPUT, &input) != 0) {
                break;
            }
            names += (names.empty() ? "" : ", ") + std::to_string(index) + " " + nameOf(input);
            if ((wanted && *wanted == index) ||
                (!settings.inputName.empty() && SameLetters(nameOf(input), settings.inputName))) {
                found = index;
            }
        }
        if (!found) {
            const std::string asked = wanted ? std::to_string(*wanted) : "\"" + settings.inputName + "\"";
            return {"No input " + asked + " (inputs: " + (names.empty() ? "none listed" : names) + ")", true};
        }
        wanted = found;
    }
    const std::uint32_t chosen = wanted.value_or(selectable ? static_cast<std::uint32_t>(current) : 0);
    if (selectable && static_cast<int>(chosen) != current) {
        int index = static_cast<int>(chosen);
        if (const int error = setReleasing(VIDIOC_S_INPUT, &index); error != 0) {
            input_ = static_cast<std::uint32_t>(current);
            return {"Cannot select input " + std::to_string(chosen) + ": " + ErrorText(error)};
        }
    }
    input_ = chosen;
    return {};
}

DeviceProblem V4l2Device::selectStandard(const V4l2Settings& settings, const v4l2_input& input) {
    v4l2_std_id current = 0;
    system_.ioctl(fd_, VIDIOC_G_STD, &current);
    v4l2_std_id wanted = 0;
    if (settings.standard) {
        wanted = input.std != 0 ? *settings.standard & input.std : *settings.standard;
        if (wanted == 0) {
            return {"Input " + std::to_string(input_) + " does not take " + settings.standardName, true};
        }
    } else {
        // auto: what was detected on this input once it had settled; until then the standard set.
        // (Asked right after S_INPUT, bttv answers from the last field it measured: the previous input's.)
        const auto known = detected_.find(input_);
        if (known == detected_.end()) {
            return {};
        }
        wanted = known->second;
    }
    if (current != 0 && (current & ~wanted) == 0) {
        return {};  // already one of those wanted
    }
    if (const int error = setReleasing(VIDIOC_S_STD, &wanted); error != 0) {
        return {"Cannot set the standard " + settings.standardName + ": " + ErrorText(error)};
    }
    return {};
}

DeviceProblem V4l2Device::selectTimings() {
    v4l2_dv_timings found{};
    if (system_.ioctl(fd_, VIDIOC_QUERY_DV_TIMINGS, &found) != 0) {
        switch (errno) {
            case ENOLINK:
                return {"No signal on input " + std::to_string(input_), false, true};
            case ENOLCK:
                return {"The signal on input " + std::to_string(input_) + " is unstable (no lock)", false,
                        true};
            case ERANGE:
                return {"The signal on input " + std::to_string(input_) + " is out of the receiver's range",
                        false, true};
            default:
                return {};  // cannot tell: the timings the driver has
        }
    }
    v4l2_dv_timings current{};
    if (system_.ioctl(fd_, VIDIOC_G_DV_TIMINGS, &current) == 0 && current.type == found.type &&
        current.bt.width == found.bt.width && current.bt.height == found.bt.height &&
        current.bt.interlaced == found.bt.interlaced && current.bt.pixelclock == found.bt.pixelclock) {
        return {};
    }
    if (const int error = setReleasing(VIDIOC_S_DV_TIMINGS, &found); error != 0) {
        return {"Cannot take the new timings " + std::to_string(found.bt.width) + " x " +
                std::to_string(found.bt.height) + ": " + ErrorText(error)};
    }
    return {};
}

// The device's own formats: not those libv4l2 offers to convert them to.
std::string V4l2Device::formatsOffered() const {
    std::string formats;
    for (const v4l2_fmtdesc& format : CaptureFormats(system_, fd_)) {
        if ((format.flags & V4L2_FMT_FLAG_EMULATED) != 0) {
            continue;
        }
        const char* const text = reinterpret_cast<const char*>(format.description);
        formats +=
            (formats.empty() ? "" : ", ") + std::string(text, strnlen(text, sizeof format.description));
    }
    return formats.empty() ? "no format it names" : formats;
}

DeviceProblem FormatProblem(int error, const std::string& offered) {
    switch (error) {
        case EBUSY:
            return {"The device is in use by another program"};
        case ENODEV:
            return {"The device is gone (unplugged?)"};
        case EINVAL:
            // libv4l2 converts what cameras send; what it cannot (H.264, MPEG-4 ...) is an encoder's.
            return {"It sends only " + offered +
                        ", which this library cannot show; the GStreamer library decodes it (v4l2:// in its "
                        "sources)",
                    true};
        default:
            return {"Setting its format failed: " + ErrorText(error)};
    }
}

// A YUV format the device sends itself is taken as it comes; libv4l2 passes
// it through unconverted. Anything else is asked as B, G, R, which libv4l2
// converts to.
DeviceProblem V4l2Device::negotiateFormat() {
    v4l2_format format{};
    format.type = CaptureType;
    format.fmt.pix.width = MaxWidth;
    format.fmt.pix.height = MaxHeight;
    format.fmt.pix.pixelformat = system_.hidesPlaneOffsets(fd_)
                                     ? V4L2_PIX_FMT_BGR24
                                     : ChooseCaptureFormat(CaptureFormats(system_, fd_));
    format.fmt.pix.field = V4L2_FIELD_ANY;
    if (system_.ioctl(fd_, VIDIOC_S_FMT, &format) != 0) {
        const int error = errno;
        return FormatProblem(error, formatsOffered());
    }
    // Another format than asked is as good when the placer takes it too.
    const std::size_t packedLine = LineBytes(format.fmt.pix.pixelformat, format.fmt.pix.width);
    if (packedLine == 0) {
        return FormatProblem(EINVAL, formatsOffered());
    }
    if (format.fmt.pix.bytesperline == 0) {
        format.fmt.pix.bytesperline = static_cast<std::uint32_t>(packedLine);
    }
    if (format.fmt.pix.width == 0 || format.fmt.pix.height == 0 || format.fmt.pix.bytesperline < packedLine) {
        return {"The driver settled on a format it cannot hold (" + std::to_string(format.fmt.pix.width) +
                    " x " + std::to_string(format.fmt.pix.height) + ")",
                true};
    }
    format_ = format.fmt.pix;
    setFastestFrameRate(format_);
    return {};
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
    for (std::uint32_t index = 0; index < MostEntries; ++index) {
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

bool V4l2Device::detectStandard() {
    v4l2_std_id detected = 0;
    if (!detecting_ || system_.ioctl(fd_, VIDIOC_QUERYSTD, &detected) != 0 || detected == 0) {
        return false;  // cannot tell, or no signal (which the status says)
    }
    v4l2_input input{};
    input.index = input_;
    if (system_.ioctl(fd_, VIDIOC_ENUMINPUT, &input) == 0 && (detected & input.std) != 0) {
        detected &= input.std;
    }
    detected_[input_] = detected;
    v4l2_std_id current = 0;
    return system_.ioctl(fd_, VIDIOC_G_STD, &current) == 0 && (current & ~detected) != 0;
}

// Source changes of the selected input only (an event's id is its input's
// index): one subscription, moved along with the input.
void V4l2Device::watchSourceChanges() {
    if (subscribed_ == input_) {
        return;
    }
    unwatchSourceChanges();
    v4l2_event_subscription subscription{};
    subscription.type = V4L2_EVENT_SOURCE_CHANGE;
    subscription.id = input_;
    if (system_.ioctl(fd_, VIDIOC_SUBSCRIBE_EVENT, &subscription) == 0) {
        subscribed_ = input_;  // drivers without events: the status alone
    }
}

void V4l2Device::unwatchSourceChanges() {
    if (!subscribed_) {
        return;
    }
    v4l2_event_subscription subscription{};
    subscription.type = V4L2_EVENT_SOURCE_CHANGE;
    subscription.id = *subscribed_;
    system_.ioctl(fd_, VIDIOC_UNSUBSCRIBE_EVENT, &subscription);
    subscribed_ = std::nullopt;
}

std::string V4l2Device::signalProblem() const {
    const std::uint32_t index = input_;
    v4l2_input input{};
    input.index = index;
    if (fd_ < 0 || system_.ioctl(fd_, VIDIOC_ENUMINPUT, &input) != 0) {
        return {};
    }
    struct Flag {
        std::uint32_t bit;
        const char* words;
    };
    static constexpr Flag Flags[] = {
        {V4L2_IN_ST_NO_POWER, "No power"},
        {V4L2_IN_ST_NO_SIGNAL, "No signal"},
        {V4L2_IN_ST_NO_H_LOCK, "No lock"},
        {V4L2_IN_ST_NO_V_LOCK, "No vertical lock"},
        {V4L2_IN_ST_NO_STD_LOCK, "No standard lock"},
        {V4L2_IN_ST_NO_SYNC, "No sync"},
        {V4L2_IN_ST_NO_EQU, "No equaliser lock"},
        {V4L2_IN_ST_NO_CARRIER, "No carrier"},
    };
    for (const Flag& flag : Flags) {
        if ((input.status & flag.bit) != 0) {
            return std::string(flag.words) + " on input " + std::to_string(index) + " (" + nameOf(input) +
                   ")";
        }
    }
    return {};
}

DeviceProblem V4l2Device::startStreaming() {
    if (fd_ < 0) {
        return {"Not open"};
    }
    if (streaming_) {
        return {};
    }
    if (buffers_.empty()) {
        if (DeviceProblem problem = requestBuffers()) {
            return problem;
        }
    }
    // Every buffer is the application's after a stop (STREAMOFF hands queued ones back).
    v4l2_buf_type type = CaptureType;
    for (std::uint32_t index = 0; index < buffers_.size(); ++index) {
        v4l2_buffer buffer = mappedBuffer(index);
        if (system_.ioctl(fd_, VIDIOC_QBUF, &buffer) != 0) {
            const int error = errno;
            system_.ioctl(fd_, VIDIOC_STREAMOFF, &type);  // takes back those already queued
            return {"Cannot queue buffers: " + ErrorText(error)};
        }
    }
    if (system_.ioctl(fd_, VIDIOC_STREAMON, &type) != 0) {
        const int error = errno;
        system_.ioctl(fd_, VIDIOC_STREAMOFF, &type);
        return {"Cannot start streaming: " + ErrorText(error)};
    }
    streaming_ = true;
    return {};
}

DeviceProblem V4l2Device::requestBuffers() {
    v4l2_requestbuffers request{};
    request.count = BufferCount;
    request.type = CaptureType;
    request.memory = V4L2_MEMORY_MMAP;
    if (system_.ioctl(fd_, VIDIOC_REQBUFS, &request) != 0) {
        return {"Cannot get buffers: " + ErrorText(errno)};
    }
    if (request.count == 0) {
        return {"The driver gave no buffers"};
    }
    for (unsigned index = 0; index < request.count; ++index) {
        v4l2_buffer buffer = mappedBuffer(index);
        if (system_.ioctl(fd_, VIDIOC_QUERYBUF, &buffer) != 0) {
            const int error = errno;
            releaseBuffers();
            return {"Cannot get buffers: " + ErrorText(error)};
        }
        void* const address =
            system_.mmap(buffer.length, PROT_READ | PROT_WRITE, MAP_SHARED, fd_, buffer.m.offset);
        if (address == MAP_FAILED) {
            const int error = errno;
            releaseBuffers();
            return {"Cannot map buffers: " + ErrorText(error)};
        }
        buffers_.push_back({address, buffer.length});
    }
    return {};
}

void V4l2Device::stopStreaming() {
    if (!streaming_) {
        return;
    }
    v4l2_buf_type type = CaptureType;
    system_.ioctl(fd_, VIDIOC_STREAMOFF, &type);
    streaming_ = false;
}

// Streaming must be off. A queue without buffers is never polled for frames:
// the kernel's buffer layer would start its read() emulation, which holds the
// queue until the close.
void V4l2Device::releaseBuffers() {
    if (fd_ < 0 || buffers_.empty()) {
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

bool V4l2Device::takeSourceChanges() {
    bool changed = false;
    for (std::uint32_t taken = 0; taken < MostEntries; ++taken) {
        v4l2_event event{};
        if (system_.ioctl(fd_, VIDIOC_DQEVENT, &event) != 0) {
            break;
        }
        changed = changed || (event.type == V4L2_EVENT_SOURCE_CHANGE && event.id == input_);
    }
    return changed;
}

int V4l2Device::takeFrame(const std::function<void(const CapturedFrame*)>& use) {
    v4l2_buffer buffer = mappedBuffer();
    if (system_.ioctl(fd_, VIDIOC_DQBUF, &buffer) != 0) {
        // EAGAIN: a spurious readiness. Anything else: the device is gone or broken.
        return errno == EAGAIN || errno == EINTR ? 0 : errno;
    }
    if (buffer.index < buffers_.size() && (buffer.flags & V4L2_BUF_FLAG_ERROR) == 0) {
        const Mapping& mapping = buffers_[buffer.index];
        CapturedFrame frame;
        frame.pixels = static_cast<const std::uint8_t*>(mapping.address);
        frame.bytes =
            buffer.bytesused != 0 ? std::min<std::size_t>(buffer.bytesused, mapping.length) : mapping.length;
        frame.width = static_cast<int>(format_.width);
        frame.height = static_cast<int>(format_.height);
        frame.bytesPerLine = format_.bytesperline;
        frame.field = buffer.field != V4L2_FIELD_ANY ? buffer.field : format_.field;
        frame.fourByThree = fourByThree_;
        frame.pixelFormat = format_.pixelformat;
        frame.standard = standard_;
        frame.colorspace = format_.colorspace;
        frame.ycbcrEncoding = format_.ycbcr_enc;
        frame.quantization = format_.quantization;
        use(&frame);
    } else {
        use(nullptr);  // saa7134's time-out, a receiver losing lock, a short USB transfer
    }
    return system_.ioctl(fd_, VIDIOC_QBUF, &buffer) == 0 ? 0 : errno;
}

}  // namespace kesmacap

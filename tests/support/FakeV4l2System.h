// In-process video devices under the V4L2 back end, behaving as the kernel's
// drivers do where the back end meets them: several handles per node, one of
// which owns the buffer queue (videobuf2's rule), an input's status known only
// while it is selected, QUERYSTD answering from the last field measured. Each
// handle is backed by a real eventfd, so poll works on it as on a device node.
#pragma once

#include <linux/videodev2.h>

#include <deque>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "kesmacap/v4l2/V4l2System.h"

namespace testing_support {

// An analogue input: S-Video, composite.
// Without a signal its buffers come flagged V4L2_BUF_FLAG_ERROR (saa7134's
// time-out); captured at a standard other than its own, they are garbage.
struct FakeInput {
    std::string name;
    v4l2_std_id detected = V4L2_STD_PAL;  // what QUERYSTD finds on it, once measured
    bool signal = true;
};

struct FakeDeviceSpec {
    bool capture = true;
    // What the driver settles on when asked for 640 x 480, in whatever
    // format (libv4l2's conversion to BGR24 is not modelled).
    std::uint32_t width = 640;
    std::uint32_t height = 480;
    std::uint32_t pixelFormat = V4L2_PIX_FMT_BGR24;
    std::uint32_t bytesPerLine = 0;    // 0: packed
    std::uint32_t sizeImage = 0;       // buffer length; 0: bytesPerLine x height
    std::uint32_t bytesUsed = 0;       // what a dequeue reports; 0: the frame's bytes
    unsigned long failingRequest = 0;  // an ioctl that fails with failingError
    int failingError = 0;
    bool mmapFails = false;
    // Frame intervals offered at the negotiated format: discrete ones, or a
    // stepwise range from the first to the second; none: no rate control.
    std::vector<v4l2_fract> frameIntervals{};
    bool stepwiseIntervals = false;
    std::uint32_t field = V4L2_FIELD_NONE;
    // None: one camera input without standards. Else standards set the size
    // (720 x 576 or 720 x 480, as a card that cannot scale), and S_INPUT and
    // S_STD are refused while buffers exist.
    std::vector<FakeInput> inputs{};
    bool readOnly = false;  // an encoder's node (cx18, ivtv): read() alone, no streaming
};

class FakeV4l2System final : public kesmacap::V4l2System {
  public:
    // The value of every byte of a frame captured at the wrong standard.
    static constexpr std::uint8_t Garbage = 0x5a;

    void addDevice(const std::string& path, const FakeDeviceSpec& spec);
    void addNode(const std::string& path) { nodes_.push_back(path); }
    // Another name of the device at `path` (a /dev/v4l/ link): the same node, the same device number.
    void addAlias(const std::string& alias, const std::string& path);

    // Fills the next free queued buffer of the device with solid BGR in its
    // format, YUV in BT.601's limited range (or, on an input without a
    // signal, flags it broken); false when none is queued.
    bool pushFrame(const std::string& path, std::uint8_t blue, std::uint8_t green, std::uint8_t red);
    // From now on the device's dequeue fails with this errno and its descriptor
    // reports readiness; ENODEV (unplugged) fails every request, as the kernel does.
    void fail(const std::string& path, int error);
    // The next dequeue finds nothing although poll said ready.
    void spuriousWakeUp(const std::string& path);
    // Unplugged earlier, there again (to be opened anew).
    void replug(const std::string& path);
    void setSignal(const std::string& path, std::uint32_t input, bool signal);
    std::uint32_t input(const std::string& path) const;
    v4l2_std_id standard(const std::string& path) const;

    bool isStreaming(const std::string& path) const;
    // Capturing at all: streaming, or in the read() emulation that the kernel's
    // buffer layer starts when a queue without buffers is polled. That holds
    // the queue until the descriptor is closed: buffer requests fail with EBUSY.
    bool isCapturing(const std::string& path) const;
    // Dequeues that found nothing: libv4l2 logs a line for each.
    int emptyDequeues(const std::string& path) const;
    // The frame interval last set with VIDIOC_S_PARM; 0/0 if never.
    v4l2_fract frameInterval(const std::string& path) const;
    bool isOpen(const std::string& path) const;
    std::size_t queuedBuffers(const std::string& path) const;
    std::size_t mappedBuffers() const;

    std::vector<std::string> deviceNodes() override;
    std::optional<dev_t> deviceNumber(const std::string& path) override;
    int open(const std::string& path, int flags) override;
    int close(int fd) override;
    int ioctl(int fd, unsigned long request, void* argument) override;
    void* mmap(std::size_t length, int prot, int flags, int fd, off_t offset) override;
    int munmap(void* address, std::size_t length) override;
    int poll(pollfd* fds, nfds_t count, int timeout) override;

  private:
    struct Device {
        FakeDeviceSpec spec;
        dev_t number = 0;
        std::set<int> handles;  // open descriptors
        int owner = -1;         // the handle whose buffers the queue holds
        bool streaming = false;
        int failure = 0;
        bool spurious = false;
        bool readMode = false;
        int pollers = 0;  // threads inside poll() on this device
        int emptyDequeues = 0;
        v4l2_fract interval{0, 0};
        std::uint32_t width = 0;  // of the format set
        std::uint32_t height = 0;
        std::uint32_t input = 0;
        v4l2_std_id standard = V4L2_STD_NTSC_M;  // as tw686x starts
        v4l2_std_id measured = 0;                // by the decoder, in the last field captured
        std::vector<std::vector<std::uint8_t>> buffers;
        std::deque<std::uint32_t> queued;
        std::deque<std::uint32_t> filled;
        std::set<std::uint32_t> broken;  // filled buffers flagged V4L2_BUF_FLAG_ERROR
    };
    Device* byFd(int fd);
    Device* byPath(const std::string& path);
    const Device* byPath(const std::string& path) const;
    std::size_t frameBytes(const Device& device) const;
    void setReady(const Device& device, bool ready) const;
    int request(Device& device, int fd, unsigned long request, void* argument);
    void release(Device& device);

    mutable std::mutex mutex_;
    std::vector<std::string> nodes_;
    std::map<std::string, Device> devices_;
    std::map<std::string, std::string> aliases_;
    std::set<void*> mapped_;
};

}  // namespace testing_support

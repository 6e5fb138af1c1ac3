#pragma once

#include <linux/videodev2.h>
#include <poll.h>
#include <sys/types.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace kesmacap {

// Every system call the V4L2 back end makes, so tests can put an in-process
// device under it. The real one goes through libv4l2, which passes a format
// the device sends itself through as it is and converts to BGR24 the formats
// only it can read (MJPEG, Bayer ...).
class V4l2System {
  public:
    virtual ~V4l2System() = default;
    // The device nodes that may be video devices ("/dev/video*"), in any order.
    virtual std::vector<std::string> deviceNodes() = 0;
    // The device a node's name stands for (stat's st_rdev), whichever of its
    // names is given; none when there is no such device node.
    virtual std::optional<dev_t> deviceNumber(const std::string& path) = 0;
    // Each returns -1 (or MAP_FAILED) and sets errno on failure, as the calls they stand for.
    virtual int open(const std::string& path, int flags) = 0;
    virtual int close(int fd) = 0;
    virtual int ioctl(int fd, unsigned long request, void* argument) = 0;
    virtual void* mmap(std::size_t length, int prot, int flags, int fd, off_t offset) = 0;
    virtual int munmap(void* address, std::size_t length) = 0;
    virtual int poll(pollfd* fds, nfds_t count, int timeout) = 0;
    // Whether the open node's frames must be taken as libv4l2's B, G, R: a
    // multi-planar device seen through libv4l2's plugin, whose buffers do not
    // say where a plane's picture starts (vivid's starts 128 bytes in).
    virtual bool hidesPlaneOffsets(int /*fd*/) { return false; }
};

std::unique_ptr<V4l2System> MakeLibv4l2System();

// What the node itself can do: its device_caps where the driver gives them.
std::uint32_t NodeCaps(const v4l2_capability& capability);
// The capture formats an open node offers (through libv4l2: its conversions included).
std::vector<v4l2_fmtdesc> CaptureFormats(V4l2System& system, int fd);

// The device of each channel: the list in `configured` (comma-separated paths)
// when given, else the video nodes that capture B, G, R in numeric order.
std::vector<std::string> ResolveV4l2Devices(V4l2System& system, const char* configured);

}  // namespace kesmacap

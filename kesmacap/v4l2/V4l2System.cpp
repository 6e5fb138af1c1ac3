#include "kesmacap/v4l2/V4l2System.h"

#include <fcntl.h>
#include <libv4l2.h>
#include <linux/videodev2.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <sstream>

namespace kesmacap {

namespace {

class Libv4l2System final : public V4l2System {
  public:
    std::vector<std::string> deviceNodes() override {
        std::vector<std::string> nodes;
        std::error_code error;
        for (const auto& entry : std::filesystem::directory_iterator("/dev", error)) {
            const std::string name = entry.path().filename().string();
            if (name.rfind("video", 0) == 0) {
                nodes.push_back(entry.path().string());
            }
        }
        return nodes;
    }
    std::optional<dev_t> deviceNumber(const std::string& path) override {
        struct stat status {};
        if (::stat(path.c_str(), &status) != 0 || !S_ISCHR(status.st_mode)) {
            return std::nullopt;
        }
        return status.st_rdev;
    }
    int open(const std::string& path, int flags) override { return v4l2_open(path.c_str(), flags); }
    int close(int fd) override { return v4l2_close(fd); }
    int ioctl(int fd, unsigned long request, void* argument) override {
        int result = 0;
        do {
            result = v4l2_ioctl(fd, request, argument);
        } while (result < 0 && errno == EINTR);
        return result;
    }
    void* mmap(std::size_t length, int prot, int flags, int fd, off_t offset) override {
        return v4l2_mmap(nullptr, length, prot, flags, fd, offset);
    }
    int munmap(void* address, std::size_t length) override { return v4l2_munmap(address, length); }
    int poll(pollfd* fds, nfds_t count, int timeout) override { return ::poll(fds, count, timeout); }
    bool hidesPlaneOffsets(int fd) override {
        // Asked of the kernel itself: the plugin shows the node as single-planar.
        v4l2_capability capability{};
        const std::uint32_t caps = ::ioctl(fd, VIDIOC_QUERYCAP, &capability) == 0 ? NodeCaps(capability) : 0;
        return (caps & V4L2_CAP_VIDEO_CAPTURE_MPLANE) != 0 && (caps & V4L2_CAP_VIDEO_CAPTURE) == 0;
    }
};

// "/dev/video10" sorts after "/dev/video9".
long nodeNumber(const std::string& path) {
    const auto digits = path.find_last_not_of("0123456789");
    const std::string number = path.substr(digits + 1);
    return number.empty() ? -1 : std::stol(number);
}

// A capture node that delivers B, G, R (through libv4l2's conversion, which
// decodes what cameras send but no encoder's H.264 or MPEG-4).
bool capturesVideo(V4l2System& system, const std::string& path) {
    const int fd = system.open(path, O_RDWR | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    v4l2_capability capability{};
    const bool capture = system.ioctl(fd, VIDIOC_QUERYCAP, &capability) == 0 &&
                         (NodeCaps(capability) & V4L2_CAP_VIDEO_CAPTURE) != 0;
    const auto formats = capture ? CaptureFormats(system, fd) : std::vector<v4l2_fmtdesc>{};
    system.close(fd);
    return std::any_of(formats.begin(), formats.end(),
                       [](const v4l2_fmtdesc& format) { return format.pixelformat == V4L2_PIX_FMT_BGR24; });
}

}  // namespace

std::unique_ptr<V4l2System> MakeLibv4l2System() {
    return std::make_unique<Libv4l2System>();
}

std::uint32_t NodeCaps(const v4l2_capability& capability) {
    return (capability.capabilities & V4L2_CAP_DEVICE_CAPS) != 0 ? capability.device_caps
                                                                 : capability.capabilities;
}

std::vector<v4l2_fmtdesc> CaptureFormats(V4l2System& system, int fd) {
    // No driver offers more; a broken one that never says "no more" ends here.
    constexpr std::uint32_t MostFormats = 256;
    std::vector<v4l2_fmtdesc> formats;
    for (std::uint32_t index = 0; index < MostFormats; ++index) {
        v4l2_fmtdesc format{};
        format.index = index;
        format.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        if (system.ioctl(fd, VIDIOC_ENUM_FMT, &format) != 0) {
            break;
        }
        formats.push_back(format);
    }
    return formats;
}

std::vector<std::string> ResolveV4l2Devices(V4l2System& system, const char* configured) {
    std::vector<std::string> devices;
    if (configured != nullptr && *configured != '\0') {
        std::stringstream list(configured);
        std::string path;
        while (std::getline(list, path, ',')) {
            devices.push_back(path);
        }
        return devices;
    }
    std::vector<std::string> nodes = system.deviceNodes();
    std::sort(nodes.begin(), nodes.end(),
              [](const std::string& a, const std::string& b) { return nodeNumber(a) < nodeNumber(b); });
    for (const std::string& node : nodes) {
        if (capturesVideo(system, node)) {
            devices.push_back(node);
        }
    }
    return devices;
}

}  // namespace kesmacap

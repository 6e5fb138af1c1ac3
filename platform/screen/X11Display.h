#pragma once

#include <xcb/xcb.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <mutex>

// What xcb hands back (replies, errors, events) is the caller's to free.
struct XcbFree {
    void operator()(void* reply) const {
        std::free(
            reply);  // NOLINT(cppcoreguidelines-no-malloc,cppcoreguidelines-owning-memory): xcb's malloc
    }
};
template <typename Reply>
using XcbPointer = std::unique_ptr<Reply, XcbFree>;

// A round trip: once it returns, the server has carried out every request sent before.
inline void AwaitServer(xcb_connection_t* connection) {
    const XcbPointer<xcb_get_input_focus_reply_t> reply(
        xcb_get_input_focus_reply(connection, xcb_get_input_focus(connection), nullptr));
}

// The live view's own connection to the X server, apart from the toolkit's,
// so that the worker can put pictures into windows from its thread the way
// video players do. Nothing is selected on it: what arrives are the
// completions of shared-memory puts and errors, and each says up to which
// request the server has got. An error is counted, never fatal.
class X11Display {
  public:
    enum class Transfer {
        SharedMemory,  // MIT-SHM: the server reads the pixels from a segment both map
        PutImage,      // the pixels travel in the request, as on a remote display
    };

    // Connects to the named display (DISPLAY when null) if its screen takes
    // 32-bit B, G, R, X pixels. Shared memory is used when wanted and usable.
    // Null when there is no such display.
    static std::unique_ptr<X11Display> open(const char* name, Transfer wanted);
    ~X11Display();
    X11Display(const X11Display&) = delete;
    X11Display& operator=(const X11Display&) = delete;

    xcb_connection_t* connection() const { return connection_; }
    Transfer transfer() const { return transfer_; }
    std::uint8_t depth() const { return depth_; }
    xcb_window_t root() const { return root_; }
    // The largest request the server takes, in bytes.
    std::size_t maximumRequestBytes() const { return maximumRequestBytes_; }

    // Takes in whatever the server has sent; any thread.
    void readEvents();
    // Whether the server has handled the request with this sequence number.
    bool handled(unsigned int sequence) const;
    // Waits until it has, the connection breaks or the limit passes.
    bool awaitHandled(unsigned int sequence, std::chrono::milliseconds limit);
    // The server went away or the connection broke: every request is dropped.
    bool broken() const;
    std::uint64_t errorCount() const { return errors_.load(std::memory_order_relaxed); }

  private:
    // Only open() makes one.
    struct Made {
        explicit Made() = default;
    };

  public:
    X11Display(Made, xcb_connection_t* connection, const xcb_screen_t& screen);

  private:
    bool sharedMemoryWorks();

    xcb_connection_t* const connection_;
    const xcb_window_t root_;
    const std::uint8_t depth_;
    const std::size_t maximumRequestBytes_;
    Transfer transfer_ = Transfer::PutImage;
    std::mutex reading_;
    std::atomic<unsigned int> lastHandled_{0};
    std::atomic<std::uint64_t> errors_{0};
};

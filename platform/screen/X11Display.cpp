#include "platform/screen/X11Display.h"

#include <poll.h>
#include <sys/ipc.h>
#include <sys/shm.h>
#include <xcb/shm.h>

#include <algorithm>

namespace {

using Clock = std::chrono::steady_clock;

const xcb_screen_t* screenOf(xcb_connection_t* connection, int number) {
    xcb_screen_iterator_t it = xcb_setup_roots_iterator(xcb_get_setup(connection));
    for (; it.rem > 0; --number, xcb_screen_next(&it)) {
        if (number == 0) {
            return it.data;
        }
    }
    return nullptr;
}

// The pixels the conversion writes: 32 bits each, B, G, R from the lowest byte up.
bool takesXrgbPixels(xcb_connection_t* connection, const xcb_screen_t& screen) {
    const xcb_setup_t* const setup = xcb_get_setup(connection);
    if (setup->image_byte_order != XCB_IMAGE_ORDER_LSB_FIRST) {
        return false;
    }
    bool thirtyTwoBits = false;
    for (auto it = xcb_setup_pixmap_formats_iterator(setup); it.rem > 0; xcb_format_next(&it)) {
        if (it.data->depth == screen.root_depth) {
            thirtyTwoBits = it.data->bits_per_pixel == 32;
        }
    }
    for (auto depths = xcb_screen_allowed_depths_iterator(&screen); depths.rem > 0; xcb_depth_next(&depths)) {
        for (auto visual = xcb_depth_visuals_iterator(depths.data); visual.rem > 0;
             xcb_visualtype_next(&visual)) {
            if (visual.data->visual_id == screen.root_visual) {
                return thirtyTwoBits && visual.data->_class == XCB_VISUAL_CLASS_TRUE_COLOR &&
                       visual.data->red_mask == 0xFF0000u && visual.data->green_mask == 0xFF00u &&
                       visual.data->blue_mask == 0xFFu;
            }
        }
    }
    return false;
}

}  // namespace

std::unique_ptr<X11Display> X11Display::open(const char* name, Transfer wanted) {
    int screenNumber = 0;
    xcb_connection_t* const connection = xcb_connect(name, &screenNumber);
    const xcb_screen_t* const screen =
        xcb_connection_has_error(connection) != 0 ? nullptr : screenOf(connection, screenNumber);
    if (screen == nullptr || !takesXrgbPixels(connection, *screen)) {
        xcb_disconnect(connection);
        return nullptr;
    }
    auto display = std::make_unique<X11Display>(Made{}, connection, *screen);
    if (wanted == Transfer::SharedMemory && display->sharedMemoryWorks()) {
        display->transfer_ = Transfer::SharedMemory;
    }
    return display;
}

X11Display::X11Display(Made /*key*/, xcb_connection_t* connection, const xcb_screen_t& screen)
    : connection_(connection),
      root_(screen.root),
      depth_(screen.root_depth),
      maximumRequestBytes_(static_cast<std::size_t>(xcb_get_maximum_request_length(connection)) * 4) {}

X11Display::~X11Display() {
    xcb_disconnect(connection_);
}

// The extension may be there and still unusable: a server on another machine
// cannot map our segment, and refuses to attach it.
bool X11Display::sharedMemoryWorks() {
    const xcb_query_extension_reply_t* const extension = xcb_get_extension_data(connection_, &xcb_shm_id);
    if (extension == nullptr || extension->present == 0) {
        return false;
    }
    const int id = shmget(IPC_PRIVATE, 4096, IPC_CREAT | 0600);
    if (id < 0) {
        return false;
    }
    const xcb_shm_seg_t segment = xcb_generate_id(connection_);
    const XcbPointer<xcb_generic_error_t> error(
        xcb_request_check(connection_, xcb_shm_attach_checked(connection_, segment, id, 1)));
    shmctl(id, IPC_RMID, nullptr);
    if (error) {
        return false;
    }
    xcb_shm_detach(connection_, segment);
    xcb_flush(connection_);
    return true;
}

void X11Display::readEvents() {
    const std::lock_guard lock(reading_);
    // One read of the socket; then only what it brought.
    for (xcb_generic_event_t* raw = xcb_poll_for_event(connection_); raw != nullptr;
         raw = xcb_poll_for_queued_event(connection_)) {
        const XcbPointer<xcb_generic_event_t> event(raw);
        if (event->response_type == 0) {
            errors_.fetch_add(1, std::memory_order_relaxed);
        }
        // Requests are handled in order: this one and all before it are done.
        const unsigned int last = lastHandled_.load(std::memory_order_relaxed);
        if (static_cast<int>(event->full_sequence - last) > 0) {
            lastHandled_.store(event->full_sequence, std::memory_order_release);
        }
    }
}

bool X11Display::handled(unsigned int sequence) const {
    return static_cast<int>(lastHandled_.load(std::memory_order_acquire) - sequence) >= 0;
}

bool X11Display::broken() const {
    return xcb_connection_has_error(connection_) != 0;
}

bool X11Display::awaitHandled(unsigned int sequence, std::chrono::milliseconds limit) {
    const auto deadline = Clock::now() + limit;
    xcb_flush(connection_);
    while (true) {
        readEvents();
        if (handled(sequence)) {
            return true;
        }
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (broken() || left <= 0) {
            return false;
        }
        // Short slices: another thread may take the event off the socket first.
        pollfd socket{xcb_get_file_descriptor(connection_), POLLIN, 0};
        poll(&socket, 1, static_cast<int>(std::min<long long>(left, 2)));
    }
}

#include "platform/screen/X11Window.h"

#include <sys/ipc.h>
#include <sys/shm.h>
#include <xcb/shm.h>

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "platform/linux/PixelConversion.h"

namespace {

using namespace std::chrono_literals;

// How long a drawer waits for the server to finish reading an image before it
// drops the picture for this window: a stalled server must not stall the worker.
constexpr auto ServerReadLimit = 20ms;

xcb_gcontext_t createContext(const X11Display& display, std::uint32_t foreground) {
    xcb_connection_t* const connection = display.connection();
    const xcb_gcontext_t context = xcb_generate_id(connection);
    const std::array<std::uint32_t, 2> values{foreground, 0};
    xcb_create_gc(connection, context, display.root(), XCB_GC_FOREGROUND | XCB_GC_GRAPHICS_EXPOSURES,
                  values.data());
    return context;
}

X11Window::Area intersect(const X11Window::Area& a, const X11Window::Area& b) {
    const int left = std::max(a.x, b.x);
    const int top = std::max(a.y, b.y);
    const int right = std::min(a.x + a.width, b.x + b.width);
    const int bottom = std::min(a.y + a.height, b.y + b.height);
    return right > left && bottom > top ? X11Window::Area{left, top, right - left, bottom - top}
                                        : X11Window::Area{};
}

}  // namespace

// The pixels of one picture, 32 bits each: in a shared segment the server
// attaches, or in our own memory when there is none.
class X11Window::Image {
  public:
    Image(X11Display& display, int width, int height)
        : display_(display), bytes_(static_cast<std::size_t>(width) * height * 4) {
        if (display.transfer() == X11Display::Transfer::SharedMemory) {
            attachSegment();
        }
        if (pixels_ == nullptr) {
            own_ = std::make_unique<std::uint32_t[]>(bytes_ / 4);
            pixels_ = own_.get();
        }
    }
    ~Image() {
        if (segment_ != 0) {
            xcb_shm_detach(display_.connection(), segment_);
            xcb_flush(display_.connection());
            shmdt(pixels_);
        }
    }
    Image(const Image&) = delete;
    Image& operator=(const Image&) = delete;

    std::uint32_t* pixels() { return pixels_; }
    xcb_shm_seg_t segment() const { return segment_; }
    std::size_t bytes() const { return bytes_; }

    // Whether the server may still be reading the pixels, waiting a little for it.
    bool busy() {
        if (!pending_) {
            return false;
        }
        pending_ = !display_.handled(putSequence_) && !display_.awaitHandled(putSequence_, ServerReadLimit);
        return pending_;
    }
    void putAs(unsigned int sequence) {
        pending_ = segment_ != 0;
        putSequence_ = sequence;
    }

  private:
    // A segment that is gone once both sides detach, even if we are killed.
    void attachSegment() {
        const int id = shmget(IPC_PRIVATE, bytes_, IPC_CREAT | 0600);
        if (id < 0) {
            return;
        }
        void* const address = shmat(id, nullptr, 0);
        // shmat answers (void*) -1 when it fails.
        const bool mapped = reinterpret_cast<std::intptr_t>(address) != -1;
        xcb_connection_t* const connection = display_.connection();
        const xcb_shm_seg_t segment = xcb_generate_id(connection);
        const XcbPointer<xcb_generic_error_t> error(
            mapped ? xcb_request_check(connection, xcb_shm_attach_checked(connection, segment, id, 1))
                   : nullptr);
        shmctl(id, IPC_RMID, nullptr);
        if (!mapped) {
            return;
        }
        if (error || xcb_connection_has_error(connection) != 0) {
            shmdt(address);
            return;
        }
        pixels_ = static_cast<std::uint32_t*>(address);
        segment_ = segment;
    }

    X11Display& display_;
    const std::size_t bytes_;
    std::uint32_t* pixels_ = nullptr;
    std::unique_ptr<std::uint32_t[]> own_;
    xcb_shm_seg_t segment_ = 0;
    bool pending_ = false;
    unsigned int putSequence_ = 0;
};

X11Window::X11Window(X11Display& display, int width, int height)
    : display_(display),
      width_(std::max(width, 1)),
      height_(std::max(height, 1)),
      pictureContext_(createContext(display, 0)),
      faceContext_(createContext(display, 0)) {
    const std::size_t count = display.transfer() == X11Display::Transfer::SharedMemory ? 2 : 1;
    for (std::size_t i = 0; i < count; ++i) {
        images_[i] = std::make_unique<Image>(display, width_, height_);
    }
}

X11Window::~X11Window() {
    images_ = {};
    xcb_connection_t* const connection = display_.connection();
    xcb_free_gc(connection, pictureContext_);
    xcb_free_gc(connection, faceContext_);
    xcb_flush(connection);
}

void X11Window::setWindow(xcb_window_t window) {
    const std::lock_guard lock(mutex_);
    window_ = window;
}

void X11Window::setFace(std::uint32_t pixel) {
    const std::lock_guard lock(mutex_);
    xcb_change_gc(display_.connection(), faceContext_, XCB_GC_FOREGROUND, &pixel);
}

void X11Window::draw(const BgrBlock& block) {
    const std::lock_guard lock(mutex_);
    display_.readEvents();
    // The image the server is not showing from, unless it alone exists.
    const int target = images_[1] && latest_ >= 0 ? 1 - latest_ : 0;
    Image& image = *images_[target];
    if (image.busy()) {
        return;
    }
    const bool whole =
        block.x == 0 && block.y == 0 && block.width >= drawn_.width && block.height >= drawn_.height;
    if (target != latest_ && latest_ >= 0 && !whole) {
        // A part only: the rest of the picture comes from the last one.
        std::memcpy(image.pixels(), images_[latest_]->pixels(), image.bytes());
    }
    for (int row = 0; row < block.height; ++row) {
        std::uint32_t* const to = image.pixels() + static_cast<std::size_t>(block.y + row) * width_ + block.x;
        ConvertBgrRowToXrgb(block.row(row), to, block.width);
    }
    latest_ = target;
    drawn_.width = std::max(drawn_.width, block.x + block.width);
    drawn_.height = std::max(drawn_.height, block.y + block.height);
    put(image, Area{block.x, block.y, block.width, block.height});
}

void X11Window::expose(const Area& area) {
    const std::lock_guard lock(mutex_);
    display_.readEvents();
    if (window_ == 0) {
        return;
    }
    const Area picture = intersect(area, drawn_);
    if (latest_ >= 0 && picture.width > 0) {
        put(*images_[latest_], picture);
    }
    // The face right of and below the picture.
    const std::array<Area, 2> face{
        intersect(area, Area{drawn_.width, 0, 1 << 15, 1 << 15}),
        intersect(area, Area{0, drawn_.height, drawn_.width, 1 << 15}),
    };
    for (const Area& part : face) {
        if (part.width > 0) {
            const xcb_rectangle_t rectangle{
                static_cast<std::int16_t>(part.x), static_cast<std::int16_t>(part.y),
                static_cast<std::uint16_t>(part.width), static_cast<std::uint16_t>(part.height)};
            xcb_poly_fill_rectangle(display_.connection(), window_, faceContext_, 1, &rectangle);
        }
    }
    xcb_flush(display_.connection());
}

void X11Window::put(Image& image, const Area& area) {
    if (window_ == 0) {
        return;
    }
    xcb_connection_t* const connection = display_.connection();
    if (image.segment() != 0) {
        // The server tells when it has read the pixels: a completion event.
        const xcb_void_cookie_t cookie =
            xcb_shm_put_image(connection, window_, pictureContext_, static_cast<std::uint16_t>(width_),
                              static_cast<std::uint16_t>(height_), static_cast<std::uint16_t>(area.x),
                              static_cast<std::uint16_t>(area.y), static_cast<std::uint16_t>(area.width),
                              static_cast<std::uint16_t>(area.height), static_cast<std::int16_t>(area.x),
                              static_cast<std::int16_t>(area.y), display_.depth(), XCB_IMAGE_FORMAT_Z_PIXMAP,
                              1, image.segment(), 0);
        image.putAs(cookie.sequence);
    } else {
        // Whole rows in strips the server takes; xcb has sent or copied them on return.
        const std::size_t stride = static_cast<std::size_t>(width_) * 4;
        constexpr std::size_t requestHeader = 24;
        const int rowsPerRequest = static_cast<int>(
            std::max<std::size_t>(1, (display_.maximumRequestBytes() - requestHeader) / stride));
        for (int top = area.y; top < area.y + area.height; top += rowsPerRequest) {
            const int rows = std::min(rowsPerRequest, area.y + area.height - top);
            xcb_put_image(connection, XCB_IMAGE_FORMAT_Z_PIXMAP, window_, pictureContext_,
                          static_cast<std::uint16_t>(width_), static_cast<std::uint16_t>(rows), 0,
                          static_cast<std::int16_t>(top), 0, display_.depth(),
                          static_cast<std::uint32_t>(stride * rows),
                          reinterpret_cast<const std::uint8_t*>(image.pixels() +
                                                                static_cast<std::size_t>(top) * width_));
        }
        image.putAs(0);
    }
    xcb_flush(connection);
}

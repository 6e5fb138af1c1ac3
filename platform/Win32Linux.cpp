#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <climits>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <mutex>
#include <thread>

#include "platform/EventHandle.h"
#include "platform/GdiObjects.h"
#include "platform/Win32.h"
#include "platform/WindowSurface.h"

// ---- threads ---------------------------------------------------------------

namespace {

// What a thread handle refers to. The state is shared with the running thread
// so that closing the handle of a thread still running does not cut it off.
struct ThreadState {
    std::mutex mutex;
    std::condition_variable finished;
    bool done = false;
    DWORD exitCode = 0;
};

struct ThreadObject {
    std::shared_ptr<ThreadState> state = std::make_shared<ThreadState>();
    std::thread thread;
};

ThreadObject* threadFromHandle(HANDLE handle) {
    return static_cast<ThreadObject*>(handle);
}

}  // namespace

HANDLE CreateThread(void* /*threadAttributes*/, std::size_t /*stackSize*/,
                    LPTHREAD_START_ROUTINE startAddress, LPVOID parameter, DWORD /*creationFlags*/,
                    DWORD* threadId) {
    if (startAddress == nullptr) {
        return nullptr;
    }
    auto object = std::make_unique<ThreadObject>();
    object->thread = std::thread([state = object->state, startAddress, parameter] {
        const DWORD code = startAddress(parameter);
        const std::lock_guard lock(state->mutex);
        state->exitCode = code;
        state->done = true;
        state->finished.notify_all();
    });
    if (threadId != nullptr) {
        *threadId = static_cast<DWORD>(std::hash<std::thread::id>{}(object->thread.get_id()));
    }
    // The handle owns the object until CloseHandle takes it back.
    return object.release();
}

DWORD WaitForSingleObject(HANDLE thread, DWORD milliseconds) {
    ThreadObject* const object = threadFromHandle(thread);
    if (object == nullptr) {
        return WAIT_FAILED;
    }
    {
        std::unique_lock lock(object->state->mutex);
        const auto isDone = [&] { return object->state->done; };
        if (milliseconds == INFINITE) {
            object->state->finished.wait(lock, isDone);
        } else if (!object->state->finished.wait_for(lock, std::chrono::milliseconds(milliseconds), isDone)) {
            return WAIT_TIMEOUT;
        }
    }
    if (object->thread.joinable()) {
        object->thread.join();
    }
    return WAIT_OBJECT_0;
}

BOOL GetExitCodeThread(HANDLE thread, DWORD* exitCode) {
    ThreadObject* const object = threadFromHandle(thread);
    if (object == nullptr || exitCode == nullptr) {
        return FALSE;
    }
    const std::lock_guard lock(object->state->mutex);
    constexpr DWORD stillActive = 259;
    *exitCode = object->state->done ? object->state->exitCode : stillActive;
    return TRUE;
}

BOOL CloseHandle(HANDLE thread) {
    const std::unique_ptr<ThreadObject> object(threadFromHandle(thread));
    if (!object) {
        return FALSE;
    }
    if (object->thread.joinable()) {
        // As on Windows, closing the handle does not end the thread.
        object->thread.detach();
    }
    return TRUE;
}

void Sleep(DWORD milliseconds) {
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

// ---- events ----------------------------------------------------------------

BOOL SetEvent(HANDLE event) {
    const int fd = DescriptorFromEventHandle(event);
    if (event == nullptr || fd < 0) {
        return FALSE;
    }
    const std::uint64_t one = 1;
    ssize_t written = 0;
    do {
        written = write(fd, &one, sizeof one);
    } while (written < 0 && errno == EINTR);
    // EAGAIN means the counter is at its maximum: the event is signalled anyway.
    return written == sizeof one || (written < 0 && errno == EAGAIN) ? TRUE : FALSE;
}

BOOL ResetEvent(HANDLE event) {
    const int fd = DescriptorFromEventHandle(event);
    if (event == nullptr || fd < 0) {
        return FALSE;
    }
    // Poll first so that a descriptor opened without EFD_NONBLOCK never blocks the reset.
    pollfd entry{fd, POLLIN, 0};
    while (true) {
        const int ready = poll(&entry, 1, 0);
        if (ready < 0 && errno == EINTR) {
            continue;
        }
        if (ready < 0 || (entry.revents & POLLNVAL) != 0) {
            return FALSE;
        }
        if (ready == 0 || (entry.revents & POLLIN) == 0) {
            return TRUE;
        }
        std::uint64_t counter = 0;
        const ssize_t got = read(fd, &counter, sizeof counter);
        if (got == sizeof counter || (got < 0 && errno == EAGAIN)) {
            return TRUE;
        }
        if (got < 0 && errno != EINTR) {
            return FALSE;
        }
    }
}

DWORD WaitForMultipleObjects(DWORD count, const HANDLE* handles, BOOL waitAll, DWORD milliseconds) {
    if (count == 0 || count > MAXIMUM_WAIT_OBJECTS || handles == nullptr || waitAll != FALSE) {
        return WAIT_FAILED;
    }
    std::array<pollfd, MAXIMUM_WAIT_OBJECTS> entries{};
    for (DWORD i = 0; i < count; ++i) {
        const int fd = DescriptorFromEventHandle(handles[i]);
        // poll skips negative descriptors silently; Windows fails on a bad handle.
        if (handles[i] == nullptr || fd < 0) {
            return WAIT_FAILED;
        }
        entries[i] = pollfd{fd, POLLIN, 0};
    }
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(milliseconds);
    while (true) {
        int timeout = -1;
        if (milliseconds != INFINITE) {
            const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
            timeout = static_cast<int>(std::clamp<long long>(left, 0, INT_MAX));
        }
        const int ready = poll(entries.data(), count, timeout);
        if (ready < 0) {
            if (errno == EINTR) {
                continue;
            }
            return WAIT_FAILED;
        }
        if (ready == 0) {
            return WAIT_TIMEOUT;
        }
        for (DWORD i = 0; i < count; ++i) {
            if ((entries[i].revents & (POLLNVAL | POLLERR)) != 0) {
                return WAIT_FAILED;
            }
        }
        for (DWORD i = 0; i < count; ++i) {
            if ((entries[i].revents & POLLIN) != 0) {
                return WAIT_OBJECT_0 + i;
            }
        }
    }
}

// ---- graphics --------------------------------------------------------------

DibSection::DibSection(int width, int height, bool topDown)
    : width_(width),
      height_(height),
      topDown_(topDown),
      stride_(strideFor(width)),
      bits_(std::make_unique<BYTE[]>(stride_ * static_cast<std::size_t>(height))) {}

const BYTE* DibSection::row(int y) const {
    const int memoryRow = topDown_ ? y : height_ - 1 - y;
    return bits_.get() + stride_ * static_cast<std::size_t>(memoryRow);
}

MemoryDeviceContext::~MemoryDeviceContext() {
    if (bitmap != nullptr) {
        bitmap->selectedInto = nullptr;
    }
}

HDC GetDC(HWND window) {
    if (window == nullptr) {
        return nullptr;
    }
    return std::make_unique<WindowDeviceContext>(*window).release();
}

int ReleaseDC(HWND /*window*/, HDC dc) {
    if (dynamic_cast<WindowDeviceContext*>(dc) == nullptr) {
        return 0;
    }
    const std::unique_ptr<DeviceContext> owned(dc);
    return 1;
}

HDC CreateCompatibleDC(HDC /*dc*/) {
    return std::make_unique<MemoryDeviceContext>().release();
}

BOOL DeleteDC(HDC dc) {
    // Window contexts go back with ReleaseDC, as on Windows.
    if (dynamic_cast<MemoryDeviceContext*>(dc) == nullptr) {
        return FALSE;
    }
    const std::unique_ptr<DeviceContext> owned(dc);
    return TRUE;
}

HBITMAP CreateDIBSection(HDC /*dc*/, const BITMAPINFO* info, UINT usage, void** bits, HANDLE section,
                         DWORD offset) {
    if (bits != nullptr) {
        *bits = nullptr;
    }
    if (info == nullptr || usage != DIB_RGB_COLORS || section != nullptr || offset != 0) {
        return nullptr;
    }
    const BITMAPINFOHEADER& header = info->bmiHeader;
    // Bounds keep the byte count far from overflow and from absurd allocations.
    constexpr LONG maxSide = 16384;
    const LONG height = header.biHeight == std::numeric_limits<LONG>::min() ? 0 : std::abs(header.biHeight);
    if (header.biSize < sizeof(BITMAPINFOHEADER) || header.biWidth <= 0 || header.biWidth > maxSide ||
        height == 0 || height > maxSide || header.biPlanes != 1 || header.biBitCount != 24 ||
        header.biCompression != BI_RGB) {
        return nullptr;
    }
    auto bitmap = std::make_unique<DibSection>(header.biWidth, height, header.biHeight < 0);
    if (bits != nullptr) {
        *bits = bitmap->bits();
    }
    return bitmap.release();
}

HGDIOBJ SelectObject(HDC dc, HGDIOBJ object) {
    auto* const memory = dynamic_cast<MemoryDeviceContext*>(dc);
    auto* const bitmap = static_cast<DibSection*>(object);
    if (memory == nullptr || bitmap == nullptr ||
        (bitmap->selectedInto != nullptr && bitmap->selectedInto != memory)) {
        return nullptr;
    }
    DibSection* const previous = memory->bitmap;
    if (previous != nullptr) {
        previous->selectedInto = nullptr;
    }
    memory->bitmap = bitmap;
    bitmap->selectedInto = memory;
    return previous;
}

BOOL DeleteObject(HGDIOBJ object) {
    auto* const bitmap = static_cast<DibSection*>(object);
    // As on Windows, a bitmap still selected into a context cannot be deleted.
    if (bitmap == nullptr || bitmap->selectedInto != nullptr) {
        return FALSE;
    }
    const std::unique_ptr<DibSection> owned(bitmap);
    return TRUE;
}

BOOL BitBlt(HDC destination, int x, int y, int width, int height, HDC source, int sourceX, int sourceY,
            DWORD rop) {
    auto* const target = dynamic_cast<WindowDeviceContext*>(destination);
    auto* const memory = dynamic_cast<MemoryDeviceContext*>(source);
    if (target == nullptr || memory == nullptr || rop != SRCCOPY) {
        return FALSE;
    }
    const DibSection* const bitmap = memory->bitmap;
    if (bitmap == nullptr) {
        return FALSE;
    }
    WindowSurface& surface = target->surface;
    // Clip the rectangle against the source bitmap and the destination surface,
    // moving both origins together so every pixel keeps its partner.
    long long left = 0;
    long long top = 0;
    long long right = width;
    long long bottom = height;
    left = std::max({left, -static_cast<long long>(x), -static_cast<long long>(sourceX)});
    top = std::max({top, -static_cast<long long>(y), -static_cast<long long>(sourceY)});
    right = std::min({right, static_cast<long long>(surface.width()) - x,
                      static_cast<long long>(bitmap->width()) - sourceX});
    bottom = std::min({bottom, static_cast<long long>(surface.height()) - y,
                       static_cast<long long>(bitmap->height()) - sourceY});
    if (right <= left || bottom <= top) {
        return TRUE;
    }
    const int columns = static_cast<int>(right - left);
    surface.draw([&](std::uint32_t* pixels, WindowSurface::Extent& extent) {
        for (long long row = top; row < bottom; ++row) {
            const BYTE* const from = bitmap->row(static_cast<int>(sourceY + row)) + 3 * (sourceX + left);
            std::uint32_t* const to = pixels + static_cast<std::size_t>(y + row) * surface.width() +
                                      static_cast<std::size_t>(x + left);
            ConvertBgrRowToXrgb(from, to, columns);
        }
        extent.width = std::max(extent.width, static_cast<int>(x + right));
        extent.height = std::max(extent.height, static_cast<int>(y + bottom));
    });
    return TRUE;
}

// Win32 manual-reset events over eventfd, and the wait for any of several.
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdint>

#include "platform/Win32.h"
#include "platform/linux/EventHandle.h"

BOOL SetEvent(HANDLE event) {
    const int fd = DescriptorFromEventHandle(event);
    if (fd < 0) {
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
    if (fd < 0) {
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
        if (fd < 0) {
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

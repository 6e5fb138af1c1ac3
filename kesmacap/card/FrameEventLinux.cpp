#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>

#include "kesmacap/card/FrameEvent.h"

namespace kesmacap {

FrameEvent::FrameEvent() : event_(eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {}

FrameEvent::~FrameEvent() {
    if (valid()) {
        close(event_);
    }
}

bool FrameEvent::valid() const {
    return event_ >= 0;
}

void FrameEvent::signal() const {
    if (!valid()) {
        return;
    }
    const std::uint64_t one = 1;
    ssize_t written = 0;
    do {
        written = write(event_, &one, sizeof one);
    } while (written < 0 && errno == EINTR);
    // EAGAIN: the counter is saturated, so the event is signalled already.
}

}  // namespace kesmacap

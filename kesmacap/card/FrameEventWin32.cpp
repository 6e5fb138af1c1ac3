#include <windows.h>

#include "kesmacap/card/FrameEvent.h"

namespace kesmacap {

FrameEvent::FrameEvent() : event_(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {}

FrameEvent::~FrameEvent() {
    if (valid()) {
        CloseHandle(event_);
    }
}

bool FrameEvent::valid() const {
    return event_ != nullptr;
}

void FrameEvent::signal() const {
    if (valid()) {
        SetEvent(event_);
    }
}

}  // namespace kesmacap

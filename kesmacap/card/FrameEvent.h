#pragma once

#include "abi/kesmacap.h"

namespace kesmacap {

// A channel's event as the ABI hands it out: manual-reset, signalled for each
// published frame, the same event for as long as the card exists. Linux: an
// eventfd; Windows: a Win32 event.
class FrameEvent {
  public:
    FrameEvent();
    ~FrameEvent();
    FrameEvent(const FrameEvent&) = delete;
    FrameEvent& operator=(const FrameEvent&) = delete;

    // False when the system had no event to give; the channel then has none.
    bool valid() const;
    kesmacap_event native() const { return event_; }
    void signal() const;

  private:
    kesmacap_event event_;
};

}  // namespace kesmacap

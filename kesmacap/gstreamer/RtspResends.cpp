#include "kesmacap/gstreamer/RtspResends.h"

namespace kesmacap {

RtspResends::Verdict RtspResends::before(const Request& request) {
    const std::lock_guard lock(mutex_);
    if (!request.sentBefore) {
        accepted_ = accepted_ || lastWentWith_;
        refreshed_ = false;
        lastWentWith_ = credentialsSet_;
        return Verdict::Send;
    }
    if (!request.namedOrigin) {
        return Verdict::WithholdElsewhere;
    }
    if (!request.withCredentials) {
        // The camera asked for them: sent once.
        credentialsSet_ = true;
        lastWentWith_ = true;
        return Verdict::Send;
    }
    if (accepted_ && !refreshed_) {
        refreshed_ = true;
        return Verdict::Send;
    }
    lastWentWith_ = false;  // refused: what rtspsrc sends next says nothing of them
    return Verdict::Withhold;
}

}  // namespace kesmacap

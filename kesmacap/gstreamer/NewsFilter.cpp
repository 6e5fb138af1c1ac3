#include "kesmacap/gstreamer/NewsFilter.h"

#include <algorithm>

namespace kesmacap {

std::optional<std::string> NewsFilter::lineFor(const SourceStep& step, const std::string& connected,
                                               const std::string& shown) {
    std::string line;
    if (step.show && step.status == SourceStatus::Refused) {
        // Said even after the losses before it: it is why the trying stops.
        line = step.reason + " (" + shown + ")";
    } else if (!step.news) {
        return std::nullopt;
    } else if (step.state.phase == SourcePhase::Live) {
        line = "connected to " + shown + ": " + connected;
    } else {
        line = step.reason + " (" + shown + "); trying again in the background";
    }
    if (line == lastState_) {
        return std::nullopt;
    }
    lastState_ = line;
    return line;
}

bool NewsFilter::remark(const std::string& line) {
    if (std::find(remarks_.begin(), remarks_.end(), line) != remarks_.end() ||
        remarks_.size() >= MostRemarks) {
        return false;
    }
    remarks_.push_back(line);
    return true;
}

void NewsFilter::restart() {
    lastState_.clear();
    remarks_.clear();
}

}  // namespace kesmacap

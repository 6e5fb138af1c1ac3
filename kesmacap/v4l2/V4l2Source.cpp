#include "kesmacap/v4l2/V4l2Source.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <filesystem>

#include "kesmacap/pictures/StatusPicture.h"

namespace kesmacap {

namespace {

// Two names of one node (/dev/video0 and its /dev/v4l/by-path/... link) are one node.
std::string nodeKey(const std::string& device) {
    std::error_code error;
    const std::filesystem::path real = std::filesystem::canonical(device, error);
    return error ? device : real.string();
}

}  // namespace

V4l2Channels PlanOfDevices(const std::vector<std::string>& devices) {
    V4l2Channels plan;
    for (std::size_t channel = 0; channel < plan.size() && channel < devices.size(); ++channel) {
        plan[channel].settings = V4l2Settings{};
        plan[channel].settings->device = devices[channel];
        plan[channel].shown = devices[channel];
    }
    return plan;
}

V4l2Source::V4l2Source(Channels& channels, std::unique_ptr<V4l2System> system,
                       const std::vector<std::string>& devices)
    : V4l2Source(channels, std::move(system), PlanOfDevices(devices)) {}

V4l2Source::V4l2Source(Channels& channels, std::unique_ptr<V4l2System> system, const V4l2Channels& plan)
    : channels_(channels), system_(std::move(system)), plan_(plan) {
    std::vector<std::pair<std::string, std::vector<V4l2Node::Member>>> groups;
    for (int channel = 0; channel < ChannelCount; ++channel) {
        const V4l2Channel& planned = plan_[channel];
        if (!planned.settings) {
            continue;
        }
        const std::string key = nodeKey(planned.settings->device);
        auto group =
            std::find_if(groups.begin(), groups.end(), [&](const auto& g) { return g.first == key; });
        if (group == groups.end()) {
            groups.push_back({key, {}});
            group = std::prev(groups.end());
        }
        group->second.push_back({channel, *planned.settings, planned.shown});
    }
    for (int channel = 0; channel < ChannelCount; ++channel) {
        // Said once; each start shows it in the window.
        if (!plan_[channel].problem.empty() && !plan_[channel].shown.empty()) {
            std::fprintf(stderr, "quadview v4l2: Camera%d: %s (%s)\n", channel + 1,
                         plan_[channel].problem.c_str(), plan_[channel].shown.c_str());
        }
    }
    for (auto& [key, members] : groups) {
        // Opened under a /dev/v4l/ name when a window gives one: that name follows the device across
        // replugging.
        const auto stable = std::find_if(members.begin(), members.end(), [](const V4l2Node::Member& member) {
            return member.settings.device.rfind("/dev/v4l/", 0) == 0;
        });
        const std::string device = (stable != members.end() ? *stable : members.front()).settings.device;
        nodes_.push_back(std::make_unique<V4l2Node>(*system_, channels_, device, std::move(members)));
    }
}

V4l2Source::~V4l2Source() = default;

V4l2Node* V4l2Source::nodeOf(int channel) const {
    for (const auto& node : nodes_) {
        if (node->serves(channel)) {
            return node.get();
        }
    }
    return nullptr;
}

std::int32_t V4l2Source::open(int channel) {
    return nodeOf(channel) != nullptr || !plan_[channel].problem.empty() ? 0 : ENODEV;
}

void V4l2Source::close(int channel) {
    if (V4l2Node* const node = nodeOf(channel)) {
        node->close(channel);
    }
}

std::int32_t V4l2Source::start(int channel) {
    if (V4l2Node* const node = nodeOf(channel)) {
        node->start(channel);
        return 0;
    }
    if (plan_[channel].problem.empty()) {
        return ENODEV;
    }
    // Settings that cannot work: said in the picture, as a camera's problem is.
    DrawStatusPicture(channels_[channel].backBuffer(), channel, plan_[channel].problem,
                      plan_[channel].shown.empty() ? "no source" : plan_[channel].shown);
    channels_[channel].publish(MaxWidth, MaxHeight);
    return 0;
}

void V4l2Source::stop(int channel) {
    if (V4l2Node* const node = nodeOf(channel)) {
        node->stop(channel);
    }
}

}  // namespace kesmacap

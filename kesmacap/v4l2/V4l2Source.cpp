#include "kesmacap/v4l2/V4l2Source.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <mutex>
#include <optional>

#include "kesmacap/pictures/StatusPicture.h"

namespace kesmacap {

namespace {

// Two names of one device (/dev/video0 and its /dev/v4l/by-path/... link) are
// one node: the same device number where the device is there, else the same
// real path.
std::string nodeKey(V4l2System& system, const std::string& device) {
    if (const std::optional<dev_t> number = system.deviceNumber(device)) {
        return "device " + std::to_string(*number);
    }
    std::error_code error;
    const std::filesystem::path real = std::filesystem::canonical(device, error);
    return error ? device : real.string();
}

}  // namespace

// Which node serves each window, and which holds which device: a window whose
// device turns out to be another node's (a device absent at the start, named
// differently by two windows) moves there, so that one device is never driven
// by two threads.
class V4l2Source::Routes final : public V4l2Node::Directory {
  public:
    void serve(int channel, V4l2Node& node) {
        const std::lock_guard lock(mutex_);
        serving_[channel] = &node;
    }
    bool serves(int channel) {
        const std::lock_guard lock(mutex_);
        return serving_[channel] != nullptr;
    }
    // Hands the command to the node serving the channel and waits for it; false when none does.
    bool command(int channel, const V4l2Node::Command& change) {
        std::unique_lock lock(mutex_);
        V4l2Node* const node = serving_[channel];
        if (node == nullptr) {
            return false;
        }
        const std::uint64_t request = node->post(channel, change);
        lock.unlock();
        node->await(request);
        return true;
    }
    // The nodes are about to go: nothing moves any more.
    void close() {
        const std::lock_guard lock(mutex_);
        closed_ = true;
    }

    V4l2Node* claim(dev_t device, V4l2Node& node) override {
        const std::lock_guard lock(mutex_);
        const auto held =
            std::find_if(held_.begin(), held_.end(), [&](const auto& h) { return h.first == device; });
        if (held != held_.end()) {
            return closed_ ? &node : held->second;
        }
        held_.emplace_back(device, &node);
        return &node;
    }
    void release(dev_t device, const V4l2Node& node) override {
        const std::lock_guard lock(mutex_);
        std::erase_if(held_, [&](const auto& h) { return h.first == device && h.second == &node; });
    }
    void move(V4l2Node& from, V4l2Node& to) override {
        const std::lock_guard lock(mutex_);
        if (closed_) {
            return;
        }
        std::vector<V4l2Node::Window> windows = from.give();
        for (const V4l2Node::Window& window : windows) {
            serving_[window.member.channel] = &to;
        }
        to.adopt(std::move(windows));
    }

  private:
    std::mutex mutex_;
    std::array<V4l2Node*, ChannelCount> serving_{};
    std::vector<std::pair<dev_t, V4l2Node*>> held_;
    bool closed_ = false;
};

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
    : channels_(channels), system_(std::move(system)), plan_(plan), routes_(std::make_unique<Routes>()) {
    std::vector<std::pair<std::string, std::vector<V4l2Node::Member>>> groups;
    for (int channel = 0; channel < ChannelCount; ++channel) {
        const V4l2Channel& planned = plan_[channel];
        if (!planned.settings) {
            continue;
        }
        const std::string key = nodeKey(*system_, planned.settings->device);
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
        std::vector<int> served;
        for (const V4l2Node::Member& member : members) {
            served.push_back(member.channel);
        }
        nodes_.push_back(
            std::make_unique<V4l2Node>(*system_, channels_, *routes_, device, std::move(members)));
        for (const int channel : served) {
            routes_->serve(channel, *nodes_.back());
        }
    }
}

V4l2Source::~V4l2Source() {
    routes_->close();
    nodes_.clear();
}

std::int32_t V4l2Source::open(int channel) {
    return routes_->serves(channel) || !plan_[channel].problem.empty() ? 0 : ENODEV;
}

void V4l2Source::close(int channel) {
    routes_->command(channel, {false, false, 0});
}

std::int32_t V4l2Source::start(int channel) {
    if (routes_->command(channel, {true, true, 1})) {
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
    routes_->command(channel, {true, false, 0});
}

}  // namespace kesmacap

#include "kesmacap/v4l2/V4l2Node.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>

#include "kesmacap/pictures/StatusPicture.h"

namespace kesmacap {

V4l2Node::V4l2Node(V4l2System& system, Channels& channels, Directory& directory, std::string device,
                   std::vector<Member> members)
    : channels_(channels),
      system_(system),
      directory_(directory),
      path_(std::move(device)),
      device_(system),
      incoming_(std::move(members)),
      wake_(eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {
    for (const Member& member : incoming_) {
        commands_[member.channel] = {};
    }
    thread_ = std::thread([this] { run(); });
}

V4l2Node::~V4l2Node() {
    {
        const std::lock_guard lock(mutex_);
        quit_ = true;
    }
    wake();
    thread_.join();
    if (wake_ >= 0) {
        ::close(wake_);
    }
}

void V4l2Node::wake() const {
    const std::uint64_t one = 1;
    [[maybe_unused]] const auto written = write(wake_, &one, sizeof one);
}

std::uint64_t V4l2Node::post(int channel, const Command& change) {
    const std::lock_guard lock(mutex_);
    Command& command = commands_[channel];
    command.open = change.open;
    command.wanted = change.wanted;
    command.generation += change.generation;
    wake();
    return ++requested_;
}

void V4l2Node::await(std::uint64_t request) {
    std::unique_lock lock(mutex_);
    // The thread never blocks for long; should a driver hang it, the viewer still goes on.
    acted_.wait_for(lock, CommandLimit, [&] { return done_ >= request; });
}

// Called by the node's own thread (through the directory), between two rounds.
std::vector<V4l2Node::Window> V4l2Node::give() {
    const std::lock_guard lock(mutex_);
    std::vector<Window> windows;
    for (Slot& slot : slots_) {
        incoming_.push_back(std::move(slot.member));
    }
    for (Member& member : incoming_) {
        const int channel = member.channel;
        windows.push_back({std::move(member), commands_[channel]});
    }
    slots_.clear();
    incoming_.clear();
    commands_.clear();
    return windows;
}

void V4l2Node::adopt(std::vector<Window> windows) {
    {
        const std::lock_guard lock(mutex_);
        for (Window& window : windows) {
            commands_[window.member.channel] = window.command;
            incoming_.push_back(std::move(window.member));
        }
    }
    wake();
}

void V4l2Node::run() {
    for (;;) {
        std::map<int, Command> commands;
        std::vector<Member> arrived;
        bool quit = false;
        std::uint64_t request = 0;
        {
            const std::lock_guard lock(mutex_);
            commands = commands_;
            arrived.swap(incoming_);
            quit = quit_;
            request = requested_;
        }
        for (Member& member : arrived) {
            Slot& slot = slots_.emplace_back();
            slot.member = std::move(member);
            const auto same = std::find_if(slots_.begin(), slots_.end(), [&](const Slot& other) {
                return other.member.settings.sameInput(slot.member.settings);
            });
            slot.input = static_cast<int>(same - slots_.begin());
        }
        if (quit) {
            for (std::size_t slot = 0; slot < slots_.size(); ++slot) {
                feed(slot, {SourceEventKind::Close, {}});
            }
            closeDevice();
            return;
        }
        obey(commands);
        turn(RotationEventKind::Changed);
        {
            const std::lock_guard lock(mutex_);
            done_ = request;
        }
        acted_.notify_all();

        const Clock::time_point now = Clock::now();
        for (std::size_t slot = 0; slot < slots_.size(); ++slot) {
            if (now >= slots_[slot].life.deadline) {
                feed(slot, {SourceEventKind::Timer, {}});
            }
        }
        turn(RotationEventKind::Changed);
        if (now >= rotation_.deadline) {
            turn(RotationEventKind::Timer);
        }
        if (moveTo_ != nullptr) {
            directory_.move(*this, *moveTo_);
            moveTo_ = nullptr;
            continue;
        }

        Clock::time_point until = rotation_.deadline;
        for (const Slot& slot : slots_) {
            until = std::min(until, slot.life.deadline);
        }
        int timeout = -1;
        if (until != Clock::time_point::max()) {
            const auto left = std::chrono::ceil<std::chrono::milliseconds>(until - Clock::now()).count();
            // poll takes an int: a day at most, the wait simply goes round again.
            constexpr decltype(left) LongestWait = std::chrono::milliseconds(std::chrono::hours(24)).count();
            timeout = static_cast<int>(std::clamp<decltype(left)>(left, 0, LongestWait));
        }
        // The device only while it streams: polling a queue that does not
        // stream starts the kernel's read() emulation (videobuf drivers such
        // as bttv start it for any poll), which holds the queue until the close.
        pollfd waits[2] = {{wake_, POLLIN, 0}, {device_.descriptor(), POLLIN | POLLPRI, 0}};
        const nfds_t count = device_.isStreaming() ? 2 : 1;
        if (system_.poll(waits, count, timeout) < 0) {
            continue;  // EINTR; nothing else can fail with these arguments
        }
        if ((waits[0].revents & POLLIN) != 0) {
            std::uint64_t drained = 0;
            [[maybe_unused]] const auto got = read(wake_, &drained, sizeof drained);
        }
        if (count == 2 && waits[1].revents != 0) {
            handleDevice(waits[1].revents);
        }
    }
}

void V4l2Node::obey(const std::map<int, Command>& commands) {
    bool open = false;
    for (std::size_t slot = 0; slot < slots_.size(); ++slot) {
        const auto found = commands.find(slots_[slot].member.channel);
        const Command command = found != commands.end() ? found->second : Command{};
        open = open || command.open;
        if (command.wanted && command.generation != slots_[slot].served) {
            slots_[slot].served = command.generation;
            feed(slot, {SourceEventKind::Start, {}});
        } else if (!command.wanted && slots_[slot].life.phase != SourcePhase::Stopped) {
            feed(slot, {SourceEventKind::Stop, {}});
        }
    }
    if (!open) {
        closeDevice();
    }
}

void V4l2Node::feed(std::size_t index, const SourceEvent& event) {
    Slot& slot = slots_[index];
    const Clock::time_point now = Clock::now();
    // A loss was reported since the start and no picture came since: a picture now is news.
    const bool wasLost = slot.life.lossReported;
    const SourceStep step = SourceLife::advance(slot.life, event, now);
    slot.life = step.state;
    const SourcePhase phase = step.state.phase;
    if (event.kind == SourceEventKind::Start || phase == SourcePhase::Stopped || phase == SourcePhase::Live) {
        slot.awaitingSignal = false;
    }
    if (step.show) {
        show(index, SourceLife::describe(step, now, "Cannot capture"));
    }
    // A device showing is no news, one that is back after a loss is.
    if (step.news && phase == SourcePhase::Live && wasLost) {
        report(index, "showing " + slot.member.shown + " again");
    } else if (step.news && phase == SourcePhase::Refused) {
        report(index, step.reason + " (" + slot.member.shown + ")");
    } else if (step.news && phase != SourcePhase::Live) {
        report(index, step.reason + " (" + slot.member.shown + "); trying again in the background");
    }
    if (step.build) {
        if (const DeviceProblem problem = build(index)) {
            fail(index, problem);
        }
    }
}

// The device is opened by the first window built; a window whose device
// another node holds (two names of one device) moves there.
DeviceProblem V4l2Node::build(std::size_t /*slot*/) {
    if (device_.isOpen() || moveTo_ != nullptr) {
        return {};
    }
    if (const std::optional<dev_t> number = system_.deviceNumber(path_)) {
        if (V4l2Node* const holder = directory_.claim(*number, *this); holder != this) {
            moveTo_ = holder;
            return {};
        }
        claimed_ = number;
    }
    if (DeviceProblem problem = device_.open(path_)) {
        closeDevice();
        return problem;
    }
    return {};
}

bool V4l2Node::running(const Slot& slot) const {
    return slot.life.phase == SourcePhase::Connecting || slot.life.phase == SourcePhase::Live;
}

bool V4l2Node::wanted(const Slot& slot) const {
    return running(slot) && device_.isOpen() && moveTo_ == nullptr;
}

// Everyone shown from the same input fares alike.
void V4l2Node::fail(std::size_t failed, const DeviceProblem& problem) {
    for (std::size_t index = 0; index < slots_.size(); ++index) {
        Slot& slot = slots_[index];
        if (!running(slot) || (index != failed && slot.input != slots_[failed].input)) {
            continue;
        }
        if (problem.lasting) {
            feed(index, {SourceEventKind::Refused, problem.reason});
        } else {
            feed(index, {SourceEventKind::Error, problem.reason});
            slot.awaitingSignal = problem.signal;
        }
    }
}

std::vector<RotationWindow> V4l2Node::windows() const {
    std::vector<RotationWindow> windows;
    for (const Slot& slot : slots_) {
        windows.push_back(
            {slot.input, wanted(slot), slot.awaitingSignal && slot.life.phase == SourcePhase::Retrying});
    }
    return windows;
}

void V4l2Node::turn(RotationEventKind event) {
    const RotationStep step = InputRotation::advance(rotation_, event, windows(), Clock::now());
    rotation_ = step.state;
    carryOut(step);
}

// What a step asks beyond a frame: the device stopped or set to an input, the
// input's status read at the end of a turn, an idle input watched.
void V4l2Node::carryOut(const RotationStep& step) {
    if (step.stop) {
        device_.stopStreaming();
    }
    if (step.watch) {
        watchSignal();
    }
    if (step.readStatus || step.lose) {
        const std::string why = step.readStatus ? device_.signalProblem() : std::string();
        if (!why.empty() || step.lose) {
            const auto limit = std::chrono::milliseconds(InputRotation::TurnLimit).count();
            loseInput(why.empty() ? "No picture within " + std::to_string(limit) + " ms of its turn" : why,
                      !why.empty());
            turn(RotationEventKind::Changed);
        }
    }
    if (step.select) {
        select(*step.select);
    }
}

void V4l2Node::select(int input) {
    // Windows on one input may differ in their standard: the first that wants its turn says.
    const auto first = std::find_if(slots_.begin(), slots_.end(),
                                    [&](const Slot& slot) { return slot.input == input && wanted(slot); });
    if (first == slots_.end()) {
        return;  // the rotation selects only the inputs of windows that want a turn
    }
    DeviceProblem problem = device_.configure(first->member.settings);
    if (!problem) {
        problem = device_.startStreaming();
    }
    if (!problem || problem.signal) {
        for (Slot& slot : slots_) {
            if (slot.input == input) {
                slot.deviceInput = device_.input();
            }
        }
    }
    if (!problem) {
        return;
    }
    if (!device_.answers()) {
        loseDevice("The device was unplugged");
        return;
    }
    rotation_ = InputRotation::advance(rotation_, RotationEventKind::Failed, windows(), Clock::now()).state;
    fail(static_cast<std::size_t>(first - slots_.begin()), problem);
    turn(RotationEventKind::Changed);
}

// The current input's windows, for a reason its status or its turn gave.
void V4l2Node::loseInput(const std::string& reason, bool signal) {
    const auto first = std::find_if(slots_.begin(), slots_.end(),
                                    [&](const Slot& slot) { return slot.input == rotation_.input; });
    if (first != slots_.end()) {
        fail(static_cast<std::size_t>(first - slots_.begin()), DeviceProblem{reason, false, signal});
    }
}

// The device idles on the input of windows waiting for its signal: they are
// built again as soon as it is back.
void V4l2Node::watchSignal() {
    if (!device_.isOpen() || device_.isStreaming()) {
        return;
    }
    // A device that does not stream is not polled: it is asked whether it is still there.
    if (!device_.answers()) {
        loseDevice("The device was unplugged");
        return;
    }
    if (!device_.signalProblem().empty()) {
        return;
    }
    for (std::size_t index = 0; index < slots_.size(); ++index) {
        const Slot& slot = slots_[index];
        if (slot.awaitingSignal && slot.life.phase == SourcePhase::Retrying &&
            slot.deviceInput == device_.input()) {
            feed(index, {SourceEventKind::Connected, "the signal is back"});
        }
    }
    turn(RotationEventKind::Changed);
}

void V4l2Node::handleDevice(short revents) {
    // A node that went away hangs up.
    if ((revents & (POLLHUP | POLLNVAL)) != 0) {
        loseDevice("The device was unplugged");
        return;
    }
    // New timings, a standard or a signal come or gone: negotiated again from
    // the start (a driver may put its queue in error along with the event).
    if ((revents & POLLPRI) != 0 && device_.takeSourceChanges()) {
        turn(RotationEventKind::SourceChange);
        return;
    }
    if ((revents & POLLERR) != 0) {
        loseDevice("The driver stopped the stream");  // its queue is in error
        return;
    }
    if ((revents & POLLIN) != 0) {
        takeFrame();
    }
}

void V4l2Node::takeFrame() {
    RotationEventKind next = RotationEventKind::Changed;
    std::string noSignal;
    const int error = device_.takeFrame([&](const CapturedFrame* frame) {
        const RotationEventKind kind =
            frame != nullptr ? RotationEventKind::Frame : RotationEventKind::BrokenFrame;
        const RotationStep step = InputRotation::advance(rotation_, kind, windows(), Clock::now());
        rotation_ = step.state;
        // Whatever changes the device waits until the buffer is the driver's again.
        if (step.detectStandard && device_.detectStandard()) {
            next = RotationEventKind::StandardChanged;
            return;
        }
        if (step.readStatus) {
            // Analogue decoders go on sending (noise, blue) without a signal: never shown.
            noSignal = device_.signalProblem();
        }
        if (step.show && noSignal.empty()) {
            deliver(*frame);
        }
    });
    if (error != 0) {
        loseDevice(error == ENODEV ? "The device was unplugged" : "The device failed: " + ErrorText(error));
        return;
    }
    if (!noSignal.empty()) {
        loseInput(noSignal, true);
    }
    turn(next);
}

void V4l2Node::deliver(const CapturedFrame& frame) {
    for (std::size_t index = 0; index < slots_.size(); ++index) {
        const Slot& slot = slots_[index];
        if (!wanted(slot) || slot.input != rotation_.input) {
            continue;
        }
        Channel& channel = channels_[slot.member.channel];
        const PlacedSize size = placer_.place(frame, slot.member.settings.deinterlace, channel.backBuffer());
        if (size.width != 0) {
            channel.publish(size.width, size.height);
            feed(index, {SourceEventKind::Frame, {}});
        }
    }
}

void V4l2Node::loseDevice(const std::string& reason) {
    closeDevice();
    for (std::size_t index = 0; index < slots_.size(); ++index) {
        if (running(slots_[index])) {
            feed(index, {SourceEventKind::Error, reason});
        }
    }
}

void V4l2Node::closeDevice() {
    device_.close();
    if (claimed_) {
        directory_.release(*claimed_, *this);
        claimed_ = std::nullopt;
    }
    rotation_ = InputRotation::advance(rotation_, RotationEventKind::Closed, {}, Clock::now()).state;
}

void V4l2Node::show(std::size_t index, const std::string& reason) {
    const Slot& slot = slots_[index];
    Channel& channel = channels_[slot.member.channel];
    DrawStatusPicture(channel.backBuffer(), slot.member.channel, reason, slot.member.shown);
    channel.publish(MaxWidth, MaxHeight);
}

void V4l2Node::report(std::size_t index, const std::string& what) const {
    std::fprintf(stderr, "quadview v4l2: Camera%d: %s\n", slots_[index].member.channel + 1, what.c_str());
}

}  // namespace kesmacap

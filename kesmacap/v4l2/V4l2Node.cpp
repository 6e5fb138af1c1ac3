#include "kesmacap/v4l2/V4l2Node.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>

#include "kesmacap/pictures/StatusPicture.h"

namespace kesmacap {

V4l2Node::V4l2Node(V4l2System& system, Channels& channels, std::string device, std::vector<Member> members)
    : channels_(channels),
      system_(system),
      path_(std::move(device)),
      device_(system),
      commands_(members.size()),
      wake_(eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {
    for (Member& member : members) {
        Slot slot;
        slot.member = std::move(member);
        slots_.push_back(std::move(slot));
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

bool V4l2Node::serves(int channel) const {
    return std::any_of(slots_.begin(), slots_.end(),
                       [&](const Slot& slot) { return slot.member.channel == channel; });
}

void V4l2Node::start(int channel) {
    command(channel, {true, true, 1});
}

void V4l2Node::stop(int channel) {
    command(channel, {true, false, 0});
}

void V4l2Node::close(int channel) {
    command(channel, {false, false, 0});
}

// change.generation is 1 for a start (counted on), else ignored.
void V4l2Node::command(int channel, const Command& change) {
    std::unique_lock lock(mutex_);
    for (std::size_t slot = 0; slot < slots_.size(); ++slot) {
        if (slots_[slot].member.channel == channel) {
            Command& command = commands_[slot];
            command.open = change.open;
            command.wanted = change.wanted;
            command.generation += change.generation;
        }
    }
    const std::uint64_t request = ++requested_;
    wake();
    // The thread never blocks for long; should a driver hang it, the viewer still goes on.
    acted_.wait_for(lock, CommandLimit, [&] { return done_ >= request; });
}

void V4l2Node::run() {
    std::vector<Command> commands;
    for (;;) {
        bool quit = false;
        std::uint64_t request = 0;
        {
            const std::lock_guard lock(mutex_);
            commands = commands_;
            quit = quit_;
            request = requested_;
        }
        if (quit) {
            for (std::size_t slot = 0; slot < slots_.size(); ++slot) {
                feed(slot, {SourceEventKind::Close, {}});
            }
            device_.close();
            return;
        }
        for (std::size_t slot = 0; slot < slots_.size(); ++slot) {
            const Command& command = commands[slot];
            if (command.wanted && command.generation != slots_[slot].served) {
                slots_[slot].served = command.generation;
                feed(slot, {SourceEventKind::Start, {}});
            } else if (!command.wanted && slots_[slot].life.phase != SourcePhase::Stopped) {
                feed(slot, {SourceEventKind::Stop, {}});
            }
        }
        if (std::none_of(commands.begin(), commands.end(), [](const Command& c) { return c.open; })) {
            device_.close();
            current_ = -1;
        }
        rotate();
        {
            const std::lock_guard lock(mutex_);
            done_ = request;
        }
        acted_.notify_all();

        Clock::time_point now = Clock::now();
        for (std::size_t slot = 0; slot < slots_.size(); ++slot) {
            if (now >= slots_[slot].life.deadline) {
                feed(slot, {SourceEventKind::Timer, {}});
            }
        }
        const bool watching = std::any_of(slots_.begin(), slots_.end(), [](const Slot& slot) {
            return slot.inRotation || slot.watchingSignal;
        });
        if (!watching) {
            nextCheck_ = Clock::time_point::max();
        } else if (nextCheck_ == Clock::time_point::max()) {
            nextCheck_ = now + SignalCheck;
        } else if (now >= nextCheck_) {
            checkSignals();
            nextCheck_ = now + SignalCheck;
        }
        rotate();

        Clock::time_point until = nextCheck_;
        for (const Slot& slot : slots_) {
            until = std::min(until, slot.life.deadline);
        }
        now = Clock::now();
        int timeout = -1;
        if (until != Clock::time_point::max()) {
            const auto left = std::chrono::ceil<std::chrono::milliseconds>(until - now).count();
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

void V4l2Node::feed(std::size_t index, const SourceEvent& event) {
    Slot& slot = slots_[index];
    const Clock::time_point now = Clock::now();
    // A loss was reported since the start and no picture came since: a picture now is news.
    const bool wasLost = slot.life.lossReported;
    const SourceStep step = SourceLife::advance(slot.life, event, now);
    slot.life = step.state;
    if (event.kind == SourceEventKind::Start || step.state.phase == SourcePhase::Stopped ||
        step.state.phase == SourcePhase::Live) {
        slot.watchingSignal = false;
    }
    if (step.tearDown) {
        slot.inRotation = false;
    }
    if (step.show) {
        show(index, SourceLife::describe(step, now, "Cannot capture"));
    }
    // A device showing is no news, one that is back after a loss is.
    if (step.news && step.state.phase == SourcePhase::Live && wasLost) {
        report(index, "showing " + slot.member.shown + " again");
    } else if (step.news && step.state.phase != SourcePhase::Live) {
        report(index, step.reason + " (" + slot.member.shown + "); trying again in the background");
    }
    if (step.build) {
        if (const DeviceProblem problem = build(index)) {
            fail(index, problem);
        }
    }
}

DeviceProblem V4l2Node::build(std::size_t slot) {
    if (!device_.isOpen()) {
        current_ = -1;
        if (DeviceProblem problem = device_.open(path_)) {
            return problem;
        }
    }
    slots_[slot].inRotation = true;  // rotate() starts it, or its input's turn comes
    return {};
}

// Everyone shown from the same input fares alike.
void V4l2Node::fail(std::size_t failed, const DeviceProblem& problem) {
    for (std::size_t slot = 0; slot < slots_.size(); ++slot) {
        if (slot != failed && (!slots_[slot].inRotation || !sameInput(slot, failed))) {
            continue;
        }
        if (problem.lasting) {
            refuse(slot, problem.reason);
        } else {
            slots_[slot].watchingSignal = problem.signal;
            slots_[slot].input = slots_[failed].input;  // a window never switched to has not resolved it
            feed(slot, {SourceEventKind::Error, problem.reason});
        }
    }
}

// Trying again cannot help: the reason stays in the picture until the next start.
void V4l2Node::refuse(std::size_t index, const std::string& reason) {
    Slot& slot = slots_[index];
    const bool reported = slot.life.lossReported;
    slot.life = SourceState{};
    slot.inRotation = false;
    slot.watchingSignal = false;
    show(index, reason);
    if (!reported) {
        report(index, reason + " (" + slot.member.shown + ")");
    }
    slot.life.lossReported = true;
}

bool V4l2Node::sameInput(std::size_t a, std::size_t b) const {
    return slots_[a].member.settings.sameInput(slots_[b].member.settings);
}

// The device streams the current slot's input while anyone is built; when
// that input had its frame, the next built slot on another input gets its turn.
void V4l2Node::rotate() {
    if (!device_.isOpen()) {
        return;
    }
    const int count = static_cast<int>(slots_.size());
    if (std::none_of(slots_.begin(), slots_.end(), [](const Slot& slot) { return slot.inRotation; })) {
        device_.stopStreaming();
        current_ = -1;
        return;
    }
    bool keep = current_ >= 0 && slots_[current_].inRotation && device_.isStreaming();
    if (keep && !turnOver_) {
        return;
    }
    turnOver_ = false;
    for (int step = 1; step <= count; ++step) {
        const int next = (current_ + step + count) % count;
        if (!slots_[next].inRotation) {
            continue;
        }
        if (keep && sameInput(next, current_)) {
            if (next == current_) {
                return;  // no other input waits: stay
            }
            continue;
        }
        const DeviceProblem problem = switchTo(next);
        if (!problem) {
            return;
        }
        if (!device_.answers()) {
            lose("The device was unplugged");
            return;
        }
        keep = false;
        fail(next, problem);
    }
}

DeviceProblem V4l2Node::switchTo(std::size_t slot) {
    const bool another = current_ >= 0 && !sameInput(slot, current_);
    current_ = -1;
    DeviceProblem problem = device_.configure(slots_[slot].member.settings);
    slots_[slot].input = device_.input();
    if (!problem) {
        problem = device_.startStreaming();
    }
    if (problem) {
        return problem;
    }
    current_ = static_cast<int>(slot);
    settle_ = another ? SettlingFrames : 0;
    statusDue_ = true;
    return {};
}

void V4l2Node::handleDevice(short revents) {
    // A node that went away hangs up.
    if ((revents & (POLLHUP | POLLNVAL)) != 0) {
        lose("The device was unplugged");
        return;
    }
    // New timings, a standard or a signal come or gone: negotiated again from
    // the start (a driver may put its queue in error along with the event).
    if ((revents & POLLPRI) != 0 && device_.takeSourceChanges()) {
        device_.stopStreaming();
        statusDue_ = true;
        return;
    }
    if ((revents & POLLERR) != 0) {
        lose("The driver stopped the stream");  // its queue is in error
        return;
    }
    if ((revents & POLLIN) != 0) {
        if (const int error = device_.takeFrame([this](const CapturedFrame& frame) { deliver(frame); });
            error != 0) {
            lose(error == ENODEV ? "The device was unplugged" : "The device failed: " + ErrorText(error));
        }
    }
}

void V4l2Node::deliver(const CapturedFrame& frame) {
    if (current_ < 0) {
        return;
    }
    if (settle_ > 0) {
        --settle_;
        return;
    }
    if (statusDue_) {
        // Analogue decoders go on sending (noise, blue) without a signal: never shown.
        statusDue_ = false;
        if (const std::string why = device_.signalProblem(); !why.empty()) {
            fail(static_cast<std::size_t>(current_), DeviceProblem{why, false, true});
            return;
        }
    }
    const auto shown = static_cast<std::size_t>(current_);
    for (std::size_t index = 0; index < slots_.size(); ++index) {
        Slot& slot = slots_[index];
        if (!slot.inRotation || !sameInput(index, shown)) {
            continue;
        }
        Channel& channel = channels_[slot.member.channel];
        const PlacedSize size = placer_.place(frame, slot.member.settings.deinterlace, channel.backBuffer());
        if (size.width != 0) {
            channel.publish(size.width, size.height);
            feed(index, {SourceEventKind::Frame, {}});
        }
    }
    turnOver_ = true;
}

void V4l2Node::lose(const std::string& reason) {
    device_.close();
    current_ = -1;
    for (std::size_t slot = 0; slot < slots_.size(); ++slot) {
        slots_[slot].watchingSignal = false;
        if (slots_[slot].inRotation) {
            feed(slot, {SourceEventKind::Error, reason});
        }
    }
}

// The current input's status before its next frame; the inputs of windows
// waiting for a signal now, so they come back as soon as it does.
void V4l2Node::checkSignals() {
    statusDue_ = true;
    if (!device_.isOpen()) {
        return;
    }
    // A streaming device that goes hangs up its poll; one that does not stream is asked.
    if (!device_.isStreaming() && !device_.answers()) {
        lose("The device was unplugged");
        return;
    }
    for (std::size_t slot = 0; slot < slots_.size(); ++slot) {
        if (slots_[slot].watchingSignal && slots_[slot].life.phase == SourcePhase::Retrying &&
            device_.signalProblem(slots_[slot].input).empty()) {
            feed(slot, {SourceEventKind::Connected, "the signal is back"});
        }
    }
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

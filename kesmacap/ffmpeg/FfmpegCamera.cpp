#include "kesmacap/ffmpeg/FfmpegCamera.h"

#include <algorithm>
#include <cstdio>

#include "kesmacap/ffmpeg/RtspChallenge.h"
#include "kesmacap/ffmpeg/StreamRules.h"

namespace kesmacap {

namespace {

#ifdef _WIN32
constexpr const char* SourcesManual = "see README.txt";
#else
constexpr const char* SourcesManual = "see quadview-sources(5)";
#endif

std::string notPlayable(int index, const std::optional<std::string>& uri, const SourceUri& source,
                        const FfmpegTarget& target, const std::string& sourcesFile) {
    if (!uri) {
        return "Not configured: add Camera" + std::to_string(index + 1) + " = URI to " + sourcesFile + " (" +
               SourcesManual + ")";
    }
    if (source.uri.empty()) {
        return "Cannot play: this is not a URI (" + source.problem + ")";
    }
    return target.problem.empty() ? std::string() : "Cannot play: " + target.problem;
}

SourceClock::rep ticksOf(SourceClock::time_point when) {
    return when.time_since_epoch().count();
}

}  // namespace

FfmpegCamera::FfmpegCamera(Channel& channel, int index, const std::optional<std::string>& uri,
                           const std::string& sourcesFile)
    : index_(index),
      source_(uri ? ParseSourceUri(*uri) : SourceUri{}),
      target_(source_.uri.empty() ? FfmpegTarget{} : TargetFor(source_)),
      cannotPlay_(notPlayable(index, uri, source_, target_, sourcesFile)),
      painter_(channel, index),
      thread_([this] { run(); }) {
    // A source written wrong is said once, as the library loads; each start shows it in the window.
    if (uri && !cannotPlay_.empty()) {
        report(cannotPlay_ + " (" + source_.shown + ")");
    }
}

FfmpegCamera::~FfmpegCamera() {
    quit();
    thread_.join();
}

void FfmpegCamera::quit() {
    const std::lock_guard lock(mutex_);
    commands_.quit = true;
    commandLocked();
}

void FfmpegCamera::start() {
    const std::lock_guard lock(mutex_);
    commands_.start();
    commandLocked();
}

void FfmpegCamera::stop() {
    const std::lock_guard lock(mutex_);
    commands_.stop();
    commandLocked();
}

void FfmpegCamera::commandLocked() {
    commanded_.store(true);
    wakeUp_.notify_one();
}

int FfmpegCamera::interrupted(void* camera) {
    const auto& self = *static_cast<const FfmpegCamera*>(camera);
    if (self.redirected_.load()) {
        return 1;  // not a word to where it was sent, not even a goodbye
    }
    const Clock::rep now = ticksOf(Clock::now());
    if (self.closing_.load()) {
        return now > self.closeBy_.load() ? 1 : 0;
    }
    return self.commanded_.load() || now >= self.cutOff_.load() ? 1 : 0;
}

void FfmpegCamera::redirected(const AVIOInterruptCB& interrupt, const std::string& url) {
    if (interrupt.callback != &FfmpegCamera::interrupted || interrupt.opaque == nullptr) {
        return;
    }
    auto& self = *static_cast<FfmpegCamera*>(interrupt.opaque);
    if (self.target_.credentials && !SameOrigin(self.source_.uri, url)) {
        self.redirectedTo_ = MaskPassword(MaskSecrets(url), self.source_.password);
        self.redirected_.store(true);
    }
}

void FfmpegCamera::run() {
    unsigned served = 0;
    for (;;) {
        SourceCommands commands;
        {
            const std::lock_guard lock(mutex_);
            commands = commands_;
            commanded_.store(false);
        }
        Clock::time_point now = Clock::now();
        const std::optional<SourceEventKind> command = commands.event(served, life_.phase);
        if (command == SourceEventKind::Close) {
            feed({SourceEventKind::Close, {}}, now);
            return;
        }
        if (command == SourceEventKind::Start && !cannotPlay_.empty()) {
            painter_.paintStatus(cannotPlay_, source_.shown.empty() ? "no source" : source_.shown);
        } else if (command) {
            feed({*command, {}}, now);
        }
        now = Clock::now();
        // A recording at its end waits for its rewind: read on, it would only end again.
        if (now >= life_.deadline) {
            feed({SourceEventKind::Timer, {}}, now);
        } else if (opening_ || (stream_ && !life_.rewindDue)) {
            serve();
        } else {
            waitUntil(life_.deadline);
        }
    }
}

SourceEvent FfmpegCamera::eventFor(int error, const std::string& detail) {
    const SourceEvent event = EventForError(error, detail, target_.credentials, target_.scheme);
    const std::string& scheme = target_.scheme;
    if (event.kind != SourceEventKind::LoginRefused ||
        (scheme != "rtsp" && scheme != "rtspt" && scheme != "rtspu")) {
        return event;
    }
    // Asked once per start: how a camera takes logins does not change between attempts.
    if (!challenges_) {
        challenges_ = AskRtspChallenges(source_.uri, {&FfmpegCamera::interrupted, this}, NetworkTimeout);
    }
    return EventForLogin(event, *challenges_);
}

void FfmpegCamera::feed(const SourceEvent& event, Clock::time_point now) {
    if (event.kind == SourceEventKind::Start) {
        challenges_.reset();
    }
    const SourceStep step = SourceLife::advance(life_, event, now);
    life_ = step.state;
    cutOff_.store(ticksOf(life_.deadline));
    if (step.tearDown) {
        tearDown();
    }
    if (step.show) {
        showStatus(step, now);
    }
    if (step.news) {
        const std::string& shown = source_.shown;
        report(life_.phase == SourcePhase::Live ? "connected to " + shown + ": " + painter_.sizes()
               : life_.phase == SourcePhase::Refused
                   ? step.reason + " (" + shown + ")"
                   : step.reason + " (" + shown + "); trying again in the background");
    }
    if (step.build) {
        opening_ = true;
    }
    if (step.rewind) {
        pacer_.restart();
        if (!(stream_ && stream_->rewind())) {
            feed({SourceEventKind::Ended, {}, false}, now);
        }
    }
}

bool FfmpegCamera::cutShort(int error) const {
    // Interrupted, FFmpeg may say so, or tell of an end or an error instead.
    return error == AVERROR_EXIT || commanded_.load() || Clock::now() >= life_.deadline;
}

void FfmpegCamera::serve() {
    if (opening_) {
        open();
    } else if (pictureDue_) {
        show();
    } else {
        read();
    }
}

void FfmpegCamera::open() {
    auto stream = std::make_unique<FfmpegStream>();
    std::string detail;
    redirected_.store(false);
    const int error = stream->open(target_, {&FfmpegCamera::interrupted, this}, detail);
    if (error < 0) {
        // Opened partway (an RTSP session set up), it too says goodbye.
        close(std::move(stream));
    }
    if (redirected_.load()) {
        redirected_.store(false);
        opening_ = false;
        feed({SourceEventKind::Refused, "the camera sent us on to " + redirectedTo_ +
                                            ", another host or port, which the password does not go to; name "
                                            "that URL in the sources file"},
             Clock::now());
        return;
    }
    if (error < 0 && cutShort(error)) {
        return;  // the loop sees to the command or the deadline, and opens again if still wanted
    }
    opening_ = false;
    if (error < 0) {
        // Timed after the camera may have been asked how it takes logins.
        const SourceEvent event = eventFor(error, MaskPassword(MaskSecrets(detail), source_.password));
        feed(event, Clock::now());
        return;
    }
    const Clock::time_point now = Clock::now();
    stream_ = std::move(stream);
    live_ = IsLive(stream_->format(), target_.scheme);
    pacer_.restart();
    // What it sends, said over the status picture; a recording built anew
    // after its end keeps its last picture instead.
    if (!life_.everLive || life_.lossReported) {
        feed({SourceEventKind::Connected, stream_->describe()}, now);
    }
}

void FfmpegCamera::read() {
    const int error = stream_->next(*frame_);
    if (error < 0 && cutShort(error)) {
        return;
    }
    const Clock::time_point now = Clock::now();
    if (error == AVERROR_EOF) {
        feed(EventForEnd(stream_->format(), target_.scheme, stream_->seekable()), now);
    } else if (error < 0) {
        feed(eventFor(error, ErrorText(error)), now);
    } else {
        pictureDue_ = true;
        due_ = live_ ? now : pacer_.due(stream_->secondsOf(*frame_), now);
    }
}

void FfmpegCamera::show() {
    // Woken early by a command or the state's deadline: the loop sees to them first.
    if (due_ > Clock::now() && !waitUntil(std::min(due_, life_.deadline))) {
        return;
    }
    if (Clock::now() < due_) {
        return;
    }
    pictureDue_ = false;
    painter_.paint(*frame_);
    av_frame_unref(frame_.get());
    feed({SourceEventKind::Frame, {}}, Clock::now());
}

void FfmpegCamera::tearDown() {
    opening_ = false;
    pictureDue_ = false;
    av_frame_unref(frame_.get());
    close(std::move(stream_));
}

void FfmpegCamera::close(std::unique_ptr<FfmpegStream> stream) {
    if (stream) {
        // Closed with time for its goodbye (RTSP's TEARDOWN), so that a camera
        // keeps no stale session, whatever command is waiting.
        closeBy_.store(ticksOf(Clock::now() + CloseLimit));
        closing_.store(true);
        stream.reset();
        closing_.store(false);
    }
}

bool FfmpegCamera::waitUntil(Clock::time_point until) {
    std::unique_lock lock(mutex_);
    const auto commanded = [this] { return commanded_.load(); };
    if (until == Clock::time_point::max()) {
        wakeUp_.wait(lock, commanded);
        return false;
    }
    return !wakeUp_.wait_until(lock, until, commanded);
}

void FfmpegCamera::showStatus(const SourceStep& step, Clock::time_point now) {
    const std::string described = SourceLife::describe(step, now);
    painter_.paintStatus(step.status == SourceStatus::Refused ? "Cannot play: " + described : described,
                         source_.shown.empty() ? "no source" : source_.shown);
}

void FfmpegCamera::report(const std::string& line) const {
    std::fprintf(stderr, "quadview ffmpeg: Camera%d: %s\n", index_ + 1, line.c_str());
}

}  // namespace kesmacap

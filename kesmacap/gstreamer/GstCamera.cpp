#include "kesmacap/gstreamer/GstCamera.h"

#include <gst/pbutils/missing-plugins.h>

#include <cstdio>

#include "kesmacap/gstreamer/HttpRedirect.h"
#include "kesmacap/gstreamer/MissingPlugin.h"
#include "kesmacap/sources/RtspLogin.h"

namespace kesmacap {

namespace {

// How long each step of asking a camera that refused the login for its
// challenge may take (connecting, sending, each read).
constexpr std::chrono::seconds ChallengeLimit{1};

bool isHttp(const std::string& uri) {
    return g_str_has_prefix(uri.c_str(), "http:") || g_str_has_prefix(uri.c_str(), "https:");
}

// RTSP over a plain connection, whose challenge can be asked for.
bool isPlainRtsp(const std::string& uri) {
    return g_str_has_prefix(uri.c_str(), "rtsp://") || g_str_has_prefix(uri.c_str(), "rtspt://") ||
           g_str_has_prefix(uri.c_str(), "rtspu://");
}

SourceEvent refusal(const std::string& why) {
    return {SourceEventKind::Refused, why + "; not tried again until F1"};
}

// A header of an HTTP answer (GStreamer's "response-headers"), by any case of its name.
std::string headerOf(const GstStructure* headers, const char* name) {
    for (int field = 0; field < gst_structure_n_fields(headers); ++field) {
        const char* const key = gst_structure_nth_field_name(headers, static_cast<guint>(field));
        const char* const value =
            g_ascii_strcasecmp(key, name) == 0 ? gst_structure_get_string(headers, key) : nullptr;
        if (value != nullptr) {
            return value;
        }
    }
    return {};
}

}  // namespace

GstCamera::GstCamera(Channel& channel, int index, const std::optional<std::string>& uri,
                     const std::string& sourcesFile)
    : index_(index),
      source_(uri ? ParseSourceUri(*uri) : SourceUri{}),
      cannotPlay_(!uri ? "Not configured: add Camera" + std::to_string(index + 1) + " = URI to " +
                             sourcesFile + " (see quadview-sources(5))"
                  : source_.uri.empty() ? "Cannot play: this is not a URI (" + source_.problem + ")"
                                        : std::string()),
      bus_(gst_bus_new()),
      painter_(channel, index),
      thread_([this] { run(); }) {
    // A source written wrong is said once, as the library loads; each start shows it in the window.
    if (uri && !cannotPlay_.empty()) {
        report(cannotPlay_ + " (" + source_.shown + ")");
    }
}

GstCamera::~GstCamera() {
    {
        const std::lock_guard lock(mutex_);
        commands_.quit = true;
    }
    wake("quit");
    thread_.join();
}

void GstCamera::start() {
    {
        const std::lock_guard lock(mutex_);
        commands_.start();
    }
    wake("start");
}

void GstCamera::stop() {
    {
        const std::lock_guard lock(mutex_);
        commands_.stop();
    }
    wake("stop");
}

void GstCamera::wake(const char* why) const {
    gst_bus_post(bus_.get(), gst_message_new_application(nullptr, gst_structure_new_empty(why)));
}

void GstCamera::run() {
    unsigned served = 0;
    for (;;) {
        SourceCommands commands;
        {
            const std::lock_guard lock(mutex_);
            commands = commands_;
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
        feedFrames();
        now = Clock::now();
        if (now >= life_.deadline) {
            feed({SourceEventKind::Timer, {}}, now);
            continue;
        }
        const GstClockTime timeout =
            life_.deadline == Clock::time_point::max()
                ? GST_CLOCK_TIME_NONE
                : static_cast<GstClockTime>(std::chrono::nanoseconds(life_.deadline - now).count());
        if (GstMessage* const message = gst_bus_timed_pop(bus_.get(), timeout); message != nullptr) {
            handle(message, Clock::now());
            gst_message_unref(message);
        }
    }
}

void GstCamera::feed(const SourceEvent& event, Clock::time_point now) {
    if (event.kind == SourceEventKind::Start) {
        news_.restart();
        challenges_.reset();
    }
    const SourceStep step = SourceLife::advance(life_, event, now);
    life_ = step.state;
    if (step.tearDown) {
        tearDown();
    }
    if (step.show) {
        showStatus(step, now);
    }
    const bool connected = step.news && life_.phase == SourcePhase::Live;
    if (const auto line = news_.lineFor(step, connected ? painter_.sizes() : std::string(), source_.shown)) {
        report(*line);
    }
    if (step.build) {
        // Every attempt starts from the named URI.
        target_ = {source_.uri, source_.user, source_.password,
                   !source_.user.empty() || !source_.password.empty()};
        redirects_ = 0;
        build();
    }
    if (step.rewind && !(pipeline_ && pipeline_->rewind())) {
        feed({SourceEventKind::Ended, {}, false}, now);
    }
}

void GstCamera::feedFrames() {
    if (pipeline_ && pipeline_->lastFrame() > life_.lastFrame) {
        feed({SourceEventKind::Frame, {}}, pipeline_->lastFrame());
    }
}

void GstCamera::build() {
    rangesAccepted_ = false;
    redirectTo_.clear();
    buffering_ = Buffering{};
    pipeline_ = CameraPipeline::make(target_, bus_.get(), painter_);
    if (!pipeline_) {
        feed(refusal("GStreamer's base plugins are missing (install gstreamer1.0-plugins-base)"),
             Clock::now());
        return;
    }
    switch (pipeline_->play()) {
        case GST_STATE_CHANGE_NO_PREROLL:
            pipeline_->beLive();
            break;
        case GST_STATE_CHANGE_FAILURE:
            // Said after what the pipeline said (a missing plugin, an error),
            // which comes first and tears it down; alone only when it said nothing.
            wake("failed");
            break;
        default:
            break;
    }
}

void GstCamera::tearDown() {
    pipeline_.reset();
    // What the pipeline said is history now. A command's wake-up may go with
    // it: the wake-up posted after the flush has the loop read what is wanted
    // again before it waits.
    gst_bus_set_flushing(bus_.get(), TRUE);
    gst_bus_set_flushing(bus_.get(), FALSE);
    wake("flushed");
}

void GstCamera::handle(GstMessage* message, Clock::time_point now) {
    feedFrames();
    switch (GST_MESSAGE_TYPE(message)) {
        case GST_MESSAGE_APPLICATION: {
            const char* const what = gst_structure_get_string(gst_message_get_structure(message), "what");
            if (gst_message_has_name(message, "connected")) {
                feed({SourceEventKind::Connected, what != nullptr ? what : ""}, now);
            } else if (gst_message_has_name(message, "unlinked")) {
                feed({SourceEventKind::Error, what != nullptr ? what : ""}, now);
            } else if (gst_message_has_name(message, "failed") && pipeline_) {
                feed({SourceEventKind::Error, "GStreamer cannot play it"}, now);
            } else if (gst_message_has_name(message, "sent-on") && what != nullptr) {
                // rtspsrc followed an RTSP redirect to another origin: the
                // credentials were kept from it, its refusal says so.
                target_.uri = what;
                target_.credentials = false;
            }
            break;  // otherwise a wake-up: the loop reads what is wanted
        }
        case GST_MESSAGE_ERROR:
            handleError(message, now);
            break;
        case GST_MESSAGE_EOS:
            // A stream that ends is lost; a recording is played again from its
            // start: sought back where the pipeline (and an HTTP server's
            // ranges) allow, else built anew.
            if (pipeline_ && pipeline_->live()) {
                feed({SourceEventKind::EndOfStream, {}}, now);
            } else if (pipeline_) {
                feed({SourceEventKind::Ended,
                      {},
                      pipeline_->seekable() && (!isHttp(target_.uri) || rangesAccepted_)},
                     now);
            }
            break;
        case GST_MESSAGE_ELEMENT:
            handleElement(message, now);
            break;
        case GST_MESSAGE_BUFFERING:
            // A download or a stream that is not live fills its queue before it
            // plays on; a live one takes no download buffering.
            if (pipeline_ && !pipeline_->live()) {
                gint percent = 0;
                gst_message_parse_buffering(message, &percent);
                pipeline_->hold(percent < 100);
                const Buffering::Heard heard = buffering_.heard(percent);
                if (heard.progress) {
                    feed({SourceEventKind::Progress, {}}, now);
                }
                if (heard.said) {
                    feed({SourceEventKind::Connected, *heard.said}, now);
                }
            }
            break;
        case GST_MESSAGE_LATENCY:
        case GST_MESSAGE_ASYNC_DONE:
            // rtspsrc inside uridecodebin answers NO_PREROLL to its own state
            // change, not to the pipeline's: upstream's latency says it is live.
            if (pipeline_ && !pipeline_->live() && pipeline_->upstreamIsLive()) {
                pipeline_->beLive();
            }
            if (pipeline_ && GST_MESSAGE_TYPE(message) == GST_MESSAGE_LATENCY) {
                pipeline_->recalculateLatency();
            }
            break;
        default:
            break;
    }
}

void GstCamera::handleError(GstMessage* message, Clock::time_point now) {
    GError* error = nullptr;
    gst_message_parse_error(message, &error, nullptr);
    const GstStructure* details = nullptr;
    gst_message_parse_error_details(message, &details);
    guint status = 0;
    if (details != nullptr) {
        gst_structure_get_uint(details, "http-status-code", &status);
    }
    const ErrorReading reading = error != nullptr
                                     ? ReadError(error->domain, error->code, status, error->message)
                                     : ErrorReading{SourceEventKind::Error, "error"};
    g_clear_error(&error);
    const SourceEventKind kind = reading.kind;
    std::string text = reading.text;
    if (!redirectTo_.empty() && pipeline_) {
        // An HTTP camera sent us on: followed within this attempt, its grace running on.
        const RedirectHop hop = FollowRedirect(source_.uri, target_.uri, redirectTo_, redirects_);
        if (hop.uri.empty()) {
            feed({SourceEventKind::Error, hop.problem}, now);
            return;
        }
        ++redirects_;
        target_.uri = hop.uri;
        target_.credentials = hop.credentials && (!source_.user.empty() || !source_.password.empty());
        tearDown();
        build();
        return;
    }
    if (kind == SourceEventKind::LoginRefused) {
        feed(loginRefused(), now);
        return;
    }
    if (text.find("certificate") != std::string::npos || text.find("TLS") != std::string::npos) {
        text =
            "the camera's HTTPS certificate is not trusted (self-signed? see quadview-sources(5)): " + text;
    }
    // Library texts may repeat what they were given: the password only as a
    // whole word, so that a short one never garbles the message.
    text = MaskSecrets(MaskPassword(text, source_.password));
    feed(kind == SourceEventKind::Refused ? refusal(text) : SourceEvent{kind, text}, now);
}

SourceEvent GstCamera::loginRefused() {
    const bool given = !source_.user.empty() || !source_.password.empty();
    if (given && !target_.credentials) {
        return refusal("the camera sent us on to " + MaskSecrets(target_.uri) +
                       ", another scheme, host or port, which the password does not go to (name that "
                       "address in the sources file)");
    }
    std::vector<std::string> challenges;
    if (given && isPlainRtsp(target_.uri)) {
        // Asked once per start, in the background: this refusal is said at
        // once, the next ones with what the camera answered.
        if (!challenges_) {
            challenges_ = std::make_unique<ChallengeAsker>(target_.uri, ChallengeLimit);
        }
        challenges = challenges_->answer().value_or(std::vector<std::string>{});
    }
    const LoginVerdict verdict = LoginRefusal(challenges, given, GstreamerRtsp);
    return verdict.worthRetrying ? SourceEvent{SourceEventKind::LoginRefused, verdict.reason}
                                 : refusal(verdict.reason);
}

void GstCamera::handleElement(GstMessage* message, Clock::time_point now) {
    if (gst_message_has_name(message, "http-headers") && pipeline_) {
        const GstStructure* const said = gst_message_get_structure(message);
        GstStructure* headers = nullptr;
        if (!gst_structure_get(said, "response-headers", GST_TYPE_STRUCTURE, &headers, nullptr) ||
            headers == nullptr) {
            return;
        }
        guint status = 0;
        gst_structure_get_uint(said, "http-status-code", &status);
        // Of the latest answer only: a redirect's Location, else nothing to follow.
        redirectTo_ = status >= 300 && status < 400 ? headerOf(headers, "Location") : std::string();
        rangesAccepted_ = AcceptsRanges(headerOf(headers, "Accept-Ranges").c_str());
        // multipart/x-mixed-replace: the MJPEG of cameras, phones, motion,
        // mjpg-streamer; live, though the HTTP source cannot tell.
        if (g_ascii_strncasecmp(headerOf(headers, "Content-Type").c_str(), "multipart/", 10) == 0) {
            pipeline_->beLive();
        }
        gst_structure_free(headers);
    } else if (gst_is_missing_plugin_message(message)) {
        gchar* const detail = gst_missing_plugin_message_get_installer_detail(message);
        gchar* const description = gst_missing_plugin_message_get_description(message);
        const MissingPlugin missing = AdviceForMissing(detail != nullptr ? detail : "");
        const std::string what = std::string("GStreamer has no ") +
                                 (description != nullptr ? description : "plugin for this stream") + " (" +
                                 missing.advice + ")";
        g_free(detail);
        g_free(description);
        if (missing.video) {
            feed(refusal(what), now);
        } else if (const std::string line = what + ": not needed for the picture"; news_.remark(line)) {
            report(line);
        }
    }
}

void GstCamera::showStatus(const SourceStep& step, Clock::time_point now) {
    const std::string described = SourceLife::describe(step, now);
    painter_.paintStatus(step.status == SourceStatus::Refused ? "Cannot play: " + described : described,
                         source_.shown.empty() ? "no source" : source_.shown);
}

void GstCamera::report(const std::string& line) const {
    std::fprintf(stderr, "quadview gstreamer: Camera%d: %s\n", index_ + 1, line.c_str());
}

}  // namespace kesmacap

// End-to-end live view on the simulated card: latency from the card's event,
// the highest sustained rate, and the share of the card's frames that reach a window.
//
//   liveview_throughput [frames-per-second-per-channel] [seconds] [surface|screen-surface|screen-x11]
//
// 0 frames per second makes the card deliver as fast as it can. surface (the
// default) times the frame into a window surface in memory. The screen-
// modes show four camera views in a window on the X display and time the
// frame until its pixels are on the X server (a round trip after they were
// sent): screen-surface through window surfaces the user-interface thread
// paints and flushes, screen-x11 put by the worker itself.
#include <dlfcn.h>
#include <sched.h>
#include <sys/epoll.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <xcb/xcb.h>
#include <QApplication>
#include <QEventLoop>
#include <QGridLayout>
#include <QTimer>
#include <QWidget>

#include "abi/kesmacap.h"
#include "app/CameraWindow.h"
#include "app/QuadviewApplication.h"
#include "liveview/LiveView.h"
#include "platform/screen/WindowSurface.h"

namespace {

using Clock = std::chrono::steady_clock;

// The real library's lookup; the bench puts a thin proxy in front of GetChannelFrame.
kesmacap_fn (*realProc)(std::uint16_t) = nullptr;
kesmacap_get_channel_frame_fn realGetChannelFrame = nullptr;

struct ChannelStats {
    std::atomic<std::int64_t> fetchedSignal{0};  // ns, the edge of the frame fetched last, until shown
    std::atomic<std::int32_t> lastSequence{-1};
    std::atomic<std::int32_t> firstSequence{-1};
    std::atomic<long> framesShown{0};
    std::atomic<std::int64_t> signalledAt{0};  // ns, the latest edge of the channel's event
};
std::array<ChannelStats, 4> stats;
std::atomic<bool> measuring{false};
std::mutex latencyMutex;
std::vector<double> latencies;

std::int64_t nowNs() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now().time_since_epoch()).count();
}

std::int32_t proxyGetChannelFrame(std::uint16_t channel, std::uint8_t** pixels, std::int32_t* width,
                                  std::int32_t* height, std::int32_t* sequence) {
    const std::int32_t result = realGetChannelFrame(channel, pixels, width, height, sequence);
    if (measuring && channel < 4 && result == 0) {
        ChannelStats& channelStats = stats[channel];
        std::int32_t expected = -1;
        channelStats.firstSequence.compare_exchange_strong(expected, *sequence);
        if (channelStats.lastSequence.exchange(*sequence) != *sequence) {
            ++channelStats.framesShown;
        }
        channelStats.fetchedSignal = channelStats.signalledAt.load();
    }
    return result;
}

kesmacap_fn proxyProc(std::uint16_t ordinal) {
    if (ordinal == KESMACAP_GET_CHANNEL_FRAME) {
        return reinterpret_cast<kesmacap_fn>(&proxyGetChannelFrame);
    }
    return realProc(ordinal);
}

void noteLatency(std::int64_t signalled) {
    const std::int64_t shown = nowNs();
    if (measuring && signalled > 0 && shown >= signalled) {
        const std::lock_guard lock(latencyMutex);
        latencies.push_back(static_cast<double>(shown - signalled) / 1000.0);
    }
}

// The worker's own window: times each frame once a round trip shows the server has it.
class TimedWindow final : public DrawableWindow {
  public:
    TimedWindow(DrawableWindow& inner, ChannelIndex channel, xcb_connection_t* connection)
        : inner_(inner), channel_(channel), connection_(connection) {}
    int width() const override { return inner_.width(); }
    int height() const override { return inner_.height(); }
    void draw(const BgrBlock& block) override {
        inner_.draw(block);
        AwaitServer(connection_);
        noteLatency(stats[channel_].fetchedSignal.exchange(0));
    }

  private:
    DrawableWindow& inner_;
    const ChannelIndex channel_;
    xcb_connection_t* const connection_;
};

// Four camera views; when they paint through the user-interface thread, each
// repaint of the window ends with a round trip on the toolkit's connection.
class Screen final : public QWidget {
  public:
    explicit Screen(X11Display* display) {
        auto* const grid = new QGridLayout(this);  // owned by this widget, as are the views
        grid->setContentsMargins(0, 0, 0, 0);
        grid->setSpacing(0);
        for (ChannelIndex channel = 0; channel < 4; ++channel) {
            views[channel] = new CameraView(display, this);
            views[channel]->setFixedSize(640, 480);
            grid->addWidget(views[channel], channel / 2, channel % 2);
        }
    }
    std::array<CameraView*, 4> views{};

  protected:
    bool event(QEvent* event) override {
        if (event->type() != QEvent::UpdateRequest) {
            return QWidget::event(event);
        }
        std::array<std::int64_t, 4> painted{};
        for (ChannelIndex channel = 0; channel < 4; ++channel) {
            painted[channel] = stats[channel].fetchedSignal.exchange(0);
        }
        const bool handled = QWidget::event(event);
        AwaitServer(qGuiApp->nativeInterface<QNativeInterface::QX11Application>()->connection());
        for (const std::int64_t signalled : painted) {
            noteLatency(signalled);
        }
        return handled;
    }
};

double percentile(std::vector<double> values, double fraction) {
    if (values.empty()) {
        return 0;
    }
    std::sort(values.begin(), values.end());
    return values[std::min(values.size() - 1, static_cast<std::size_t>(fraction * values.size()))];
}

}  // namespace

int main(int argc, char** argv) {
    const std::string rate = argc > 1 ? argv[1] : "30";
    const double seconds = argc > 2 ? std::atof(argv[2]) : 5.0;
    const std::string target = argc > 3 ? argv[3] : "surface";
    setenv("KESMACAP_SIM_FPS", rate.c_str(), 1);
    if (target == "surface") {
        setenv("QT_QPA_PLATFORM", "offscreen", 1);  // no screen: the surfaces alone
    }
    int qtArgc = 1;
    QuadviewApplication app(qtArgc, argv,
                            target == "screen-x11" ? QuadviewApplication::ScreenPath::Automatic
                                                   : QuadviewApplication::ScreenPath::Surface);

    const auto library = std::filesystem::read_symlink("/proc/self/exe").parent_path() / "libkesmacap.so";
    void* const handle = dlopen(library.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) {
        std::fprintf(stderr, "cannot load %s: %s\n", library.c_str(), dlerror());
        return 1;
    }
    realProc = reinterpret_cast<kesmacap_fn (*)(std::uint16_t)>(dlsym(handle, "kesmacap_proc"));
    realGetChannelFrame =
        reinterpret_cast<kesmacap_get_channel_frame_fn>(realProc(KESMACAP_GET_CHANNEL_FRAME));
    const CaptureLibrary capture = CaptureLibrary::bind(proxyProc);

    // Each window surface notes when a frame reached it; on the screen, the server.
    std::array<std::unique_ptr<WindowSurface>, 4> surfaces;
    std::array<std::unique_ptr<TimedWindow>, 4> timed;
    std::unique_ptr<Screen> screen;
    X11Display* const display = QuadviewApplication::liveDisplay();
    if (target != "surface") {
        if (target == "screen-x11" && display == nullptr) {
            std::fprintf(stderr, "no X display for the worker to draw on\n");
            return 1;
        }
        screen = std::make_unique<Screen>(display);
        screen->show();
        QApplication::processEvents();
    }
    CameraWindows windows{};
    for (ChannelIndex channel = 0; channel < 4; ++channel) {
        if (target == "screen-x11") {
            timed[channel] = std::make_unique<TimedWindow>(*screen->views[channel]->drawable(), channel,
                                                           display->connection());
            windows[channel] = timed[channel].get();
        } else if (screen) {
            windows[channel] = screen->views[channel]->drawable();
        } else {
            surfaces[channel] = std::make_unique<WindowSurface>(640, 480, [channel, &surfaces] {
                surfaces[channel]->repaintTaken();
                noteLatency(stats[channel].fetchedSignal.exchange(0));
            });
            windows[channel] = surfaces[channel].get();
        }
        capture.OpenChannel(channel);
    }

    // Edge-triggered: every write to an event is one wake-up, whether or not it is still signalled.
    const int watcher = epoll_create1(EPOLL_CLOEXEC);
    for (ChannelIndex channel = 0; channel < 4; ++channel) {
        HANDLE event = nullptr;
        capture.GetChannelEvent(channel, &event);
        epoll_event interest{};
        interest.events = EPOLLIN | EPOLLET;
        interest.data.u32 = channel;
        epoll_ctl(watcher, EPOLL_CTL_ADD, static_cast<int>(reinterpret_cast<std::intptr_t>(event)),
                  &interest);
    }
    std::atomic<bool> watching{true};
    std::thread observer([&] {
        sched_param priority{};
        priority.sched_priority = 10;
        pthread_setschedparam(pthread_self(), SCHED_FIFO, &priority);  // best effort: prompt timestamps
        std::array<epoll_event, 4> ready{};
        while (watching) {
            const int count = epoll_wait(watcher, ready.data(), 4, 100);
            const std::int64_t now = nowNs();
            for (int i = 0; i < count; ++i) {
                stats[ready[i].data.u32].signalledAt = now;
            }
        }
    });

    // The user-interface thread keeps running its event loop, as in the viewer.
    const auto runFor = [](std::chrono::milliseconds period) {
        QEventLoop loop;
        QTimer::singleShot(period, &loop, &QEventLoop::quit);
        loop.exec();
    };
    StartLiveView(capture, windows);
    runFor(std::chrono::milliseconds(300));  // warm up
    measuring = true;
    const auto start = Clock::now();
    runFor(std::chrono::milliseconds(static_cast<long>(seconds * 1000)));
    measuring = false;
    const double elapsed = std::chrono::duration<double>(Clock::now() - start).count();

    long delivered = 0;
    long shown = 0;
    for (const ChannelStats& channel : stats) {
        delivered += channel.lastSequence - channel.firstSequence + 1;
        shown += channel.framesShown;
    }
    ReleaseLiveView();
    watching = false;
    observer.join();
    for (ChannelIndex channel = 0; channel < 4; ++channel) {
        capture.CloseChannel(channel);
    }

    std::printf("card rate %s fps per channel, %.1f s\n", rate.c_str(), elapsed);
    std::printf("frames delivered by the card: %ld (%.1f per second)\n", delivered, delivered / elapsed);
    std::printf("frames shown in a window:     %ld (%.1f per second)\n", shown, shown / elapsed);
    std::printf("share shown: %.2f %%\n", delivered > 0 ? 100.0 * shown / delivered : 0.0);
    std::printf("%s, event-to-%s latency: p50 %.0f us, p99 %.0f us (%zu samples)\n", target.c_str(),
                target == "surface" ? "surface" : "X server", percentile(latencies, 0.5),
                percentile(latencies, 0.99), latencies.size());
    return 0;
}

#include "tests/support/RtspServer.h"

#include <chrono>
#include <cstring>
#include <future>
#include <stdexcept>

#include "kesmacap/gstreamer/ThreadEdges.h"

namespace testing_support {

namespace {

GstRTSPMediaFactory* mount(GstRTSPMountPoints* mounts, const char* path, const std::string& launch) {
    GstRTSPMediaFactory* const factory = gst_rtsp_media_factory_new();
    gst_rtsp_media_factory_set_launch(factory, launch.c_str());
    gst_rtsp_media_factory_set_shared(factory, TRUE);
    gst_rtsp_mount_points_add_factory(mounts, path, factory);
    return factory;
}

std::string live(int width, int height, const std::string& pattern) {
    return "videotestsrc is-live=true pattern=" + pattern +
           " ! video/x-raw,format=I420,width=" + std::to_string(width) + ",height=" + std::to_string(height) +
           ",framerate=30/1 ! ";
}

// Runs `work` on the server's own thread and waits for it.
template <typename Work>
void onContext(GMainContext* context, Work work) {
    // GLib's queue between the threads, and the future's wake-up, are not seen
    // by ThreadSanitizer: the hand-overs are marked.
    std::promise<void> done;
    auto call = [&] {
        work();
        kesmacap::HandOver(&done);
        done.set_value();
    };
    kesmacap::HandOver(&call);
    g_main_context_invoke(
        context,
        [](gpointer data) -> gboolean {
            kesmacap::TakeOver(data);
            (*static_cast<decltype(call)*>(data))();
            return G_SOURCE_REMOVE;
        },
        &call);
    done.get_future().wait();
    kesmacap::TakeOver(&done);
}

// Stamps each raw picture of the clock mount with the time it leaves the camera.
GstPadProbeReturn stampTime(GstPad* /*pad*/, GstPadProbeInfo* info, gpointer /*unused*/) {
    GstBuffer* buffer = gst_buffer_make_writable(gst_pad_probe_info_get_buffer(info));
    GST_PAD_PROBE_INFO_DATA(info) = buffer;
    GstMapInfo map;
    if (gst_buffer_map(buffer, &map, GST_MAP_WRITE)) {
        // I420 640 x 480: the luma plane first, 640 bytes a row.
        const std::uint32_t now = RtspServer::ClockNow();
        constexpr int Block = RtspServer::ClockBlock;
        const auto fill = [&](int left, int top, int size, std::uint8_t luma) {
            for (int row = top; row < top + size; ++row) {
                std::memset(map.data + static_cast<std::size_t>(row) * 640 + left, luma, size);
            }
        };
        for (int quarter = 0; quarter < 4; ++quarter) {
            fill(quarter % 2 * Block / 2, quarter / 2 * Block / 2, Block / 2, quarter % 3 == 0 ? 255 : 0);
        }
        for (int bit = 0; bit < 32; ++bit) {
            const int slot = bit + 1;
            fill(slot % RtspServer::ClockBlocksPerRow * Block, slot / RtspServer::ClockBlocksPerRow * Block,
                 Block, (now >> (31 - bit) & 1) != 0 ? 255 : 0);
        }
        gst_buffer_unmap(buffer, &map);
    }
    return GST_PAD_PROBE_OK;
}

void onMediaConfigure(GstRTSPMediaFactory* /*factory*/, GstRTSPMedia* media, gpointer /*unused*/) {
    GstElement* const bin = gst_rtsp_media_get_element(media);
    if (GstElement* const stamp = gst_bin_get_by_name(GST_BIN(bin), "stamp"); stamp != nullptr) {
        GstPad* const pad = gst_element_get_static_pad(stamp, "src");
        gst_pad_add_probe(pad, GST_PAD_PROBE_TYPE_BUFFER, stampTime, nullptr, nullptr);
        gst_object_unref(pad);
        gst_object_unref(stamp);
    }
    gst_object_unref(bin);
}

}  // namespace

std::uint32_t RtspServer::ClockNow() {
    return static_cast<std::uint32_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                          std::chrono::system_clock::now().time_since_epoch())
                                          .count());
}

RtspServer::RtspServer(int port, Guarded guarded)
    : port_(port),
      guarded_(guarded == Guarded::Yes),
      context_(g_main_context_new()),
      loop_(g_main_loop_new(context_, FALSE)) {
    gst_init(nullptr, nullptr);
    thread_ = std::thread([this] {
        g_main_context_push_thread_default(context_);
        g_main_loop_run(loop_);
        g_main_context_pop_thread_default(context_);
    });
    start();
}

RtspServer::~RtspServer() {
    stop();
    g_main_loop_quit(loop_);
    thread_.join();
    g_main_loop_unref(loop_);
    g_main_context_unref(context_);
}

std::string RtspServer::uri(const std::string& mount, const std::string& credentials) const {
    return "rtsp://" + (credentials.empty() ? "" : credentials + "@") + "127.0.0.1:" + std::to_string(port_) +
           mount;
}

void RtspServer::start() {
    onContext(context_, [this] { attach(); });
    if (port_ <= 0) {
        throw std::runtime_error("the RTSP server found no port");
    }
}

void RtspServer::attach() {
    server_ = gst_rtsp_server_new();
    gst_rtsp_server_set_address(server_, "127.0.0.1");
    gst_rtsp_server_set_service(server_, std::to_string(port_).c_str());
    GstRTSPMountPoints* const mounts = gst_rtsp_server_get_mount_points(server_);
    if (guarded_) {
        guard(mounts);
    } else {
        mountAll(mounts);
    }
    g_object_unref(mounts);
    source_ = gst_rtsp_server_attach(server_, context_);
    port_ = source_ != 0 ? gst_rtsp_server_get_bound_port(server_) : -1;
}

void RtspServer::mountAll(GstRTSPMountPoints* mounts) {
    mount(mounts, "/mjpeg", "( " + live(640, 480, "smpte") + "jpegenc ! rtpjpegpay name=pay0 pt=26 )");
    mount(
        mounts, "/h264",
        "( " + live(640, 480, "smpte") +
            "x264enc tune=zerolatency speed-preset=ultrafast key-int-max=15 ! rtph264pay name=pay0 pt=96 )");
    GstRTSPMediaFactory* const clock = gst_rtsp_media_factory_new();
    gst_rtsp_media_factory_set_launch(clock, ("( " + live(640, 480, "black") +
                                              "identity name=stamp ! jpegenc ! rtpjpegpay name=pay0 pt=26 )")
                                                 .c_str());
    g_signal_connect(clock, "media-configure", G_CALLBACK(onMediaConfigure), nullptr);
    gst_rtsp_mount_points_add_factory(mounts, "/clock", clock);
    mount(mounts, "/wide", "( " + live(1280, 720, "smpte") + "jpegenc ! rtpjpegpay name=pay0 pt=26 )");
}

void RtspServer::guard(GstRTSPMountPoints* mounts) {
    GstRTSPMediaFactory* const guarded = mount(mounts, "/guarded",
                                               "( " + live(640, 480, "smpte") +
                                                   "jpegenc ! rtpjpegpay name=pay0 pt=26 audiotestsrc "
                                                   "is-live=true ! alawenc ! rtppcmapay name=pay1 )");
    gst_rtsp_media_factory_set_protocols(guarded, GST_RTSP_LOWER_TRANS_TCP);
    gst_rtsp_media_factory_add_role(guarded, "admin", GST_RTSP_PERM_MEDIA_FACTORY_ACCESS, G_TYPE_BOOLEAN,
                                    TRUE, GST_RTSP_PERM_MEDIA_FACTORY_CONSTRUCT, G_TYPE_BOOLEAN, TRUE,
                                    nullptr);
    GstRTSPAuth* const auth = gst_rtsp_auth_new();
    gst_rtsp_auth_set_supported_methods(auth, GST_RTSP_AUTH_DIGEST);
    GstRTSPToken* const admin =
        gst_rtsp_token_new(GST_RTSP_TOKEN_MEDIA_FACTORY_ROLE, G_TYPE_STRING, "admin", nullptr);
    gst_rtsp_auth_add_digest(auth, "admin", "s3cret", admin);
    gst_rtsp_token_unref(admin);
    gst_rtsp_server_set_auth(server_, auth);
    g_object_unref(auth);
}

void RtspServer::stop() {
    onContext(context_, [this] {
        if (server_ == nullptr) {
            return;
        }
        if (source_ != 0) {
            g_source_destroy(g_main_context_find_source_by_id(context_, source_));
            source_ = 0;
        }
        gst_rtsp_server_client_filter(
            server_,
            [](GstRTSPServer*, GstRTSPClient*, gpointer) -> GstRTSPFilterResult {
                return GST_RTSP_FILTER_REMOVE;
            },
            nullptr);
        g_object_unref(server_);
        server_ = nullptr;
    });
}

}  // namespace testing_support

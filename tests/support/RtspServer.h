// An RTSP server in the test's own process, on 127.0.0.1, serving live test
// pictures: mounts "/mjpeg" (640 x 480, MJPEG), "/h264" (640 x 480, H.264)
// and "/wide" (1280 x 720 MJPEG), each at 30 fps, and "/clock" (640 x 480
// MJPEG) whose pictures carry the wall-clock time they were captured at. A
// guarded one serves "/guarded" alone: MJPEG with a sound track, to admin:s3cret
// by Digest only, over TCP only. It can stop, dropping every
// client, and come back on the same port, as a camera that reboots.
#pragma once

#include <gst/rtsp-server/rtsp-server.h>

#include <cstdint>
#include <string>
#include <thread>

namespace testing_support {

class RtspServer {
  public:
    enum class Guarded { No, Yes };
    // Port 0 takes any free one.
    explicit RtspServer(int port = 0, Guarded guarded = Guarded::No);
    ~RtspServer();
    RtspServer(const RtspServer&) = delete;
    RtspServer& operator=(const RtspServer&) = delete;

    int port() const { return port_; }
    std::string uri(const std::string& mount, const std::string& credentials = {}) const;
    // "/clock" writes the capture time, milliseconds of the wall clock modulo
    // 2^32, into 16 x 16 blocks at the picture's top left, 17 a row: first a
    // marker (a 2 x 2 checkerboard of 8 x 8, white at top left), then the 32
    // bits, most significant first, white for 1 and black for 0.
    static constexpr int ClockBlock = 16;
    static constexpr int ClockBlocksPerRow = 17;
    static std::uint32_t ClockNow();
    // Stops listening and drops every client; start() listens again on the same port.
    void stop();
    void start();

  private:
    void attach();
    void mountAll(GstRTSPMountPoints* mounts);
    void guard(GstRTSPMountPoints* mounts);

    int port_;
    const bool guarded_;
    GMainContext* context_;
    GMainLoop* loop_;
    GstRTSPServer* server_ = nullptr;
    guint source_ = 0;
    std::thread thread_;
};

}  // namespace testing_support

#pragma once

#include <linux/videodev2.h>

#include <cstdint>
#include <string>
#include <vector>

#include "kesmacap/card/Channel.h"
#include "kesmacap/v4l2/V4l2System.h"

namespace kesmacap {

// One channel's capture node: BGR24 negotiated at 640 x 480 (or what the
// driver settles on) and its fastest frame rate at open, memory-mapped
// buffers requested at the first start and kept until the close, streaming
// on and off, and one frame at a time into the channel. Not thread-safe: its
// owner calls it under one lock.
class V4l2Device {
  public:
    static constexpr unsigned BufferCount = 4;

    explicit V4l2Device(V4l2System& system) : system_(system) {}
    ~V4l2Device() { close(); }
    V4l2Device(const V4l2Device&) = delete;
    V4l2Device& operator=(const V4l2Device&) = delete;

    // 0, or the errno of the first refusal (ENODEV: not a streaming capture
    // node; EINVAL: no BGR24 conversion).
    std::int32_t open(const std::string& path);
    // Stops streaming, releases the buffers and closes. Only once nothing
    // waits on the descriptor any more.
    void close();
    bool isOpen() const { return fd_ >= 0; }
    int descriptor() const { return fd_; }

    // 0 or an errno; a device lost while streaming answers its loss until closed.
    std::int32_t startStreaming();
    void stopStreaming();
    bool isStreaming() const { return streaming_; }
    // Counts streaming sessions: a descriptor number can come back for
    // another device, so a wait result is only taken for its own session.
    unsigned session() const { return session_; }

    // Takes one ready frame into channel (one dequeue per readiness: libv4l2
    // logs every dequeue that finds nothing); 0, or the errno when the device failed.
    int takeFrame(Channel& channel);
    // Unplugged or broken while streaming: streaming stops, and starting again
    // answers failure until the close.
    void markLost(int failure);

  private:
    struct Mapping {
        void* address = nullptr;
        std::size_t length = 0;
    };

    void setFastestFrameRate(const v4l2_pix_format& format) const;
    std::int32_t requestBuffers();
    void releaseBuffers();
    void copyFrame(Channel& channel, const Mapping& buffer, std::size_t bytesUsed) const;

    V4l2System& system_;
    int fd_ = -1;
    int width_ = 0;
    int height_ = 0;
    std::size_t bytesPerLine_ = 0;
    std::vector<Mapping> buffers_;
    bool streaming_ = false;
    int lost_ = 0;  // the errno of a failure while streaming: ENODEV when unplugged
    unsigned session_ = 0;
};

}  // namespace kesmacap

// How FFmpeg is to open a source: the URL it takes, with the credentials
// written back into it (FFmpeg's RTSP and HTTP clients read them from there
// alone), and the options its protocol needs.
#pragma once

#include <chrono>
#include <cstddef>
#include <string>
#include <utility>
#include <vector>

#include "kesmacap/sources/SourcesFile.h"

namespace kesmacap {

// How long a socket may wait, connecting and for each read; also how long
// RTSP waits for its first packet over UDP before it asks for TCP instead.
// Without it a TCP connection is waited for without end and RTSP never leaves UDP.
constexpr std::chrono::seconds NetworkTimeout{3};
// The longest user name or password taken, in bytes.
constexpr std::size_t MostCredentialBytes = 128;
// FFmpeg's RTSP client keeps "user:password", escaped, in 128 bytes with its
// terminating zero, and cuts off what is longer.
constexpr std::size_t MostRtspUserInfoBytes = 127;

struct FfmpegTarget {
    std::string url;  // holds the password: never to be shown
    std::vector<std::pair<std::string, std::string>> options;
    bool credentials = false;  // whether the URL carries a user name or password
    std::string problem;       // why it is not to be opened; empty when it is
    std::string scheme;        // the source's, as written (rtspt, https), in lower case
};

// source: as ParseSourceUri gives it. rtspt:// (RTSP over TCP, as GStreamer
// names it) and rtspu:// (over UDP) become rtsp:// with that transport, so
// that one sources file means the same to both libraries; rtsps:// is
// refused a password; a file URI becomes the path it names.
FfmpegTarget TargetFor(const SourceUri& source);

}  // namespace kesmacap

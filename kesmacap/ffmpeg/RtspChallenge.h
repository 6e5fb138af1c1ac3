// Asks an RTSP camera that refused a login how it wants logins answered: one
// DESCRIBE without credentials over FFmpeg's own TCP protocol (Winsock on
// Windows), its WWW-Authenticate challenges read from the answer. Blocking,
// in the camera's thread, cut short by its interrupt callback as any other call.
#pragma once

extern "C" {
#include <libavformat/avio.h>
}

#include <chrono>
#include <string>
#include <vector>

namespace kesmacap {

// uri: rtsp://, rtspt:// or rtspu://, without user info; limit: for the
// connection and each read. None when the camera would not answer in time.
std::vector<std::string> AskRtspChallenges(const std::string& uri, const AVIOInterruptCB& interrupt,
                                           std::chrono::microseconds limit);

}  // namespace kesmacap

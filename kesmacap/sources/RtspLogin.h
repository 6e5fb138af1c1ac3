// Why an RTSP camera refused the login: a wrong password, or a way of logging
// in the library's RTSP client cannot answer. GStreamer's and FFmpeg's
// clients say only "Unauthorized".
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace kesmacap {

struct LoginVerdict {
    std::string reason;
    // Whether another attempt could succeed: false for a camera that wants
    // credentials none were given for, or a scheme the client cannot answer.
    bool worthRetrying = true;
};

// What an RTSP client answers besides Basic and Digest with MD5.
struct RtspClient {
    std::string_view name;  // "GStreamer's RTSP client", for the reason
    bool digestQop;         // Digest with qop="auth"
    bool digestMd5Sess;     // Digest with algorithm=MD5-sess
};
inline constexpr RtspClient GstreamerRtsp{"GStreamer's RTSP client", false, false};
inline constexpr RtspClient FfmpegRtsp{"FFmpeg's RTSP client", true, true};

// From the camera's WWW-Authenticate challenges ("Basic realm=...",
// "Digest realm=..., nonce=..., algorithm=SHA-256, qop=\"auth\"").
LoginVerdict LoginRefusal(const std::vector<std::string>& challenges, bool gaveCredentials,
                          const RtspClient& client);

// The WWW-Authenticate challenges in an RTSP answer's header ("RTSP/1.0 401
// Unauthorized\r\nWWW-Authenticate: Digest ...\r\n\r\n"), any case of the name.
std::vector<std::string> ChallengesIn(std::string_view answer);

}  // namespace kesmacap

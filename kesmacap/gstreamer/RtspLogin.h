// Why an RTSP camera refused the login: a wrong password, or a way of logging
// in GStreamer's RTSP client cannot answer. rtspsrc says only "Unauthorized".
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace kesmacap {

struct LoginVerdict {
    std::string reason;
    // Whether another attempt could succeed: false for a camera that wants
    // credentials none were given for, or a scheme GStreamer cannot answer.
    bool worthRetrying = true;
};

// From the camera's WWW-Authenticate challenges ("Basic realm=...",
// "Digest realm=..., nonce=..., algorithm=SHA-256, qop=\"auth\"").
LoginVerdict LoginRefusal(const std::vector<std::string>& challenges, bool gaveCredentials);

// The WWW-Authenticate challenges in an RTSP answer's header ("RTSP/1.0 401
// Unauthorized\r\nWWW-Authenticate: Digest ...\r\n\r\n"), any case of the name.
std::vector<std::string> ChallengesIn(std::string_view answer);

}  // namespace kesmacap

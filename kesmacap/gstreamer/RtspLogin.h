// Why an RTSP camera refused the login: a wrong password, or a way of logging
// in GStreamer's RTSP client cannot answer. rtspsrc says only "Unauthorized".
#pragma once

#include <string>
#include <vector>

namespace kesmacap {

// From the camera's WWW-Authenticate challenges ("Basic realm=...",
// "Digest realm=..., nonce=..., algorithm=SHA-256, qop=\"auth\"").
std::string LoginRefusal(const std::vector<std::string>& challenges, bool gaveCredentials);

// Asks the camera (an RTSP URI without user info) for its challenges: one
// DESCRIBE without credentials, at most `seconds` long. Empty when it would
// not say.
std::vector<std::string> AskChallenges(const std::string& uri, int seconds);

}  // namespace kesmacap

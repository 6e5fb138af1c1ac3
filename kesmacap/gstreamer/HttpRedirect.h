// Where an HTTP camera that sends us on is followed to, and whether its
// credentials go along: only to the scheme, host and port the sources file
// names (souphttpsrc, following redirects itself, answers any host's
// challenge with them).
#pragma once

#include <string>

namespace kesmacap {

struct RedirectHop {
    std::string uri;           // where to go; empty when not to be followed
    bool credentials = false;  // whether the user name and password go there
    std::string problem;       // why it is not followed, masked
};

// Redirects followed per attempt, at most: more is a loop.
constexpr int MostRedirects = 5;

// named: the URI the sources file names; current: the one that answered with
// `location` (a Location header, absolute or relative); hops: the redirects
// followed so far in this attempt.
RedirectHop FollowRedirect(const std::string& named, const std::string& current, const std::string& location,
                           int hops);

// Whether two URIs have one origin: scheme (RTSP's of any transport alike),
// host (any case) and port (the scheme's own when none is written).
bool SameOrigin(const std::string& a, const std::string& b);

}  // namespace kesmacap

#include "kesmacap/gstreamer/HttpRedirect.h"

#include <glib.h>

#include <memory>

#include "kesmacap/sources/SourcesFile.h"

namespace kesmacap {

namespace {

struct UriDeleter {
    void operator()(GUri* uri) const { g_uri_unref(uri); }
};
using Uri = std::unique_ptr<GUri, UriDeleter>;

Uri parsed(const std::string& text) {
    return Uri(g_uri_parse(text.c_str(), G_URI_FLAGS_ENCODED, nullptr));
}

// RTSP's schemes name its transport too (rtspt://, rtspu://, rtsph://): one
// origin with rtsp://, as rtsps* are with rtsps://.
std::string schemeOf(GUri* uri) {
    const std::string scheme = g_uri_get_scheme(uri);  // lower case, as GLib keeps it
    for (const std::string family : {"rtsp", "rtsps"}) {
        for (const char* const transport : {"", "t", "u", "h"}) {
            if (scheme == family + transport) {
                return family;
            }
        }
    }
    return scheme;
}

int portOf(GUri* uri) {
    const int port = g_uri_get_port(uri);
    if (port > 0) {
        return port;
    }
    const std::string scheme = schemeOf(uri);
    return scheme == "rtsp" ? 554 : scheme == "rtsps" ? 322 : scheme == "https" ? 443 : 80;
}

}  // namespace

bool SameOrigin(const std::string& a, const std::string& b) {
    const Uri first = parsed(a);
    const Uri second = parsed(b);
    if (!first || !second) {
        return false;
    }
    const char* const hostA = g_uri_get_host(first.get());
    const char* const hostB = g_uri_get_host(second.get());
    return schemeOf(first.get()) == schemeOf(second.get()) && hostA != nullptr && hostB != nullptr &&
           g_ascii_strcasecmp(hostA, hostB) == 0 && portOf(first.get()) == portOf(second.get());
}

RedirectHop FollowRedirect(const std::string& named, const std::string& current, const std::string& location,
                           int hops) {
    RedirectHop hop;
    if (hops >= MostRedirects) {
        hop.problem = "the camera sent us on more than " + std::to_string(MostRedirects) + " times";
        return hop;
    }
    gchar* const resolved =
        g_uri_resolve_relative(current.c_str(), location.c_str(), G_URI_FLAGS_ENCODED, nullptr);
    if (resolved == nullptr) {
        hop.problem = "the camera sent us on to no URI (" + MaskSecrets(location) + ")";
        return hop;
    }
    // User info in the Location is none of ours to send, nor to show.
    const SourceUri target = ParseSourceUri(resolved);
    g_free(resolved);
    if (target.uri.empty()) {
        hop.problem = "the camera sent us on to no URI (" + target.problem + ")";
        return hop;
    }
    hop.uri = target.uri;
    hop.credentials = SameOrigin(named, hop.uri);
    return hop;
}

}  // namespace kesmacap

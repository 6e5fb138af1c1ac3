#include "kesmacap/gstreamer/ChallengeAsker.h"

#include "kesmacap/sources/RtspLogin.h"

namespace kesmacap {

namespace {

constexpr guint16 RtspPort = 554;
// An answer's header, at most: a camera's is a few hundred bytes.
constexpr std::size_t MostHeader = 16384;

template <typename T>
struct Unref {
    void operator()(T* object) const { g_object_unref(object); }
};
template <typename T>
using Owned = std::unique_ptr<T, Unref<T>>;

}  // namespace

ChallengeAsker::ChallengeAsker(const std::string& uri, std::chrono::seconds limit)
    : cancellable_(g_cancellable_new()) {
    thread_ = std::thread([this, uri, limit] {
        std::vector<std::string> challenges = ask(uri, limit, cancellable_.get());
        const std::lock_guard lock(mutex_);
        answer_ = std::move(challenges);
    });
}

ChallengeAsker::~ChallengeAsker() {
    g_cancellable_cancel(cancellable_.get());
    thread_.join();
}

std::optional<std::vector<std::string>> ChallengeAsker::answer() const {
    const std::lock_guard lock(mutex_);
    return answer_;
}

std::vector<std::string> ChallengeAsker::ask(const std::string& uri, std::chrono::seconds limit,
                                             GCancellable* cancellable) {
    GUri* const parsed = g_uri_parse(uri.c_str(), G_URI_FLAGS_ENCODED, nullptr);
    if (parsed == nullptr) {
        return {};
    }
    const std::string host = g_uri_get_host(parsed) != nullptr ? g_uri_get_host(parsed) : "";
    const int port = g_uri_get_port(parsed);
    g_uri_unref(parsed);
    const Owned<GSocketClient> client(g_socket_client_new());
    g_socket_client_set_timeout(client.get(), static_cast<guint>(limit.count()));
    const Owned<GSocketConnectable> address(
        g_network_address_new(host.c_str(), port > 0 ? static_cast<guint16>(port) : RtspPort));
    const Owned<GSocketConnection> connection(
        g_socket_client_connect(client.get(), address.get(), cancellable, nullptr));
    if (!connection) {
        return {};
    }
    // rtspt:// and rtspu:// name how the pictures travel; the request itself is RTSP's.
    const std::string request = "DESCRIBE rtsp" + uri.substr(uri.find("://")) +
                                " RTSP/1.0\r\nCSeq: 1\r\nAccept: application/sdp\r\n\r\n";
    GIOStream* const stream = G_IO_STREAM(connection.get());
    if (!g_output_stream_write_all(g_io_stream_get_output_stream(stream), request.data(), request.size(),
                                   nullptr, cancellable, nullptr)) {
        return {};
    }
    std::string answer;
    char chunk[1024];
    while (answer.find("\r\n\r\n") == std::string::npos && answer.size() < MostHeader) {
        const gssize got = g_input_stream_read(g_io_stream_get_input_stream(stream), chunk, sizeof chunk,
                                               cancellable, nullptr);
        if (got <= 0) {
            break;
        }
        answer.append(chunk, static_cast<std::size_t>(got));
    }
    return ChallengesIn(answer);
}

}  // namespace kesmacap

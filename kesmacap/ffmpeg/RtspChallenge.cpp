#include "kesmacap/ffmpeg/RtspChallenge.h"

#include <algorithm>

#include "kesmacap/sources/RtspLogin.h"

namespace kesmacap {

namespace {

// An answer's header, at most: a camera's is a few hundred bytes.
constexpr std::size_t MostHeader = 16384;

}  // namespace

std::vector<std::string> AskRtspChallenges(const std::string& uri, const AVIOInterruptCB& interrupt,
                                           std::chrono::microseconds limit) {
    const auto scheme = uri.find("://");
    if (scheme == std::string::npos) {
        return {};
    }
    const std::size_t start = scheme + 3;
    const std::string authority = uri.substr(start, uri.find_first_of("/?#", start) - start);
    const auto colon = authority.rfind(':');
    const bool port = colon != std::string::npos &&
                      (authority.find(']') == std::string::npos || colon > authority.find(']'));
    const std::string address =
        "tcp://" + authority + (port ? "" : ":554") + "?timeout=" + std::to_string(limit.count());
    AVIOContext* io = nullptr;
    if (avio_open2(&io, address.c_str(), AVIO_FLAG_READ_WRITE, &interrupt, nullptr) < 0) {
        return {};
    }
    // rtspt:// and rtspu:// name how the pictures travel; the request itself is RTSP's.
    const std::string request =
        "DESCRIBE rtsp" + uri.substr(scheme) + " RTSP/1.0\r\nCSeq: 1\r\nAccept: application/sdp\r\n\r\n";
    avio_write(io, reinterpret_cast<const unsigned char*>(request.data()), static_cast<int>(request.size()));
    avio_flush(io);
    std::string answer;
    unsigned char chunk[1024];
    while (io->error == 0 && answer.find("\r\n\r\n") == std::string::npos && answer.size() < MostHeader) {
        const int got = avio_read_partial(io, chunk, sizeof chunk);
        if (got <= 0) {
            break;
        }
        answer.append(reinterpret_cast<const char*>(chunk), static_cast<std::size_t>(got));
    }
    avio_closep(&io);
    return ChallengesIn(answer);
}

}  // namespace kesmacap

// Which of rtspsrc's requests go out, so that credentials a camera refused
// are not sent to it again in the same attempt, and none go to an origin the
// sources file does not name. rtspsrc (GStreamer 1.22) sends a request that
// was answered 401 up to eight times more with the same credentials, and
// follows an RTSP redirect to any host with them: its "before-send" signal is
// the one place to stop it, and shows only the request. What this relies on:
// GstRTSPConnection writes the Date header into a request as it sends it, and
// the Authorization header once it holds credentials; rtspsrc sends the same
// request again after a 401 that it could answer, and a new one otherwise.
// So a request without a Date is new; one with a Date is sent again after an
// answer (a 401); one with an Authorization was refused with credentials.
#pragma once

#include <mutex>

namespace kesmacap {

class RtspResends {
  public:
    enum class Verdict {
        Send,
        Withhold,           // the camera refused these credentials: the attempt fails "Unauthorized"
        WithholdElsewhere,  // credentials asked for by another origin than the one named
    };
    struct Request {
        bool sentBefore;       // it holds a Date header
        bool withCredentials;  // it holds an Authorization header
        bool namedOrigin;      // rtspsrc's location is of the origin the sources file names
    };
    // Called from rtspsrc's threads.
    Verdict before(const Request& request);

  private:
    std::mutex mutex_;
    bool credentialsSet_ = false;  // the connection sends them with every request
    bool lastWentWith_ = false;    // the last request let through went with them
    // The camera took them: a new request followed one that went with them.
    // Only then is a refusal of them a Digest nonce gone stale (stale=true),
    // which one more sending answers, once per request.
    bool accepted_ = false;
    bool refreshed_ = false;
};

}  // namespace kesmacap

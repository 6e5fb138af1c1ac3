// Asks an RTSP camera that refused a login how it wants logins answered: one
// DESCRIBE without credentials, its WWW-Authenticate challenges read from the
// answer. On a thread of its own, so that the camera's thread never waits on
// the network; cancelled (the name lookup too) and joined when destroyed, so
// that neither does quitting.
#pragma once

#include <gio/gio.h>

#include <chrono>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace kesmacap {

class ChallengeAsker {
  public:
    // uri: rtsp://, rtspt:// or rtspu://, without user info; limit: for each
    // step (connecting, sending, each read).
    ChallengeAsker(const std::string& uri, std::chrono::seconds limit);
    ~ChallengeAsker();
    ChallengeAsker(const ChallengeAsker&) = delete;
    ChallengeAsker& operator=(const ChallengeAsker&) = delete;

    // The challenges once the camera answered or would not (then none);
    // nothing while it is asked.
    std::optional<std::vector<std::string>> answer() const;

  private:
    struct Unref {
        void operator()(gpointer object) const { g_object_unref(object); }
    };
    static std::vector<std::string> ask(const std::string& uri, std::chrono::seconds limit,
                                        GCancellable* cancellable);

    const std::unique_ptr<GCancellable, Unref> cancellable_;
    mutable std::mutex mutex_;
    std::optional<std::vector<std::string>> answer_;
    std::thread thread_;
};

}  // namespace kesmacap

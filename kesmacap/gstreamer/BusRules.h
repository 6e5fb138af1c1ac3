// What a pipeline's messages mean for a camera's life, as pure rules: which
// errors are worth trying again, what buffering is news of, whether an HTTP
// server lets a recording be sought back to its start.
#pragma once

#include <glib.h>

#include <optional>
#include <string>
#include <string_view>

#include "kesmacap/card/SourceLife.h"

namespace kesmacap {

// An error's kind: LoginRefused for credentials refused (rtspsrc's
// "Unauthorized", souphttpsrc's 401 and 403), Refused for what cannot play
// until something is installed, Error for the rest (a network, a server, a
// file that may come back).
SourceEventKind KindOfError(GQuark domain, int code);

// A download's buffering, said as progress whenever its percentage moves and
// in words when its tens do (a message may come with every buffer).
class Buffering {
  public:
    struct Heard {
        bool progress = false;
        std::optional<std::string> said;
    };
    Heard heard(int percent);

  private:
    int percent_ = -1;
};

// Whether an HTTP answer's Accept-Ranges header lets the file be sought: only
// "bytes" does; a server that names none (Python's http.server) fails the seek.
bool AcceptsRanges(const char* acceptRanges);

}  // namespace kesmacap

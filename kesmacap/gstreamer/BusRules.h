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

// What an error means: LoginRefused for credentials refused (rtspsrc's
// "Unauthorized", souphttpsrc's 401), Refused for what cannot play until
// something is installed, Error for the rest (a network, a server, a file
// that may come back). httpStatus: the "http-status-code" of the error's
// details, 0 when it has none. souphttpsrc says NOT_AUTHORIZED of 402, 403
// and 407 too, which refuse no password (a 403: an address banned, too many
// clients): those are errors, said with their status.
struct ErrorReading {
    SourceEventKind kind;
    std::string text;
};
ErrorReading ReadError(GQuark domain, int code, unsigned httpStatus, const std::string& message);

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

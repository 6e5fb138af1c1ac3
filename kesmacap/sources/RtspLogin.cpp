#include "kesmacap/sources/RtspLogin.h"

#include <algorithm>
#include <cctype>

#include "kesmacap/sources/SourcesFile.h"

namespace kesmacap {

namespace {

// The value of `name=` in a challenge, unquoted; empty when absent.
std::string parameter(const std::string& challenge, const std::string& name) {
    for (auto at = challenge.find(name + "="); at != std::string::npos;
         at = challenge.find(name + "=", at + 1)) {
        if (at > 0 && std::isalnum(static_cast<unsigned char>(challenge[at - 1])) != 0) {
            continue;  // "xalgorithm=" is not "algorithm="
        }
        std::string value = challenge.substr(at + name.size() + 1);
        if (!value.empty() && value.front() == '"') {
            return value.substr(1, value.find('"', 1) - 1);
        }
        return value.substr(0, value.find_first_of(", \t"));
    }
    return {};
}

// Whether a Digest challenge's qop list offers "auth" (not only "auth-int",
// which neither client answers).
bool offersAuth(std::string_view qop) {
    while (!qop.empty()) {
        const auto comma = qop.find(',');
        std::string_view token = qop.substr(0, comma);
        token.remove_prefix(std::min(token.find_first_not_of(" \t"), token.size()));
        token = token.substr(0, token.find_last_not_of(" \t") + 1);
        if (token == "auth") {
            return true;
        }
        qop = comma == std::string_view::npos ? std::string_view{} : qop.substr(comma + 1);
    }
    return false;
}

}  // namespace

LoginVerdict LoginRefusal(const std::vector<std::string>& challenges, bool gaveCredentials,
                          const RtspClient& client) {
    if (!gaveCredentials) {
        return {"the camera wants a user name and password (user:password@ in the URI)", false};
    }
    const LoginVerdict wrong{"the camera refused the user name or password", true};
    std::string cannot;
    for (const std::string& challenge : challenges) {
        const std::string text = AsciiLower(challenge);
        const std::string algorithm = parameter(text, "algorithm");
        const std::string qop = parameter(text, "qop");
        const bool md5 =
            algorithm.empty() || algorithm == "md5" || (client.digestMd5Sess && algorithm == "md5-sess");
        const bool qopAnswered = qop.empty() || (client.digestQop && offersAuth(qop));
        if (text.rfind("basic", 0) == 0 || (text.rfind("digest", 0) == 0 && md5 && qopAnswered)) {
            return wrong;
        }
        if (cannot.empty()) {
            cannot = text.rfind("digest", 0) == 0
                         ? "Digest" + (md5 ? std::string() : " " + parameter(challenge, "algorithm")) +
                               (qopAnswered ? "" : " with qop")
                         : challenge.substr(0, challenge.find(' '));
        }
    }
    if (cannot.empty()) {
        return wrong;
    }
    return {"the camera asks for " + cannot + " authentication, which " + std::string(client.name) +
                " cannot answer",
            false};
}

std::vector<std::string> ChallengesIn(std::string_view answer) {
    std::vector<std::string> challenges;
    constexpr std::string_view Name = "www-authenticate:";
    // The header ends at the first empty line; the status line comes first.
    answer = answer.substr(0, answer.find("\r\n\r\n"));
    for (std::size_t line = answer.find("\r\n"); line != std::string_view::npos;
         line = answer.find("\r\n", line + 2)) {
        const std::string_view field = answer.substr(line + 2, answer.find("\r\n", line + 2) - line - 2);
        if (field.size() > Name.size() && AsciiLower(field.substr(0, Name.size())) == Name) {
            const std::string_view value = field.substr(Name.size());
            const auto first = value.find_first_not_of(" \t");
            if (first != std::string_view::npos) {
                challenges.emplace_back(value.substr(first));
            }
        }
    }
    return challenges;
}

}  // namespace kesmacap

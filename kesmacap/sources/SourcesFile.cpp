#include "kesmacap/sources/SourcesFile.h"

#include <sys/stat.h>

#ifdef _WIN32
#include <windows.h>

#include <filesystem>

#include "platform/text/Text.h"
#endif

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <optional>
#include <sstream>

namespace kesmacap {

namespace {

std::string_view trim(std::string_view text) {
    const auto first = text.find_first_not_of(" \t\r");
    if (first == std::string_view::npos) {
        return {};
    }
    const auto last = text.find_last_not_of(" \t\r");
    return text.substr(first, last - first + 1);
}

// Where a secret stands in a text: the user info of a URI, or the value of a
// parameter whose key names a secret.
struct Secret {
    std::size_t begin;
    std::size_t end;
    bool password;
};

// Characters no URI holds: one written inside other text ends at them.
constexpr std::string_view OutsideUri = " \t\r\n\"<>";

bool keyCharacter(char c) {
    return std::isalnum(static_cast<unsigned char>(c)) != 0 || c == '_' || c == '-' || c == '.';
}

bool endsWith(std::string_view text, std::string_view end) {
    return text.size() >= end.size() && text.substr(text.size() - end.size()) == end;
}

bool namesSecret(std::string_view key) {
    const std::string lower = AsciiLower(key);
    static constexpr std::string_view Words[] = {"pass", "pwd",    "psw",  "token",     "key",
                                                 "auth", "secret", "sign", "credential"};
    // Cheap cameras' CGI: loginpas=, pw=, userpw=.
    return endsWith(lower, "pw") || endsWith(lower, "pas") ||
           std::any_of(std::begin(Words), std::end(Words),
                       [&](std::string_view word) { return lower.find(word) != std::string::npos; });
}

bool isPort(std::string_view text) {
    return !text.empty() && text.size() <= 5 &&
           std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

bool isHex(char c) {
    return std::isxdigit(static_cast<unsigned char>(c)) != 0;
}

// Whether text reads as a camera's host, and port: a name or IPv4 address
// (letters, digits, ".", "-", "_", "~"), or an IPv6 address in brackets, then
// ":" and digits or nothing. What a password leaves after an "@" typed in it
// (the reserved characters and whatever else it holds) seldom does.
bool isHost(std::string_view text) {
    std::size_t port = text.find(':');
    if (!text.empty() && text.front() == '[') {
        const auto close = text.find(']');
        const std::string_view address = text.substr(1, close == std::string_view::npos ? 0 : close - 1);
        if (close == std::string_view::npos || std::none_of(address.begin(), address.end(), isHex) ||
            !std::all_of(address.begin(), address.end(),
                         [](char c) { return isHex(c) || c == ':' || c == '.'; })) {
            return false;
        }
        port = close + 1 < text.size() ? close + 1 : std::string_view::npos;
    } else if (const std::string_view name = text.substr(0, port);
               name.empty() || !std::all_of(name.begin(), name.end(), [](char c) {
                   return std::isalnum(static_cast<unsigned char>(c)) != 0 || c == '.' || c == '-' ||
                          c == '_' || c == '~';
               })) {
        return false;
    }
    return port == std::string_view::npos || (text[port] == ':' && isPort(text.substr(port + 1)));
}

// Where the user info of the URI whose authority begins at `start` ends (at
// its "@"), or npos when it has none: one reading for the parser and the
// masking alike. As FFmpeg's av_url_split reads it, the authority ends at the
// first "/", "?" or "#", and its user info at the last "@" in it, so that
// "admin:p@ss@cam" keeps its "@"; an "@" in the path or query of a URI is no
// user info. Beyond that, a "#", "?" or "/" typed raw in a password (which the
// parser refuses, naming the escape) is recognised so that it is masked and
// never taken for a host: where the last "@" before the next "/" is followed
// by a host and a ":" comes before it ("user:12#34@cam/x", "ad#min:pw@cam",
// "admin:p@ss#1?x@cam"), though not after a host and port that a "/" ends
// ("cam:554/live@1"); and where the authority is "user:" and no port, which
// no host reads, to the last "@" ("admin:pa/ss/w@cam").
std::size_t userInfoEnd(std::string_view text, std::size_t start) {
    constexpr auto None = std::string_view::npos;
    const std::size_t end = std::min(text.find_first_of(OutsideUri, start), text.size());
    const std::size_t stop = std::min(text.find_first_of("/?#", start), end);
    const std::string_view authority = text.substr(start, stop - start);
    const auto at = authority.rfind('@');
    const bool slash = stop == end || text[stop] == '/';
    const bool hostFollows = at != None && isHost(authority.substr(at + 1));
    if (stop == end || (hostFollows && slash)) {
        return at == None ? None : start + at;
    }
    const auto colon = authority.find(':');
    const bool hostAndPort = at == None && (authority.empty() || authority.front() == '[' ||
                                            (colon != None && isPort(authority.substr(colon + 1))));
    if (at == None && slash && (colon == None || hostAndPort)) {
        return None;  // "cam/x@y", "cam:554/x@y": a valid URI
    }
    const std::size_t nextSlash = std::min(text.find('/', stop + 1), end);
    const auto later = text.substr(0, nextSlash).rfind('@');
    if (later != None && later > stop &&
        isHost(text.substr(later + 1, std::min(text.find_first_of("/?#", later + 1), end) - later - 1)) &&
        text.substr(start, later - start).find(':') != None) {
        return later;
    }
    if (at != None) {
        // The authority's own, unless no host follows it: then a password runs to the last "@".
        const auto last = text.substr(0, end).rfind('@');
        return hostFollows || last < stop ? start + at : last;
    }
    if (colon == None || hostAndPort) {
        return None;
    }
    const auto last = text.substr(0, end).rfind('@');
    return last == None || last < stop ? None : last;
}

std::vector<Secret> secretsOf(std::string_view text) {
    std::vector<Secret> secrets;
    for (auto scheme = text.find("://"); scheme != std::string_view::npos;
         scheme = text.find("://", scheme + 3)) {
        const std::size_t start = scheme + 3;
        if (const auto at = userInfoEnd(text, start); at != std::string_view::npos) {
            const bool password = text.substr(start, at - start).find(':') != std::string_view::npos;
            secrets.push_back({start, at, password});
        }
    }
    // key=value, the key made of letters, digits, "_", "-" and "."; the value
    // runs to the next parameter, past a "#" or "'" typed in a password.
    for (auto equals = text.find('='); equals != std::string_view::npos;
         equals = text.find('=', equals + 1)) {
        std::size_t key = equals;
        while (key > 0 && keyCharacter(text[key - 1])) {
            --key;
        }
        if (key == equals || !namesSecret(text.substr(key, equals - key))) {
            continue;
        }
        const std::size_t end = std::min(text.find_first_of("&;\"<> \t\r\n", equals + 1), text.size());
        if (end > equals + 1) {
            secrets.push_back({equals + 1, end, true});
        }
    }
    std::sort(secrets.begin(), secrets.end(),
              [](const Secret& a, const Secret& b) { return a.begin < b.begin; });
    return secrets;
}

// What the user info must not hold raw, each with the advice to escape it.
std::string reservedIn(std::string_view info) {
    const auto colon = info.find(':');
    std::string advice;
    for (const std::string_view escaped : {"#%23", "?%3F", "/%2F"}) {
        const auto at = info.find(escaped.front());
        if (at == std::string_view::npos) {
            continue;
        }
        advice += std::string(advice.empty() ? "write " : "; write ") + escaped.front() + " in the " +
                  (colon != std::string_view::npos && at > colon ? "password" : "user name") + " as " +
                  std::string(escaped.substr(1));
        if (escaped.front() == '?') {
            advice += " (or an @ in the query as %40)";  // "cam:8080?mail=me@example.com" reads alike
        }
    }
    return advice;
}

int hexValue(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
}

// Why a URI without user info cannot be handed to a library, or nothing:
// RFC 3986's scheme://authority/path?query#fragment, with a host (and port)
// a camera can have, and every "%" escaping a byte. Our own words, never the
// text: a problem is shown, and what a parser quotes may be a secret.
std::optional<std::string> uriProblem(std::string_view uri) {
    const auto scheme = uri.find("://");
    if (scheme == 0 || scheme == std::string_view::npos ||
        std::isalpha(static_cast<unsigned char>(uri.front())) == 0 ||
        !std::all_of(uri.begin(), uri.begin() + static_cast<std::ptrdiff_t>(scheme), [](char c) {
            return std::isalnum(static_cast<unsigned char>(c)) != 0 || c == '+' || c == '-' || c == '.';
        })) {
        return "it has no scheme:// or a malformed one";
    }
    const std::size_t start = scheme + 3;
    const std::size_t stop = std::min(uri.find_first_of("/?#", start), uri.size());
    const std::string_view authority = uri.substr(start, stop - start);
    const std::string_view name = uri.substr(0, scheme);
    const bool file = AsciiLower(name) == "file";
    if (!(authority.empty() && file) && !isHost(authority)) {
        const auto close = authority.rfind(']');
        const auto colon = authority.rfind(':');
        const bool portPart =
            colon != std::string_view::npos && (close == std::string_view::npos || colon > close);
        if (portPart && isHost(authority.substr(0, colon))) {
            return "its port is not a number from 1 to 65535";
        }
        return "its host is malformed";
    }
    if (const auto colon = authority.rfind(':');
        colon != std::string_view::npos && authority.find(']', colon) == std::string_view::npos) {
        const long port = std::strtol(std::string(authority.substr(colon + 1)).c_str(), nullptr, 10);
        if (port < 1 || port > 65535) {
            return "its port is not a number from 1 to 65535";
        }
    }
    const std::size_t query = std::min(uri.find('?', stop), uri.size());
    const std::size_t fragment = std::min(uri.find('#', stop), uri.size());
    for (std::size_t i = stop; i < uri.size(); ++i) {
        const auto c = static_cast<unsigned char>(uri[i]);
        const bool badEscape = c == '%' && (i + 2 >= uri.size() || !isHex(uri[i + 1]) || !isHex(uri[i + 2]));
        if (badEscape || c < 0x20 || c == 0x7f) {
            return i > fragment ? "its fragment is malformed"
                   : i > query  ? "its query is malformed"
                                : "its path is malformed";
        }
    }
    return std::nullopt;
}

#ifdef _WIN32
// A file under %APPDATA% is the user's alone: the profile's folders grant no one else.
bool readableByOthers(const std::string& /*file*/) {
    return false;
}

std::ifstream openFile(const std::string& file) {
    return std::ifstream(std::filesystem::path(Widen(file)), std::ios::binary);
}
#else
bool readableByOthers(const std::string& file) {
    struct stat status {};
    return stat(file.c_str(), &status) == 0 && (status.st_mode & (S_IRGRP | S_IROTH)) != 0;
}

bool exists(const std::string& file) {
    struct stat status {};
    return stat(file.c_str(), &status) == 0;
}

std::ifstream openFile(const std::string& file) {
    return std::ifstream(file, std::ios::binary);
}
#endif

}  // namespace

Sources ParseSources(std::string_view text, const std::string& file) {
    Sources sources;
    sources.file = file;
    // Notepad and others may begin a UTF-8 file with a byte order mark.
    if (text.substr(0, 3) == "\xEF\xBB\xBF") {
        text.remove_prefix(3);
    }
    int number = 0;
    while (!text.empty()) {
        const auto end = text.find('\n');
        const std::string_view raw = text.substr(0, end);
        text = end == std::string_view::npos ? std::string_view{} : text.substr(end + 1);
        ++number;
        const std::string_view line = trim(raw);
        if (line.empty() || line.front() == '#') {
            continue;
        }
        const auto problem = [&](const std::string& what) {
            sources.problems.push_back(file + ":" + std::to_string(number) + ": " + what);
        };
        const auto equals = line.find('=');
        if (equals == std::string_view::npos) {
            problem("expected \"CameraN = URI\"");
            continue;
        }
        const std::string_view name = trim(line.substr(0, equals));
        const std::string_view uri = trim(line.substr(equals + 1));
        if (name.size() != 7 || name.substr(0, 6) != "Camera" || name[6] < '1' || name[6] > '4') {
            problem("\"" + MaskSecrets(name).substr(0, 40) + "\" is not Camera1 ... Camera4");
            continue;
        }
        if (uri.empty() || uri.find("://") == std::string_view::npos ||
            uri.find_first_of(" \t") != std::string_view::npos) {
            problem("Camera" + std::string(1, name[6]) + " has no URI (scheme://...)");
            continue;
        }
        sources.uris[static_cast<std::size_t>(name[6] - '1')] = std::string(uri);
    }
    return sources;
}

#ifdef _WIN32
std::string UserSourcesFile() {
    // The process's environment, not the C library's copy of it, which a
    // DLL with a C library of its own may not share.
    std::wstring appData(MAX_PATH, L'\0');
    DWORD length = GetEnvironmentVariableW(L"APPDATA", appData.data(), static_cast<DWORD>(appData.size()));
    if (length >= appData.size()) {
        appData.resize(length);
        length = GetEnvironmentVariableW(L"APPDATA", appData.data(), static_cast<DWORD>(appData.size()));
    }
    if (length == 0 || length >= appData.size()) {
        return {};
    }
    appData.resize(length);
    return Utf8(appData) + "\\quadview\\sources";
}

std::string SourcesFilePath() {
    // No system-wide file: each Windows user keeps their own cameras.
    return UserSourcesFile();
}
#else
std::string UserSourcesFile() {
    if (const char* const config = std::getenv("XDG_CONFIG_HOME"); config != nullptr && config[0] == '/') {
        return std::string(config) + "/quadview/sources";
    }
    if (const char* const home = std::getenv("HOME"); home != nullptr && home[0] != '\0') {
        return std::string(home) + "/.config/quadview/sources";
    }
    return {};
}

std::string SourcesFilePath() {
    std::string user = UserSourcesFile();
    if (!user.empty() && exists(user)) {
        return user;
    }
    return "/etc/quadview/sources";
}
#endif

Sources LoadSources(const char* library) {
    const std::string file = SourcesFilePath();
    std::ifstream in = openFile(file);
    if (file.empty() || !in) {
        return Sources{};
    }
    std::ostringstream text;
    text << in.rdbuf();
    Sources sources = ParseSources(text.str(), file);
    for (const std::string& problem : sources.problems) {
        std::fprintf(stderr, "quadview %s: %s (line ignored)\n", library, problem.c_str());
    }
    bool password = false;
    for (const auto& uri : sources.uris) {
        password = password || (uri && HasPassword(*uri));
    }
    if (password && readableByOthers(file)) {
        std::fprintf(stderr, "quadview %s: %s holds a password and others may read it (chmod 600 %s)\n",
                     library, file.c_str(), file.c_str());
    }
    return sources;
}

std::string MaskSecrets(std::string_view text) {
    std::string masked;
    masked.reserve(text.size());
    std::size_t done = 0;
    for (const Secret& secret : secretsOf(text)) {
        if (secret.end <= done) {
            continue;  // inside one already masked
        }
        masked.append(text.substr(done, std::max(secret.begin, done) - done));
        if (secret.begin >= done) {
            masked.append("***");
        }
        done = secret.end;
    }
    masked.append(text.substr(std::min(done, text.size())));
    return masked;
}

bool HasPassword(std::string_view text) {
    const std::vector<Secret> secrets = secretsOf(text);
    return std::any_of(secrets.begin(), secrets.end(), [](const Secret& secret) { return secret.password; });
}

std::string MaskPassword(std::string_view text, std::string_view password) {
    if (password.size() < MinimumMaskedPassword) {
        return std::string(text);
    }
    const auto alnum = [](char c) { return std::isalnum(static_cast<unsigned char>(c)) != 0; };
    std::string masked;
    std::size_t done = 0;
    for (auto at = text.find(password); at != std::string_view::npos; at = text.find(password, at + 1)) {
        const std::size_t after = at + password.size();
        if (at < done || (at > 0 && alnum(text[at - 1])) || (after < text.size() && alnum(text[after]))) {
            continue;
        }
        masked.append(text.substr(done, at - done)).append("***");
        done = after;
    }
    return masked.append(text.substr(done));
}

SourceUri ParseSourceUri(const std::string& text) {
    SourceUri source;
    source.shown = MaskSecrets(text);
    const auto refused = [&source](std::string problem) {
        source.problem = std::move(problem);
        return source;
    };
    // The user info as the masking reads it, taken apart here: RFC 3986 would
    // end it at the first "@", leaving the rest of a password in the host.
    std::string user;
    std::string password;
    std::string rest = text;
    if (const auto scheme = text.find("://"); scheme != std::string::npos) {
        const std::size_t start = scheme + 3;
        if (const auto at = userInfoEnd(text, start); at != std::string::npos) {
            const std::string_view info = std::string_view(text).substr(start, at - start);
            if (std::string advice = reservedIn(info); !advice.empty()) {
                return refused(std::move(advice));
            }
            const auto colon = info.find(':');
            user = PercentDecoded(info.substr(0, colon));
            password = colon == std::string_view::npos ? "" : PercentDecoded(info.substr(colon + 1));
            rest = text.substr(0, start) + text.substr(at + 1);
        }
    }
    const std::vector<Secret> secrets = secretsOf(rest);
    if (std::any_of(secrets.begin(), secrets.end(),
                    [&](const Secret& secret) { return rest.find('#', secret.begin) < secret.end; })) {
        // The camera would get the password up to the "#" alone.
        return refused("write # in the password as %23");
    }
    if ((user + password).find('\0') != std::string::npos) {
        return refused("the user name or password holds %00, which no camera takes");
    }
    if (std::optional<std::string> problem = uriProblem(rest)) {
        return refused(std::move(*problem));
    }
    // The scheme as libraries compare it.
    const auto scheme = rest.find("://");
    source.uri = AsciiLower(std::string_view(rest).substr(0, scheme)) + rest.substr(scheme);
    source.user = std::move(user);
    source.password = std::move(password);
    return source;
}

std::string AsciiLower(std::string_view text) {
    std::string lower(text);
    for (char& c : lower) {
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c - 'A' + 'a');
        }
    }
    return lower;
}

std::string PercentDecoded(std::string_view text) {
    std::string plain;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 2 < text.size() && hexValue(text[i + 1]) >= 0 &&
            hexValue(text[i + 2]) >= 0) {
            plain.push_back(static_cast<char>(hexValue(text[i + 1]) * 16 + hexValue(text[i + 2])));
            i += 2;
        } else {
            plain.push_back(text[i]);
        }
    }
    return plain;
}

}  // namespace kesmacap

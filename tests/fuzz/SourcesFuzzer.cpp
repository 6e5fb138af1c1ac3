// The GStreamer library's settings file as anyone may write it: any bytes,
// any line, through the parser and the masking of what it would show; and a
// secret planted in any text in every form a camera URL has it, holding the
// characters URIs reserve, none of whose bytes may survive the masking.
#include <array>
#include <string>
#include <string_view>

#include "kesmacap/sources/SourcesFile.h"

namespace {

bool holdsSecretBytes(std::string_view text) {
    for (const char c : text) {
        if ((static_cast<unsigned char>(c) & 0x80) != 0) {
            return true;
        }
    }
    return false;
}

// GLib quotes what it could not parse in "\u2018" and "\u2019", which are no secret.
std::string unquoted(std::string text) {
    for (const std::string_view quote : {"\xe2\x80\x98", "\xe2\x80\x99"}) {
        for (auto at = text.find(quote); at != std::string::npos; at = text.find(quote, at)) {
            text.erase(at, quote.size());
        }
    }
    return text;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const kesmacap::Sources sources = kesmacap::ParseSources(text, "sources");
    for (const auto& uri : sources.uris) {
        if (uri && kesmacap::ParseSourceUri(*uri).shown != kesmacap::MaskSecrets(*uri)) {
            __builtin_trap();
        }
    }
    if (size < 3) {
        return 0;
    }
    // The secret: bytes with the high bit set, which nothing else in the text
    // has, between characters people put in passwords that URIs reserve (in a
    // query's value, all but the "&" and ";" that would end it).
    const unsigned form = data[0];
    const bool userInfo = form % 6 == 0;
    const std::string_view reserved = userInfo ? ":/?#[]@!$&'()*+,;=%" : ":/?#[]@!$'()*+,=%";
    std::string before;
    std::string secret;
    std::string after;
    const std::size_t cut = 3 + data[1] % (size - 2);
    for (std::size_t i = 3; i < size; ++i) {
        if (i < cut) {
            before.push_back(static_cast<char>(data[i] & 0x7F));
        } else if (i < cut + 1 + data[2] % 16) {
            secret.push_back(data[i] % 4 == 0 ? reserved[data[i] / 4 % reserved.size()]
                                              : static_cast<char>(data[i] | 0x80));
        } else {
            after.push_back(static_cast<char>(data[i] & 0x7F));
        }
    }
    if (!holdsSecretBytes(secret)) {
        return 0;
    }
    static constexpr std::array<std::string_view, 13> Keys{
        "password", "pwd",     "passwd", "pass",     "token",  "key", "auth",
        "PassWord", "api_key", "x-auth", "loginpas", "userpw", "pw"};
    static constexpr std::string_view Separators = "?&/; ";
    const std::string planted = userInfo
                                    ? before + "rtsp://admin:" + secret + "@" + after
                                    : before + Separators[form % 5] +
                                          std::string(Keys[(form / 6) % Keys.size()]) + "=" + secret + after;
    if (holdsSecretBytes(kesmacap::MaskSecrets(planted)) || !kesmacap::HasPassword(planted)) {
        __builtin_trap();
    }
    const kesmacap::SourceUri source = kesmacap::ParseSourceUri(planted);
    if (holdsSecretBytes(source.shown) || holdsSecretBytes(unquoted(source.problem)) ||
        (userInfo && before.empty() && holdsSecretBytes(source.uri))) {
        __builtin_trap();
    }
    return 0;
}

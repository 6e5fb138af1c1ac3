// The GStreamer library's settings file as anyone may write it: any bytes,
// any line, through the parser and the masking of what it would show; and a
// secret planted in any text in every form a camera URL has it, none of whose
// bytes may survive the masking.
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
    // The secret: bytes with the high bit set, which nothing else in the text has.
    std::string before;
    std::string secret;
    std::string after;
    const std::size_t cut = 3 + data[1] % (size - 2);
    for (std::size_t i = 3; i < size; ++i) {
        const char c = static_cast<char>(data[i] | 0x80);
        if (i < cut) {
            before.push_back(static_cast<char>(data[i] & 0x7F));
        } else if (i < cut + 1 + data[2] % 16) {
            secret.push_back(c);
        } else {
            after.push_back(static_cast<char>(data[i] & 0x7F));
        }
    }
    if (secret.empty()) {
        return 0;
    }
    static constexpr std::array<std::string_view, 10> Keys{
        "password", "pwd", "passwd", "pass", "token", "key", "auth", "PassWord", "api_key", "x-auth"};
    static constexpr std::string_view Separators = "?&/; ";
    const unsigned form = data[0];
    const std::string planted = form % 6 == 0
                                    ? before + "rtsp://admin:" + secret + "@" + after
                                    : before + Separators[form % 5] +
                                          std::string(Keys[(form / 6) % Keys.size()]) + "=" + secret + after;
    if (holdsSecretBytes(kesmacap::MaskSecrets(planted)) || !kesmacap::HasPassword(planted)) {
        __builtin_trap();
    }
    const kesmacap::SourceUri source = kesmacap::ParseSourceUri(planted);
    if (holdsSecretBytes(source.shown) || holdsSecretBytes(source.problem) ||
        (form % 6 == 0 && planted.rfind("rtsp://", 0) == 0 && holdsSecretBytes(source.uri))) {
        __builtin_trap();
    }
    return 0;
}

#include "kesmacap/v4l2/V4l2Settings.h"

#include <glib.h>

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <sstream>

#include "kesmacap/v4l2/V4l2System.h"

namespace kesmacap {

namespace {

struct NamedStandard {
    std::string_view name;
    v4l2_std_id id;
};

// The kernel's own names (v4l2-ctl --list-standards), and the families.
constexpr std::array<NamedStandard, 27> Standards{{
    {"PAL", V4L2_STD_PAL},           {"PAL-B", V4L2_STD_PAL_B},         {"PAL-B1", V4L2_STD_PAL_B1},
    {"PAL-G", V4L2_STD_PAL_G},       {"PAL-BG", V4L2_STD_PAL_BG},       {"PAL-H", V4L2_STD_PAL_H},
    {"PAL-I", V4L2_STD_PAL_I},       {"PAL-D", V4L2_STD_PAL_D},         {"PAL-D1", V4L2_STD_PAL_D1},
    {"PAL-K", V4L2_STD_PAL_K},       {"PAL-DK", V4L2_STD_PAL_DK},       {"PAL-M", V4L2_STD_PAL_M},
    {"PAL-N", V4L2_STD_PAL_N},       {"PAL-Nc", V4L2_STD_PAL_Nc},       {"PAL-60", V4L2_STD_PAL_60},
    {"NTSC", V4L2_STD_NTSC},         {"NTSC-M", V4L2_STD_NTSC_M},       {"NTSC-M-JP", V4L2_STD_NTSC_M_JP},
    {"NTSC-443", V4L2_STD_NTSC_443}, {"NTSC-M-KR", V4L2_STD_NTSC_M_KR}, {"SECAM", V4L2_STD_SECAM},
    {"SECAM-B", V4L2_STD_SECAM_B},   {"SECAM-G", V4L2_STD_SECAM_G},     {"SECAM-D", V4L2_STD_SECAM_D},
    {"SECAM-K", V4L2_STD_SECAM_K},   {"SECAM-DK", V4L2_STD_SECAM_DK},   {"SECAM-L", V4L2_STD_SECAM_L},
}};

struct UriDeleter {
    void operator()(GUri* uri) const { g_uri_unref(uri); }
};
struct TableDeleter {
    void operator()(GHashTable* table) const { g_hash_table_unref(table); }
};

std::string parseParameter(V4l2Settings& settings, std::string_view key, const std::string& value) {
    if (key == "input") {
        char* end = nullptr;
        const unsigned long index = std::strtoul(value.c_str(), &end, 10);
        if (!value.empty() && *end == '\0' && value.front() != '-' && index < 256) {
            settings.input = static_cast<std::uint32_t>(index);
        } else if (!value.empty()) {
            settings.inputName = value;
        } else {
            return "input= wants a number or an input's name";
        }
    } else if (key == "standard") {
        if (SameLetters(value, "auto")) {
            settings.standard.reset();
        } else if (const auto standard = StandardNamed(value)) {
            settings.standard = standard;
        } else {
            return "standard=" + value + " is none of auto, PAL, NTSC, SECAM, PAL-M, PAL-N, NTSC-M-JP ...";
        }
        settings.standardName = value;
    } else if (key == "deinterlace") {
        if (SameLetters(value, "bob")) {
            settings.deinterlace = Deinterlace::Bob;
        } else if (SameLetters(value, "blend")) {
            settings.deinterlace = Deinterlace::Blend;
        } else if (SameLetters(value, "off")) {
            settings.deinterlace = Deinterlace::Off;
        } else {
            return "deinterlace=" + value + " is none of bob, blend, off";
        }
    } else {
        return "Unknown parameter \"" + std::string(key) + "\" (input, standard, deinterlace)";
    }
    return {};
}

}  // namespace

bool SameLetters(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return g_ascii_tolower(x) == g_ascii_tolower(y);
           });
}

std::optional<v4l2_std_id> StandardNamed(std::string_view name) {
    for (const NamedStandard& standard : Standards) {
        if (SameLetters(standard.name, name)) {
            return standard.id;
        }
    }
    return std::nullopt;
}

V4l2Uri ParseV4l2Uri(std::string_view text) {
    V4l2Uri parsed;
    if (!text.empty() && text.front() == '/') {
        parsed.settings.device = text;
        return parsed;
    }
    GError* error = nullptr;
    const std::unique_ptr<GUri, UriDeleter> uri(
        g_uri_parse(std::string(text).c_str(), G_URI_FLAGS_NONE, &error));
    if (!uri) {
        parsed.problem = MaskSecrets(error != nullptr ? error->message : "not a URI");
        g_clear_error(&error);
        return parsed;
    }
    if (!SameLetters(g_uri_get_scheme(uri.get()), "v4l2")) {
        parsed.problem = "Not a V4L2 device (v4l2:///dev/videoN): the GStreamer library plays this source";
        return parsed;
    }
    const char* const host = g_uri_get_host(uri.get());
    parsed.settings.device = g_uri_get_path(uri.get());
    if ((host != nullptr && *host != '\0') || parsed.settings.device.empty() ||
        parsed.settings.device.front() != '/') {
        parsed.problem = "No device path: v4l2:///dev/videoN has three slashes";
        return parsed;
    }
    const char* const query = g_uri_get_query(uri.get());
    if (query == nullptr) {
        return parsed;
    }
    const std::unique_ptr<GHashTable, TableDeleter> parameters(
        g_uri_parse_params(query, -1, "&;", G_URI_PARAMS_NONE, &error));
    if (!parameters) {
        parsed.problem = MaskSecrets(error != nullptr ? error->message : "a malformed query");
        g_clear_error(&error);
        return parsed;
    }
    GHashTableIter each;
    gpointer key = nullptr;
    gpointer value = nullptr;
    g_hash_table_iter_init(&each, parameters.get());
    while (parsed.problem.empty() && g_hash_table_iter_next(&each, &key, &value)) {
        parsed.problem =
            parseParameter(parsed.settings, static_cast<const char*>(key), static_cast<const char*>(value));
    }
    return parsed;
}

V4l2Channels PlanV4l2Channels(V4l2System& system, const char* variable, const Sources& sources) {
    V4l2Channels channels;
    const auto take = [&](std::size_t channel, const std::string& text) {
        V4l2Uri parsed = ParseV4l2Uri(text);
        channels[channel].shown = MaskSecrets(text);
        if (parsed.problem.empty()) {
            channels[channel].settings = std::move(parsed.settings);
        } else {
            channels[channel].problem = std::move(parsed.problem);
        }
    };
    if (variable != nullptr && *variable != '\0') {
        std::stringstream list(variable);
        std::string entry;
        for (std::size_t channel = 0; channel < channels.size() && std::getline(list, entry, ',');
             ++channel) {
            if (!entry.empty()) {
                take(channel, entry);
            }
        }
        return channels;
    }
    if (std::any_of(sources.uris.begin(), sources.uris.end(),
                    [](const auto& uri) { return uri.has_value(); })) {
        for (std::size_t channel = 0; channel < channels.size(); ++channel) {
            if (sources.uris[channel]) {
                take(channel, *sources.uris[channel]);
            } else {
                channels[channel].problem = "Not configured: add Camera" + std::to_string(channel + 1) +
                                            " = v4l2:///dev/videoN to " + sources.file;
            }
        }
        return channels;
    }
    const std::vector<std::string> nodes = ResolveV4l2Devices(system, nullptr);
    for (std::size_t channel = 0; channel < channels.size() && channel < nodes.size(); ++channel) {
        take(channel, nodes[channel]);
    }
    return channels;
}

}  // namespace kesmacap

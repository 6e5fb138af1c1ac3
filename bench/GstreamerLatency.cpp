// Latency of the viewer on the GStreamer library, from a picture's capture at
// an RTSP camera to its pixels on the X server: the camera (this program's own
// server, on loopback) writes the capture time into each picture, and this
// program reads Camera1's window back from the X server as fast as it can.
// Usage: gstreamer_latency VIEWER_FOLDER [seconds, default 10]
// (VIEWER_FOLDER holds quadview and the GStreamer libkesmacap.so; DISPLAY set.)
#include <spawn.h>
#include <sys/wait.h>
#include <xcb/xcb.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/RtspServer.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;
using testing_support::RtspServer;
constexpr int Block = RtspServer::ClockBlock;

struct Image {
    int width = 0;
    int height = 0;
    std::vector<std::uint32_t> pixels;  // 0x00RRGGBB
    int luma(int x, int y) const {
        if (x < 0 || y < 0 || x >= width || y >= height) {
            return -1;
        }
        const std::uint32_t p = pixels[static_cast<std::size_t>(y) * width + x];
        return static_cast<int>(((p >> 16) & 0xFF) + ((p >> 8) & 0xFF) + (p & 0xFF)) / 3;
    }
};

Image grab(xcb_connection_t* connection, xcb_window_t root, int x, int y, int width, int height) {
    Image image;
    xcb_get_image_reply_t* const reply = xcb_get_image_reply(
        connection,
        xcb_get_image(connection, XCB_IMAGE_FORMAT_Z_PIXMAP, root, static_cast<std::int16_t>(x),
                      static_cast<std::int16_t>(y), static_cast<std::uint16_t>(width),
                      static_cast<std::uint16_t>(height), ~0u),
        nullptr);
    if (reply != nullptr && xcb_get_image_data_length(reply) >= width * height * 4) {
        const auto* const data = reinterpret_cast<const std::uint32_t*>(xcb_get_image_data(reply));
        image = Image{width, height, std::vector<std::uint32_t>(data, data + width * height)};
    }
    std::free(reply);
    return image;
}

bool white(const Image& image, int x, int y) {
    return image.luma(x, y) > 160;
}
bool black(const Image& image, int x, int y) {
    const int level = image.luma(x, y);
    return level >= 0 && level < 90;
}

// The marker's top left: the first place where the checkerboard reads right
// with the picture's black below the two rows of bits (so not in a title bar).
std::optional<std::pair<int, int>> findMarker(const Image& image) {
    const auto blackBelow = [&](int x, int y) {
        for (int column = 0; column < RtspServer::ClockBlocksPerRow; ++column) {
            if (!black(image, x + column * Block + Block / 2, y + 2 * Block + Block / 2)) {
                return false;
            }
        }
        return true;
    };
    for (int y = 0; y + 3 * Block < image.height; ++y) {
        for (int x = 0; x + RtspServer::ClockBlocksPerRow * Block < image.width; ++x) {
            if (white(image, x + 4, y + 4) && black(image, x + 12, y + 4) && black(image, x + 4, y + 12) &&
                white(image, x + 12, y + 12) && blackBelow(x, y)) {
                return std::make_pair(x, y);
            }
        }
    }
    return std::nullopt;
}

std::optional<std::uint32_t> decode(const Image& image) {
    std::uint32_t value = 0;
    for (int bit = 0; bit < 32; ++bit) {
        const int slot = bit + 1;
        const int x = slot % RtspServer::ClockBlocksPerRow * Block + Block / 2;
        const int y = slot / RtspServer::ClockBlocksPerRow * Block + Block / 2;
        if (white(image, x, y)) {
            value |= 1u << (31 - bit);
        } else if (!black(image, x, y)) {
            return std::nullopt;  // a picture half drawn, or none
        }
    }
    return value;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: gstreamer_latency VIEWER_FOLDER [seconds]\n");
        return 2;
    }
    const fs::path viewer = fs::path(argv[1]) / "quadview";
    const int seconds = argc > 2 ? std::max(1, std::atoi(argv[2])) : 10;
    RtspServer server;
    const fs::path config = fs::temp_directory_path() / ("quadview-latency-" + std::to_string(getpid()));
    fs::create_directories(config / "quadview");
    std::ofstream(config / "quadview" / "sources") << "Camera1 = " << server.uri("/clock") << "\n";
    setenv("XDG_CONFIG_HOME", config.c_str(), 1);
    pid_t child = 0;
    char* const arguments[] = {const_cast<char*>(viewer.c_str()), nullptr};
    if (posix_spawn(&child, viewer.c_str(), nullptr, nullptr, arguments, environ) != 0) {
        std::fprintf(stderr, "cannot start %s\n", viewer.c_str());
        return 1;
    }
    if (std::system("timeout 20 xdotool search --sync --onlyvisible --name '^Form1$' windowfocus --sync key F1") != 0) {
        std::fprintf(stderr, "no Form1 to press F1 in\n");
        kill(child, SIGTERM);
        return 1;
    }

    xcb_connection_t* const connection = xcb_connect(nullptr, nullptr);
    const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(connection)).data->root;
    // Camera1 is tiled at the bottom right of Form1, which sits at its designed place.
    const int left = 239 + 725 / 2;
    const int top = 125 + 579 / 2;
    // The marker, once a time within 10 s of now reads beside it: the library's
    // own lettering (its "Connecting..." picture) can look like a marker too.
    const auto plausible = [&](const std::pair<int, int>& at) {
        const std::optional<std::uint32_t> shown =
            decode(grab(connection, root, left + at.first, top + at.second, RtspServer::ClockBlocksPerRow * Block,
                        2 * Block));
        return shown && std::abs(static_cast<std::int32_t>(RtspServer::ClockNow() - *shown)) < 10000;
    };
    std::optional<std::pair<int, int>> marker;
    for (int attempt = 0; attempt < 200 && !marker; ++attempt) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        if (const auto found = findMarker(grab(connection, root, left, top, 725 / 2, 579 / 2));
            found && plausible(*found)) {
            marker = found;
        }
    }
    if (!marker) {
        std::fprintf(stderr, "Camera1's clock never showed\n");
        kill(child, SIGTERM);
        return 1;
    }
    const int x = left + marker->first;
    const int y = top + marker->second;
    const int width = RtspServer::ClockBlocksPerRow * Block;
    std::vector<double> latencies;
    std::optional<std::uint32_t> previous;
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    while (std::chrono::steady_clock::now() < end) {
        const std::optional<std::uint32_t> shown = decode(grab(connection, root, x, y, width, 2 * Block));
        const std::uint32_t now = RtspServer::ClockNow();
        if (shown && shown != previous) {
            previous = shown;
            latencies.push_back(static_cast<double>(static_cast<std::int32_t>(now - *shown)));
        }
    }
    xcb_disconnect(connection);
    kill(child, SIGTERM);
    waitpid(child, nullptr, 0);
    fs::remove_all(config);
    if (latencies.size() < 10) {
        std::fprintf(stderr, "only %zu pictures read back\n", latencies.size());
        return 1;
    }
    std::sort(latencies.begin(), latencies.end());
    const auto at = [&](double share) {
        return latencies[static_cast<std::size_t>(share * (latencies.size() - 1))];
    };
    std::printf("capture to X server, %zu pictures: p50 %.0f ms, p99 %.0f ms (min %.0f, max %.0f)\n",
                latencies.size(), at(0.5), at(0.99), latencies.front(), latencies.back());
    return 0;
}

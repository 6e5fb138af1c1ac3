// What one camera window asks of a V4L2 device: which node, which of its
// inputs, which analogue standard, and what to do with interlaced fields.
#pragma once

#include <linux/videodev2.h>

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "kesmacap/sources/SourcesFile.h"

namespace kesmacap {

class V4l2System;

enum class Deinterlace : std::uint8_t {
    Bob,    // the earlier field of each frame, line-doubled: no combing, half the motion (the later dropped)
    Blend,  // both fields averaged: no combing, motion blurred
    Off,    // both fields woven into one frame, as the camera sent them
};

struct V4l2Settings {
    std::string device;  // as written: a /dev/v4l/by-id/... name survives replugging
    // The input by index (as v4l2-ctl --list-inputs numbers them) or by name;
    // neither: the one the driver has selected.
    std::optional<std::uint32_t> input;
    std::string inputName;
    // None: "auto", what the driver detects on the input (or its own when it cannot tell).
    std::optional<v4l2_std_id> standard;
    std::string standardName = "auto";
    Deinterlace deinterlace = Deinterlace::Bob;

    // The input's part of the settings, to tell apart windows sharing a node.
    bool sameInput(const V4l2Settings& other) const {
        return input == other.input && inputName == other.inputName;
    }
};

// Whether two names are the same but for the case of their ASCII letters.
bool SameLetters(std::string_view a, std::string_view b);

// The standard a name stands for ("PAL", "ntsc-m", "SECAM-L", "PAL-60" ...), case aside.
std::optional<v4l2_std_id> StandardNamed(std::string_view name);

// "v4l2:///dev/video0?input=2&standard=PAL&deinterlace=bob" (GStreamer's URI
// form, plus parameters) or a plain device path. Unknown parameters are an
// error, so a typing mistake is not silently ignored.
struct V4l2Uri {
    V4l2Settings settings;
    std::string problem;  // empty when the settings are good
};
V4l2Uri ParseV4l2Uri(std::string_view text);

// What each window shows and why.
struct V4l2Channel {
    std::optional<V4l2Settings> settings;  // none: nothing to capture
    std::string shown;                     // the source as the window's picture names it
    std::string problem;                   // why a configured window cannot capture
};
using V4l2Channels = std::array<V4l2Channel, SourceChannels>;

// Each window's device: `variable` (KESMACAP_V4L2_DEVICES: device paths or
// v4l2:// URIs, comma-separated) when set, else the sources file when it names
// any camera, else the capture nodes that deliver BGR24 (through libv4l2) in
// numeric order.
V4l2Channels PlanV4l2Channels(V4l2System& system, const char* variable, const Sources& sources);

}  // namespace kesmacap

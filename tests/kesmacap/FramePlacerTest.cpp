// Captured frames into a channel: which format a device is asked for, why it
// may refuse, and each YUV format placed in its colours, its fields taken in
// the standard's order. (V4l2SourceTest's devices send YUYV to the card.)
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <functional>

#include "kesmacap/card/Letterbox.h"
#include "kesmacap/v4l2/V4l2Device.h"

namespace kesmacap {
namespace {

constexpr std::uint32_t Yuyv = V4L2_PIX_FMT_YUYV;
constexpr std::uint32_t I420 = V4L2_PIX_FMT_YUV420;
constexpr std::uint32_t Nv12 = V4L2_PIX_FMT_NV12;

TEST(FramePlacer, TheDevicesOwnYuvIsAskedForElseBgrThroughLibv4l2) {
    const auto own = [](std::uint32_t format, std::uint32_t flags = 0) {
        v4l2_fmtdesc entry{};
        entry.pixelformat = format;
        entry.flags = flags;
        return entry;
    };
    const auto emulated = [&](std::uint32_t format) { return own(format, V4L2_FMT_FLAG_EMULATED); };
    const std::pair<std::vector<v4l2_fmtdesc>, std::uint32_t> rows[] = {
        {{}, V4L2_PIX_FMT_BGR24},
        {{own(Yuyv), emulated(V4L2_PIX_FMT_BGR24)}, Yuyv},
        {{own(V4L2_PIX_FMT_MJPEG), emulated(I420), emulated(V4L2_PIX_FMT_BGR24)}, V4L2_PIX_FMT_BGR24},
        {{own(Nv12), own(V4L2_PIX_FMT_UYVY)}, V4L2_PIX_FMT_UYVY},
        {{own(V4L2_PIX_FMT_BGR24), own(Nv12), own(V4L2_PIX_FMT_YVU420)}, V4L2_PIX_FMT_YVU420},
        {{own(V4L2_PIX_FMT_H264)}, V4L2_PIX_FMT_BGR24},
    };
    for (const auto& [offered, asked] : rows) {
        EXPECT_EQ(ChooseCaptureFormat(offered), asked) << offered.size();
    }
}

TEST(FramePlacer, AFormatRefusalLastsOnlyWhenTheDeviceCannotSendOneShown) {
    const std::tuple<int, bool, const char*> rows[] = {
        {EBUSY, false, "in use by another program"},
        {ENODEV, false, "unplugged"},
        {EIO, false, "failed: "},
        {EPIPE, false, "failed: "},
        {EINVAL, true, "It sends only H.264, MPEG,"},
    };
    for (const auto& [error, lasting, says] : rows) {
        const DeviceProblem problem = FormatProblem(error, "H.264, MPEG");
        EXPECT_EQ(problem.lasting, lasting) << error;
        EXPECT_NE(problem.reason.find(says), std::string::npos) << problem.reason;
    }
}

struct Yuv {
    std::uint8_t y, u, v;
};
using Bgr = std::array<int, 3>;

// A frame (even sizes) whose row r is colour(r); a 4:2:0 chroma row r takes
// colour(r * chromaStep): 1 alternates fields as luma rows do, 2 halves them.
CapturedFrame yuvFrame(std::vector<std::uint8_t>& frame, std::uint32_t format, int width, int height,
                       const std::function<Yuv(int)>& colour, int chromaStep = 1) {
    const bool packed = format == Yuyv || format == V4L2_PIX_FMT_UYVY;
    const auto line = static_cast<std::size_t>(width) * (packed ? 2 : 1);
    const std::size_t luma = line * height;
    frame.assign(packed ? luma : luma * 3 / 2, 0);
    for (int row = 0; row < height; ++row) {
        const Yuv c = colour(row);
        const Yuv k = colour(row * chromaStep);
        for (int x = 0; x < width; ++x) {
            std::uint8_t* const at = &frame[line * row + x * (packed ? 2 : 1)];
            const std::uint8_t chroma = x % 2 == 0 ? c.u : c.v;
            at[0] = format == V4L2_PIX_FMT_UYVY ? chroma : c.y;
            at[packed ? 1 : 0] = format == Yuyv ? chroma : c.y;
            if (!packed && row < height / 2 && x < width / 2) {
                const bool swapped = format == V4L2_PIX_FMT_YVU420;
                const std::size_t half = static_cast<std::size_t>(row) * width / 2 + x;
                frame[luma + (format == Nv12 ? row * line + x * 2 : half)] = swapped ? k.v : k.u;
                frame[luma + (format == Nv12 ? row * line + x * 2 + 1 : luma / 4 + half)] =
                    swapped ? k.u : k.v;
            }
        }
    }
    return {frame.data(), frame.size(), width, height, line, V4L2_FIELD_NONE, false, format};
}

Bgr at(const std::uint8_t* shown, int x, int y, int width = MaxWidth) {
    const std::uint8_t* const pixel = shown + (static_cast<std::size_t>(y) * width + x) * 3;
    return {pixel[0], pixel[1], pixel[2]};
}

testing::AssertionResult near(const Bgr& actual, const Bgr& expected) {
    const bool near = std::equal(actual.begin(), actual.end(), expected.begin(),
                                 [](int a, int b) { return std::abs(a - b) <= 4; });
    return (near ? testing::AssertionSuccess() : testing::AssertionFailure())
           << testing::PrintToString(actual);
}

constexpr Yuv Red601{81, 90, 240};
constexpr Yuv Blue601{41, 240, 110};
constexpr Yuv Red709{63, 102, 240};
constexpr Bgr Red{0, 0, 255};
constexpr Bgr Blue{255, 0, 0};
constexpr Bgr Purple{127, 0, 127};  // red and blue blended

// Each format in the matrix V4L2 gives it; letterboxed when scaled to its
// aspect, shown as it is when it fits; a short buffer or unknown format is not placed.
TEST(FramePlacer, YuvFormatsShowTheirColoursInTheirMatrixAndPlace) {
    const std::tuple<std::uint32_t, int, int, std::uint32_t, Yuv, Bgr> rows[] = {
        {Yuyv, 640, 480, 0, Red601, Red},
        {V4L2_PIX_FMT_UYVY, 320, 240, 0, Blue601, Blue},
        {I420, 800, 600, 0, {145, 54, 34}, {0, 255, 0}},
        {V4L2_PIX_FMT_YVU420, 640, 480, 0, Red601, Red},
        {Nv12, 720, 576, 0, Blue601, Blue},
        {Nv12, 1280, 720, 0, Red709, Red},  // high definition: Rec. 709
        {Yuyv, 1920, 1080, V4L2_COLORSPACE_SMPTE170M, Red601, Red},
        {Yuyv, 640, 480, V4L2_COLORSPACE_REC709, Red709, Red},
        {I420, 640, 480, V4L2_COLORSPACE_JPEG, {235, 128, 128}, {235, 235, 235}},  // full range
    };
    FramePlacer placer;
    std::vector<std::uint8_t> pixels;
    std::vector<std::uint8_t> shown(MaxFrameBytes);
    for (const auto& [format, width, height, colorspace, colour, bgr] : rows) {
        SCOPED_TRACE(std::to_string(width) + " x " + std::to_string(height));
        CapturedFrame frame = yuvFrame(pixels, format, width, height, [&](int) { return colour; });
        frame.colorspace = colorspace;
        const PlacedSize placed = placer.place(frame, Deinterlace::Bob, shown.data());
        const bool fits = width <= MaxWidth;
        ASSERT_EQ(placed.width, fits ? width : MaxWidth);
        ASSERT_EQ(placed.height, fits ? height : MaxHeight);
        EXPECT_TRUE(near(at(shown.data(), placed.width / 2, placed.height / 2, placed.width), bgr));
        const bool boxed = !fits && FitInFrame(width, height) != FrameRect{0, 0, MaxWidth, MaxHeight};
        EXPECT_TRUE(
            near(at(shown.data(), placed.width - 1, placed.height - 1, placed.width), boxed ? Bgr{} : bgr));
        frame.bytes -= 1;
        EXPECT_EQ(placer.place(frame, Deinterlace::Bob, shown.data()).width, 0) << "a short buffer";
    }
    CapturedFrame mjpeg = yuvFrame(pixels, Yuyv, 64, 64, [](int) { return Red601; });
    mjpeg.pixelFormat = V4L2_PIX_FMT_MJPEG;
    EXPECT_EQ(placer.place(mjpeg, Deinterlace::Bob, shown.data()).width, 0);
}

// Top field red, bottom field blue. Bob shows the earlier one, as the standard
// says: PAL at 480 lines (bttv, saa7134 and cx88 send it so) is top first too.
TEST(FramePlacer, YuvFieldsAreBobbedBlendedOrWovenInTheStandardsOrder) {
    const auto interleaved = [](int row) { return row % 2 == 0 ? Red601 : Blue601; };
    const auto halves = [](int row) { return row < 240 ? Red601 : Blue601; };
    const std::tuple<std::uint32_t, std::uint32_t, v4l2_std_id, Deinterlace, Bgr, Bgr> rows[] = {
        // format, field, standard, deinterlace, rows 0 and 1 shown
        {Yuyv, V4L2_FIELD_INTERLACED, V4L2_STD_PAL, Deinterlace::Bob, Red, Red},
        {Yuyv, V4L2_FIELD_INTERLACED, V4L2_STD_NTSC, Deinterlace::Bob, Blue, Blue},
        {Yuyv, V4L2_FIELD_INTERLACED, 0, Deinterlace::Bob, Blue, Blue},  // none: 480 lines are NTSC's
        {Yuyv, V4L2_FIELD_INTERLACED, V4L2_STD_PAL, Deinterlace::Blend, Purple, Purple},
        {Yuyv, V4L2_FIELD_INTERLACED, V4L2_STD_NTSC, Deinterlace::Off, Red, Blue},
        {V4L2_PIX_FMT_UYVY, V4L2_FIELD_INTERLACED_BT, V4L2_STD_PAL, Deinterlace::Bob, Blue, Blue},
        {I420, V4L2_FIELD_INTERLACED, V4L2_STD_PAL_M, Deinterlace::Bob, Red,
         Red},  // 525 lines, yet top first
        {Nv12, V4L2_FIELD_INTERLACED_TB, 0, Deinterlace::Blend, Purple, Purple},
        {Yuyv, V4L2_FIELD_SEQ_BT, 0, Deinterlace::Bob, Red, Red},
        {Yuyv, V4L2_FIELD_SEQ_TB, 0, Deinterlace::Off, Red, Blue},
        {I420, V4L2_FIELD_SEQ_BT, 0, Deinterlace::Bob, Red, Red},
    };
    FramePlacer placer;
    std::vector<std::uint8_t> pixels;
    std::vector<std::uint8_t> shown(MaxFrameBytes);
    for (const auto& [format, field, standard, deinterlace, first, second] : rows) {
        const bool sequential = field == V4L2_FIELD_SEQ_TB || field == V4L2_FIELD_SEQ_BT;
        CapturedFrame frame =
            yuvFrame(pixels, format, 720, 480, sequential ? halves : interleaved, sequential ? 2 : 1);
        frame.field = field;
        frame.standard = standard;
        frame.fourByThree = true;
        ASSERT_EQ(placer.place(frame, deinterlace, shown.data()).height, MaxHeight);
        EXPECT_TRUE(near(at(shown.data(), 320, 0), first)) << field << " " << standard;
        EXPECT_TRUE(near(at(shown.data(), 320, 1), second)) << field << " " << standard;
    }
    // A field alone (ALTERNATE too: the format's height is the field's) is the
    // whole buffer, line-doubled: red above, blue below.
    for (const std::uint32_t alone : {V4L2_FIELD_ALTERNATE, V4L2_FIELD_BOTTOM}) {
        CapturedFrame frame =
            yuvFrame(pixels, Yuyv, 720, 240, [](int row) { return row < 120 ? Red601 : Blue601; });
        frame.field = alone;
        frame.fourByThree = true;
        EXPECT_EQ(placer.place(frame, Deinterlace::Off, shown.data()).height, MaxHeight);
        EXPECT_TRUE(near(at(shown.data(), 320, 0), Red)) << alone;
        EXPECT_TRUE(near(at(shown.data(), 320, 479), Blue)) << alone;
    }
}

}  // namespace
}  // namespace kesmacap

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <filesystem>
#include <fstream>

#include "abi/kesmacap.h"
#include "kesmacap/card/Card.h"
#include "kesmacap/pictures/Lettering.h"
#include "kesmacap/pictures/PictureWriter.h"
#include "kesmacap/sim/SimulatedSource.h"
#include "kesmacap/sim/TestPattern.h"
#include "tests/support/CardFrame.h"
#include "tests/support/ImageFiles.h"
#include "tests/support/ScratchFolder.h"
#include "tests/support/TestPlatform.h"

namespace kesmacap {
namespace {

namespace fs = std::filesystem;
using testing_support::MeanDifference;

using TempFolder = testing_support::ScratchFolder;

TEST(PictureNames, ChannelNumberGoesBeforeTheExtension) {
    EXPECT_EQ(ChannelPicturePath("photo.bmp", 0, KESMACAP_FORMAT_BMP), "photo-1.bmp");
    EXPECT_EQ(ChannelPicturePath("/a/b/photo.bmp.bmp", 3, KESMACAP_FORMAT_BMP), "/a/b/photo.bmp-4.bmp");
    EXPECT_EQ(ChannelPicturePath("photo.png", 1, KESMACAP_FORMAT_JPEG), "photo-2.png") << "the name is kept";
    EXPECT_EQ(ChannelPicturePath("photo", 1, KESMACAP_FORMAT_JPEG), "photo-2.jpg");
    EXPECT_EQ(ChannelPicturePath("photo", 2, KESMACAP_FORMAT_PNG), "photo-3.png");
    EXPECT_EQ(ChannelPicturePath("/a.d/photo", 0, KESMACAP_FORMAT_BMP), "/a.d/photo-1.bmp")
        << "a dot in a folder name is no extension";
    EXPECT_EQ(ChannelPicturePath("/tmp/.bmp", 0, KESMACAP_FORMAT_BMP), "/tmp/.bmp-1.bmp")
        << "a leading dot names a hidden file";
}

class Saves : public ::testing::Test {
  protected:
    Saves() : card_([](Channels& channels) { return std::make_unique<SimulatedSource>(channels, 30); }) {
        for (std::uint16_t channel = 0; channel < 4; ++channel) {
            card_.OpenChannel(channel);
        }
    }
    // The still picture of a channel that was never started: the same at every call.
    std::vector<std::uint8_t> pictureOf(std::uint16_t channel) {
        const auto frame = testing_support::FrameOf(card_, channel);
        return {frame.pixels, frame.pixels + static_cast<std::size_t>(frame.width) * frame.height * 3};
    }
    Card card_;
    TempFolder folder_;
};

TEST_F(Saves, JpegQualityIsTheValueClampedToItsRange) {
    if (testing_support::RunningUnderWine()) {
        GTEST_SKIP() << "Wine's WIC JPEG encoder encodes every quality alike";
    }
    const std::string low = (folder_ / "low").string();
    const std::string high = (folder_ / "high").string();
    const std::string clamped = (folder_ / "clamped").string();
    ASSERT_EQ(card_.SaveChannelPicture(0, low.c_str(), KESMACAP_FORMAT_JPEG, 5), 0);
    ASSERT_EQ(card_.SaveChannelPicture(0, high.c_str(), KESMACAP_FORMAT_JPEG, 100), 0);
    ASSERT_EQ(card_.SaveChannelPicture(0, clamped.c_str(), KESMACAP_FORMAT_JPEG, 5000), 0);
    EXPECT_LT(fs::file_size(low + "-1.jpg"), fs::file_size(high + "-1.jpg"));
    EXPECT_EQ(fs::file_size(clamped + "-1.jpg"), fs::file_size(high + "-1.jpg"));
}

TEST_F(Saves, FourChannelsUnderOnePathGiveFourDistinctFiles) {
    const std::string path = (folder_ / "photo.bmp").string();
    for (std::uint16_t channel = 0; channel < 4; ++channel) {
        ASSERT_EQ(card_.SaveChannelPicture(channel, path.c_str(), KESMACAP_FORMAT_BMP, 50), 0);
    }
    EXPECT_EQ(folder_.fileCount(), 4u);
    for (std::uint16_t channel = 0; channel < 4; ++channel) {
        const auto image =
            testing_support::ReadBmp((folder_ / ("photo-" + std::to_string(channel + 1) + ".bmp")).string());
        const std::vector<std::uint8_t> expected = pictureOf(channel);
        EXPECT_EQ(MeanDifference(image, expected.data(), 640, 480), 0.0) << "channel " << channel;
    }
}

TEST_F(Saves, UnknownFormatFailsWithEinvalAndWritesNothing) {
    const std::string path = (folder_ / "photo.gif").string();
    EXPECT_EQ(card_.SaveChannelPicture(0, path.c_str(), 3, 50), EINVAL);
    EXPECT_EQ(card_.SaveChannelPicture(0, "", KESMACAP_FORMAT_BMP, 50), EINVAL);
    EXPECT_EQ(folder_.fileCount(), 0u);
}

TEST_F(Saves, ReplacingAnExistingFileReplacesItWhole) {
    const fs::path target = folder_ / "photo-1.bmp";
    std::ofstream(target, std::ios::binary) << std::string(3'000'000, 'x');
    ASSERT_EQ(card_.SaveChannelPicture(0, (folder_ / "photo.bmp").string().c_str(), KESMACAP_FORMAT_BMP, 50),
              0);
    EXPECT_EQ(fs::file_size(target), 54u + 640u * 480u * 3u);
    EXPECT_TRUE(testing_support::ReadBmp(target.string()).valid());
    EXPECT_EQ(folder_.fileCount(), 1u) << "no temporary file left behind";
}

TEST_F(Saves, FailedWriteLeavesTheExistingFileAndNoTemporary) {
    const fs::path target = folder_ / "photo-1.png";
    std::ofstream(target, std::ios::binary) << "previous picture";
    // A folder where the file should be: the rename fails after the data was written.
    const fs::path blocked = folder_ / "blocked-1.png";
    fs::create_directory(blocked);
    EXPECT_NE(
        card_.SaveChannelPicture(0, (folder_ / "blocked.png").string().c_str(), KESMACAP_FORMAT_PNG, 50), 0);
    EXPECT_TRUE(fs::is_directory(blocked));
    EXPECT_EQ(testing_support::ReadAll(target.string()).size(), std::string("previous picture").size());
    EXPECT_EQ(folder_.fileCount(), 2u);
}

TEST(PictureEncoding, OddWidthsArePaddedInBmpAndKeptInPng) {
    Picture picture(5, 3);
    for (std::size_t i = 0; i < picture.pixels.size(); ++i) {
        picture.pixels[i] = static_cast<std::uint8_t>(i * 7);
    }
    TempFolder folder;
    ASSERT_EQ(SavePicture(picture.view(), (folder / "odd.bmp").string(), 0, KESMACAP_FORMAT_BMP, 0), 0);
    ASSERT_EQ(SavePicture(picture.view(), (folder / "odd.png").string(), 0, KESMACAP_FORMAT_PNG, 0), 0);
    const auto bmp = testing_support::ReadBmp((folder / "odd-1.bmp").string());
    EXPECT_EQ(fs::file_size(folder / "odd-1.bmp"), 54u + 16u * 3u);
    EXPECT_EQ(MeanDifference(bmp, picture.pixels.data(), 5, 3), 0.0);
    const auto png = testing_support::ReadPng((folder / "odd-1.png").string());
    EXPECT_EQ(MeanDifference(png, picture.pixels.data(), 5, 3), 0.0);
    std::vector<std::uint8_t> out;
    EXPECT_EQ(EncodeBmp(PictureView{}, out), EINVAL) << "no picture, no file";
}

TEST(TestPatternDrawing, TextAndRectanglesClipAtThePictureEdges) {
    Picture picture(16, 8);
    FillRect(picture.pixels.data(), 16, 8, -4, -4, 100, 100, 0x102030);
    EXPECT_EQ(picture.pixels[0], 0x30);
    EXPECT_EQ(picture.pixels[picture.pixels.size() - 1], 0x10);
    DrawText(picture.pixels.data(), 16, 8, 10, 4, 3, "CH1", 0xFFFFFF);
    DrawText(picture.pixels.data(), 16, 8, -30, -30, 3, "?~", 0xFFFFFF);
    EXPECT_EQ(picture.pixels.size(), 16u * 8u * 3u);
}

}  // namespace
}  // namespace kesmacap

namespace kesmacap {
namespace {

TEST(TestPatternDrawing, RedrawingOnlyWhatMovedGivesTheWholePicture) {
    const TestPattern pattern(2);
    const auto now = std::chrono::system_clock::now();
    const std::size_t bytes = std::size_t{MaxWidth} * MaxHeight * 3;
    for (const auto& [earlier, later] :
         {std::pair<std::uint64_t, std::uint64_t>{7, 8}, {3, 250}, {99'999'999, 100'000'003}}) {
        std::vector<std::uint8_t> reused(bytes);
        pattern.renderLive(reused.data(), earlier, now);
        pattern.renderLive(reused.data(), later, now, earlier);
        std::vector<std::uint8_t> whole(bytes);
        pattern.renderLive(whole.data(), later, now);
        EXPECT_EQ(reused, whole) << "frame " << later << " drawn over frame " << earlier;
    }
}

}  // namespace
}  // namespace kesmacap

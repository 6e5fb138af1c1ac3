#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

#include "save/SavePictures.h"
#include "tests/support/CardFrame.h"
#include "tests/support/FakeCard.h"
#include "tests/support/ImageFiles.h"
#include "tests/support/ScratchFolder.h"
#include "tests/support/TestPlatform.h"

namespace {

namespace fs = std::filesystem;
using testing_support::FakeCard;

class ScriptedDialog final : public SavePictureDialog {
  public:
    ScriptedDialog(bool confirm, std::string name, int index)
        : confirm_(confirm), name_(std::move(name)), index_(index) {}
    bool Execute() override {
        ++shown;
        return confirm_;
    }
    std::string FileName() const override { return name_; }
    int FilterIndex() const override { return index_; }
    int shown = 0;

  private:
    bool confirm_;
    std::string name_;
    int index_;
};

std::vector<FakeCard::Save> saveWith(FakeCard& card, const std::string& name, int index) {
    ScriptedDialog dialog(true, name, index);
    SavePictures(card.library(), dialog);
    return card.saves();
}

TEST(SavePictures, FirstTypeAppendsBmpWhateverTheNameEndsWith) {
    {
        FakeCard card;
        const auto saves = saveWith(card, "photo", 1);
        ASSERT_EQ(saves.size(), 4u);
        EXPECT_EQ(saves[0].path, "photo.bmp");
        EXPECT_EQ(saves[0].format, 0);
    }
    FakeCard card;
    EXPECT_EQ(saveWith(card, "photo.bmp", 1).at(0).path, "photo.bmp.bmp");
}

TEST(SavePictures, OtherTypesKeepTheNameAndPassIndexMinusOne) {
    for (const int index : {2, 3}) {
        FakeCard card;
        const auto saves = saveWith(card, "/tmp/photo.jpg", index);
        ASSERT_EQ(saves.size(), 4u);
        for (const auto& save : saves) {
            EXPECT_EQ(save.path, "/tmp/photo.jpg");
            EXPECT_EQ(save.format, index - 1);
            EXPECT_EQ(save.value, 50);
        }
    }
}

TEST(SavePictures, FourCallsInChannelOrderWithoutAnyLiveView) {
    FakeCard card;
    ScriptedDialog dialog(true, "/tmp/x", 3);
    const SaveOutcome outcome = SavePictures(card.library(), dialog);
    EXPECT_TRUE(outcome.attempted);
    EXPECT_TRUE(outcome.failures.empty());
    EXPECT_EQ(card.calls(), (std::vector<std::string>{"SaveChannelPicture 0", "SaveChannelPicture 1",
                                                      "SaveChannelPicture 2", "SaveChannelPicture 3"}));
}

TEST(SavePictures, CancelSavesNothing) {
    FakeCard card;
    ScriptedDialog dialog(false, "/tmp/previous", 1);
    const SaveOutcome outcome = SavePictures(card.library(), dialog);
    EXPECT_EQ(dialog.shown, 1);
    EXPECT_FALSE(outcome.attempted);
    EXPECT_TRUE(card.calls().empty());
}

TEST(SavePictures, AFailingChannelDoesNotStopTheOthersAndIsListed) {
    FakeCard card;
    card.setSaveResult(1, EACCES);
    card.setSaveResult(3, ENOSPC);
    ScriptedDialog dialog(true, "/tmp/photo", 3);
    const SaveOutcome outcome = SavePictures(card.library(), dialog);
    EXPECT_EQ(card.saves().size(), 4u);
    ASSERT_EQ(outcome.failures.size(), 2u);
    EXPECT_EQ(outcome.failures[0].channel, 1);
    EXPECT_EQ(outcome.failures[0].error, EACCES);
    EXPECT_EQ(outcome.failures[1].channel, 3);
    const std::string text = DescribeSaveFailures(outcome);
    EXPECT_NE(text.find("Camera2: " + std::string(std::strerror(EACCES))), std::string::npos) << text;
    EXPECT_NE(text.find("Camera4: " + std::string(std::strerror(ENOSPC))), std::string::npos) << text;
    EXPECT_EQ(text.find("Camera1"), std::string::npos) << text;
    EXPECT_EQ(text.find("Camera3"), std::string::npos) << text;
    EXPECT_NE(text.find("/tmp/photo"), std::string::npos) << text;
}

class RealCardSave : public ::testing::Test {
  protected:
    void SetUp() override {
        capture_ = std::make_unique<CaptureLibrary>(
            CaptureLibrary::loadFile(testing_support::LibraryFile("kesmacap")));
        for (ChannelIndex channel = 0; channel < ChannelCount; ++channel) {
            capture_->OpenChannel(channel);
        }
    }
    void TearDown() override {
        for (ChannelIndex channel = 0; channel < ChannelCount; ++channel) {
            capture_->CloseChannel(channel);
        }
    }
    std::vector<std::uint8_t> pictureOf(ChannelIndex channel) const {
        const auto frame = testing_support::FrameOf(*capture_, channel);
        return {frame.pixels, frame.pixels + static_cast<std::size_t>(frame.width) * frame.height * 3};
    }
    std::unique_ptr<CaptureLibrary> capture_;
    testing_support::ScratchFolder folder_{"quadview-save"};
};

TEST_F(RealCardSave, WritesFourPicturesThatDecodeInEveryType) {
    using Reader = testing_support::DecodedImage (*)(const std::string&);
    const std::vector<std::tuple<int, std::string, Reader, double>> types{
        {1, "shot", testing_support::ReadBmp, 0.0},
        {2, "shot.jpg", testing_support::ReadJpeg, 6.0},
        {3, "shot.png", testing_support::ReadPng, 0.0},
    };
    for (const auto& [index, name, read, tolerance] : types) {
        ScriptedDialog dialog(true, (folder_ / name).string(), index);
        const SaveOutcome outcome = SavePictures(*capture_, dialog);
        EXPECT_TRUE(outcome.failures.empty());
        const std::string extension = index == 1 ? ".bmp" : fs::path(name).extension().string();
        const std::string stem = fs::path(name).stem().string();
        for (ChannelIndex channel = 0; channel < ChannelCount; ++channel) {
            const fs::path file = folder_ / (stem + "-" + std::to_string(channel + 1) + extension);
            const auto image = read(file.string());
            ASSERT_TRUE(image.valid()) << file;
            const auto expected = pictureOf(channel);
            EXPECT_LE(testing_support::MeanDifference(image, expected.data(), 640, 480), tolerance) << file;
        }
    }
}

TEST_F(RealCardSave, MissingFolderWritesNothingAndReportsEveryChannel) {
    ScriptedDialog dialog(true, (folder_ / "missing" / "photo").string(), 3);
    const SaveOutcome outcome = SavePictures(*capture_, dialog);
    ASSERT_EQ(outcome.failures.size(), 4u);
    for (const SaveFailure& failure : outcome.failures) {
        EXPECT_EQ(failure.error, ENOENT);
    }
    EXPECT_EQ(folder_.fileCount(), 0u);
}

}  // namespace

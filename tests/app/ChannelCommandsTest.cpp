// What both shells do on each command, through a fake of the little each
// shell does its own way: so the Win32 shell's logic runs on Linux too.
#include <gtest/gtest.h>

#include <cerrno>
#include <stdexcept>

#include "app/ChannelCommands.h"
#include "app/Startup.h"
#include "tests/support/FakeCard.h"
#include "tests/support/TestCameras.h"

namespace {

using testing_support::EachChannel;
using testing_support::FakeCard;

// What the shell was asked to do, each with how many library calls came before it.
struct ShellStep {
    std::string step;
    std::size_t afterCalls;
    bool operator==(const ShellStep&) const = default;
};

class FakeShell final : public ShellWindows {
  public:
    FakeShell(const FakeCard& card, CameraWindows windows) : card_(card), windows_(windows) {}
    CameraWindows cameraWindows() const override { return windows_; }
    void tileCameras() override { note("tile"); }
    void cascadeCameras() override { note("cascade"); }
    void restoreCameras() override { note("restore"); }
    void closeFrame() override { note("close"); }
    void showWarning(const std::string& title, const std::string& message) override {
        note("warning " + title + ": " + message);
    }

    std::vector<ShellStep> steps;

  private:
    void note(const std::string& step) { steps.push_back({step, card_.calls().size()}); }
    const FakeCard& card_;
    CameraWindows windows_;
};

// A save dialog answering as the user would; on Windows the name the library
// gets (ANSI) and the one shown (UTF-8) differ.
class FakeDialog final : public SavePictureDialog {
  public:
    bool Execute() override { return confirm; }
    std::string FileName() const override { return name; }
    std::string ShownFileName() const override { return shown; }
    int FilterIndex() const override { return filterIndex; }

    bool confirm = true;
    std::string name = "C:\\fotos\\caf\xe9";
    std::string shown = "C:\\fotos\\café";
    int filterIndex = 1;
};

class ChannelCommandsTest : public ::testing::Test {
  protected:
    FakeCard card;
    CaptureLibrary capture = card.library();
    testing_support::TestCameras cameras;
    FakeShell shell{card, cameras.handles()};
    ChannelCommands commands{capture, shell};
};

TEST_F(ChannelCommandsTest, CreateOpensInOrderAndShowTiles) {
    LiveView.CaptureMode = 7;
    commands.FormCreate();
    EXPECT_EQ(card.calls(), EachChannel({"OpenChannel"}));
    EXPECT_EQ(LiveView.CaptureMode, 0);
    commands.FormShow();
    EXPECT_EQ(shell.steps, (std::vector<ShellStep>{{"tile", 4}}));
}

TEST_F(ChannelCommandsTest, ExitClosesEveryChannelBeforeTheFrameAndDestroyShutsDownAfter) {
    commands.N2Click();
    ASSERT_NE(LiveView.Worker, nullptr);
    card.clearCalls();
    commands.N3Click();
    EXPECT_EQ(card.calls(), EachChannel({"CloseChannel"}));
    EXPECT_EQ(shell.steps, (std::vector<ShellStep>{{"close", 4}}));
    card.clearCalls();
    commands.FormDestroy();
    EXPECT_EQ(card.calls(), EachChannel({"StopChannel", "SetChannelFlag 0", "CloseChannel"}));
    EXPECT_EQ(LiveView.Worker, nullptr) << "the worker ended with the live view";
}

TEST_F(ChannelCommandsTest, F1StartsTheLiveViewIntoTheShellsCameras) {
    commands.N2Click();
    EXPECT_EQ(LiveView.Windows, cameras.handles());
    EXPECT_NE(LiveView.Worker, nullptr);
    commands.FormDestroy();
}

TEST_F(ChannelCommandsTest, NonOverlappingTilesThenRestoresAndOverlappingOnlyCascades) {
    commands.N5Click();
    commands.N6Click();
    EXPECT_EQ(shell.steps, (std::vector<ShellStep>{{"tile", 0}, {"restore", 0}, {"cascade", 0}}));
    EXPECT_TRUE(card.calls().empty());
}

TEST_F(ChannelCommandsTest, SaveWarnsOnlyOfFailuresUnderTheNameAsShown) {
    FakeDialog dialog;
    commands.N8Click(dialog);
    ASSERT_EQ(card.saves().size(), 4u);
    EXPECT_EQ(card.saves()[0].path, "C:\\fotos\\caf\xe9.bmp") << "the library gets the dialog's own bytes";
    EXPECT_TRUE(shell.steps.empty()) << "nothing to say after a good save";

    card.setSaveResult(2, EACCES);
    commands.N8Click(dialog);
    ASSERT_EQ(shell.steps.size(), 1u);
    const std::string& warning = shell.steps[0].step;
    EXPECT_EQ(warning.rfind("warning 儲存: ", 0), 0u) << warning;
    EXPECT_NE(warning.find("C:\\fotos\\café.bmp"), std::string::npos) << warning;
    EXPECT_NE(warning.find("Camera3"), std::string::npos) << warning;
    EXPECT_EQ(warning.find("Camera1"), std::string::npos) << warning;

    dialog.confirm = false;
    commands.N8Click(dialog);
    EXPECT_EQ(card.saves().size(), 8u) << "a cancelled dialog saves nothing";
    EXPECT_EQ(shell.steps.size(), 1u);
}

TEST(Startup, LoadFailureAndEscapingExceptionsAreShownAndGiveOne) {
    std::vector<std::string> shown;
    const ErrorDisplay show = [&](const std::string& message) { shown.push_back(message); };
    const auto missing = [] { return CaptureLibrary::loadFile("/nonexistent/kesmacap-library"); };
    EXPECT_EQ(RunProgram(
                  missing, [](const CaptureLibrary&) { return 0; }, show),
              1);
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_NE(shown[0].find("/nonexistent/kesmacap-library"), std::string::npos) << shown[0];

    FakeCard card;
    const auto fake = [&] { return card.library(); };
    EXPECT_EQ(RunProgram(
                  fake, [](const CaptureLibrary&) -> int { throw std::runtime_error("no window"); }, show),
              1);
    EXPECT_EQ(RunProgram(
                  fake, [](const CaptureLibrary&) -> int { throw 42; }, show),
              1);
    EXPECT_EQ(shown, (std::vector<std::string>{shown[0], "no window", ""}));
    EXPECT_EQ(RunProgram(
                  fake, [](const CaptureLibrary&) { return 0; }, show),
              0);
    EXPECT_EQ(shown.size(), 3u);
}

}  // namespace

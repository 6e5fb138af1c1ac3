// The real viewer driven hard under a private X server: a capture library
// whose thread never stops, libraries that misbehave, a thousand restarts,
// a hundred start-and-exit cycles. Counts come from QUADVIEW_SOAK_RESTARTS and
// QUADVIEW_SOAK_CYCLES (scripts/soak runs them at full size).
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <thread>

#include "tests/support/ViewerHarness.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using namespace viewer_harness;

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
// Sanitized code runs several times slower, and its allocator keeps memory
// of its own: limits on CPU scale, resident memory is not compared.
constexpr double CpuScale = 4.0;
constexpr bool CompareResidentMemory = false;
#else
constexpr double CpuScale = 1.0;
constexpr bool CompareResidentMemory = true;
#endif

int countFrom(const char* variable, int fallback) {
    const char* const text = std::getenv(variable);
    const int count = text != nullptr ? std::atoi(text) : 0;
    return count > 0 ? count : fallback;
}

// ASan keeps freed memory in quarantine, which would read as growth here.
std::string sanitizerOptions() {
    const char* const current = std::getenv("ASAN_OPTIONS");
    return std::string("ASAN_OPTIONS=") + (current != nullptr ? current : "") + ":quarantine_size_mb=4";
}

class Soak : public ViewerTest {
  protected:
    std::unique_ptr<Process> start(const fs::path& folder, const std::string& rate = "30") {
        return std::make_unique<Process>(
            std::vector<std::string>{(folder / "quadview").string()}, log(),
            std::vector<std::string>{"KESMACAP_SIM_FPS=" + rate, sanitizerOptions()});
    }

    // Start, F1, a moment of frames, then out by F2 or by the close box.
    void cycle(const fs::path& folder, const std::string& rate, bool closeBox, const std::string& what) {
        auto viewer = start(folder, rate);
        const std::string form = findWindow("Form1");
        ASSERT_FALSE(form.empty()) << what << ": no Form1\n" << readAll(log());
        pressKeys(form, "F1");
        std::this_thread::sleep_for(150ms);
        if (closeBox) {
            closeWindow(form);
        } else {
            pressKeys(form, "F2");
        }
        const std::optional<int> status = viewer->wait(20s);
        ASSERT_EQ(status, std::optional<int>(0))
            << what << ": exit status " << (status ? std::to_string(*status) : "none") << "\n"
            << readAll(log());
        ASSERT_EQ(readAll(log()).find("Sanitizer"), std::string::npos) << what << "\n" << readAll(log());
    }
};

TEST_F(Soak, LibraryWhoseThreadNeverStopsLetsTheViewerExitCleanly) {
    const fs::path folder = withLibrary("libforeign_well_behaved.so");
    for (int run = 1; run <= 20; ++run) {
        cycle(folder, "30", run % 2 == 0, "exit " + std::to_string(run) + " of 20");
    }
}

TEST_F(Soak, MisbehavingLibrariesNeitherCrashNorSpin) {
    // Measured where the fault bites: after F1, or before it for signals
    // that come while no channel was started.
    for (const std::string variant : {"no_event", "invalid_event", "null_frame", "unstarted"}) {
        auto viewer = start(withLibrary("libforeign_" + variant + ".so"));
        const std::string form = findWindow("Form1");
        ASSERT_FALSE(form.empty()) << variant << "\n" << readAll(log());
        const bool beforeStart = variant == "unstarted";
        if (!beforeStart) {
            pressKeys(form, "F1");
        }
        std::this_thread::sleep_for(500ms);
        const double before = usageOf(viewer->pid()).cpuSeconds;
        std::this_thread::sleep_for(3s);
        const double used = usageOf(viewer->pid()).cpuSeconds - before;
        EXPECT_LT(used / 3.0, 0.05 * CpuScale) << variant << ": " << used << " CPU-seconds in 3 s";
        pressKeys(form, beforeStart ? "F1 F2" : "F2");
        EXPECT_EQ(viewer->wait(20s), std::optional<int>(0)) << variant << "\n" << readAll(log());
    }
}

// 200 restarts here; scripts/soak asks for a thousand.
TEST_F(Soak, RestartsLeaveNoThreadsDescriptorsOrMemoryBehind) {
    const int restarts = countFrom("QUADVIEW_SOAK_RESTARTS", 200);
    auto viewer = start(binaries(), "0");
    const std::string form = findWindow("Form1");
    ASSERT_FALSE(form.empty()) << readAll(log());
    pressKeys(form, "F1");
    std::this_thread::sleep_for(1s);
    const Usage first = usageOf(viewer->pid());
    // Batches of keys, each a little slower than a restart (its 10 ms grace period
    // and the join), so the viewer takes them as fast as it can.
    for (int done = 0; done < restarts; done += 50) {
        const int batch = std::min(50, restarts - done);
        std::string keys = "--delay 15";
        for (int i = 0; i < batch; ++i) {
            keys += " F1";
        }
        pressKeys(form, keys);
        ASSERT_FALSE(viewer->wait(0ms)) << "the viewer ended after " << done << " restarts\n"
                                        << readAll(log());
    }
    std::this_thread::sleep_for(2s);
    const Usage after = usageOf(viewer->pid());
    EXPECT_EQ(after.threads, first.threads) << "after " << restarts << " restarts";
    EXPECT_EQ(after.descriptors, first.descriptors) << "after " << restarts << " restarts";
    // Margin: 16 MiB, for the allocator's and X's caches; one leaked staging
    // bitmap per restart would be 900 KiB each.
    EXPECT_TRUE(!CompareResidentMemory || after.residentKiB < first.residentKiB + 16 * 1024)
        << first.residentKiB << " KiB after the first start, " << after.residentKiB << " KiB after "
        << restarts;
    const QImage live = screenshot();
    for (const QRect& quadrant : tiledQuadrants()) {
        EXPECT_GT(colours(live, quadrant).saturated, 0.5) << "still live after " << restarts << " restarts";
    }
    pressKeys(form, "F2");
    EXPECT_EQ(viewer->wait(20s), std::optional<int>(0)) << readAll(log());
}

TEST_F(Soak, StartAndExitCyclesAtFullRateAllEndWithStatusZero) {
    const int cycles = countFrom("QUADVIEW_SOAK_CYCLES", 20);
    for (int run = 1; run <= cycles; ++run) {
        cycle(binaries(), "0", false, "F2 cycle " + std::to_string(run));
    }
    for (int run = 1; run <= cycles; ++run) {
        cycle(binaries(), "0", true, "close-box cycle " + std::to_string(run));
    }
}

// Cancels the dialog, and waits until it is gone.
void cancel(const std::string& dialog) {
    for (int attempt = 0; attempt < 20; ++attempt) {
        if (capture("xdotool search --name '^Save As$' 2>/dev/null").empty()) {
            return;
        }
        // The dialog may already be gone: nothing to check.
        [[maybe_unused]] const int escaped =
            std::system(("xdotool windowfocus --sync " + dialog + " key Escape 2>/dev/null").c_str());
        std::this_thread::sleep_for(300ms);
    }
}

TEST_F(Soak, ExitWhileTheSaveDialogIsOpenOrAPictureIsWrittenLosesNothing) {
    const fs::path pictures = scratch("pictures");
    const auto leftovers = [&] {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(pictures)) {
            names.push_back(entry.path().filename().string());
        }
        return names;
    };
    for (const bool closeBox : {false, true}) {
        const std::string way = closeBox ? "close box" : "F2";
        // Sent to the frame, whichever window has the focus.
        const auto askToLeave = [closeBox](const std::string& form) {
            if (closeBox) {
                closeWindow(form);
            } else {
                [[maybe_unused]] const int pressed =
                    std::system(("xdotool key --window " + form + " F2").c_str());
            }
        };
        fs::remove_all(pictures);
        fs::create_directories(pictures);
        auto viewer = start(binaries(), "0");
        const std::string form = findWindow("Form1");
        ASSERT_FALSE(form.empty()) << readAll(log());
        pressKeys(form, "F1");
        // While the dialog is open: a modal dialog keeps the frame's keys, so
        // the viewer waits for it; a close request may end it. Either way no file.
        std::string dialog = openSaveDialog(form);
        ASSERT_FALSE(dialog.empty()) << way << ": no save dialog";
        askToLeave(form);
        if (!viewer->wait(1s)) {
            cancel(dialog);
            pressKeys(form, "F2");
        }
        EXPECT_EQ(viewer->wait(20s), std::optional<int>(0)) << way << " with the dialog open\n"
                                                            << readAll(log());
        EXPECT_TRUE(leftovers().empty())
            << way << ": a cancelled save wrote " << leftovers().size() << " files";

        // While the four pictures are written: the exit comes right behind the confirmation.
        viewer = start(binaries(), "0");
        const std::string again = findWindow("Form1");
        ASSERT_FALSE(again.empty()) << readAll(log());
        pressKeys(again, "F1");
        dialog = openSaveDialog(again);
        ASSERT_FALSE(dialog.empty()) << way << ": no save dialog";
        const std::string name = (pictures / (closeBox ? "closed" : "keyed")).string();
        ASSERT_EQ(std::system(
                      ("xdotool type --window " + dialog + " '" + name + "' && xdotool key Return").c_str()),
                  0);
        askToLeave(again);
        if (!viewer->wait(2s)) {
            cancel(dialog);
            pressKeys(again, "F2");
        }
        EXPECT_EQ(viewer->wait(20s), std::optional<int>(0)) << way << " during the save\n" << readAll(log());
        for (int channel = 1; channel <= 4; ++channel) {
            const fs::path file = name + "-" + std::to_string(channel) + ".bmp";
            ASSERT_TRUE(fs::exists(file)) << way << ": " << file << " missing";
            EXPECT_EQ(fs::file_size(file), 54u + 640u * 480u * 3u) << way << ": " << file << " is partial";
        }
        for (const std::string& left : leftovers()) {
            EXPECT_EQ(left.find(".tmp"), std::string::npos) << way << ": temporary file " << left << " left";
        }
    }
}

}  // namespace

int main(int argc, char** argv) {
    return viewer_harness::runWithPrivateXServer(argc, argv);
}

// Saves that fail on the way to the disk: a file-size limit, a read-only
// folder, a name too long. Each reports its error, leaves no partial or
// temporary file and keeps the file it would have replaced.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <functional>

#include "abi/kesmacap.h"
#include "kesmacap/pictures/PictureWriter.h"
#include "tests/support/ImageFiles.h"
#include "tests/support/ScratchFolder.h"

namespace kesmacap {
namespace {

namespace fs = std::filesystem;

// Runs `save` in a child process (limits and users are per process) and
// returns its result; -1 if the child did not exit by itself.
int inChild(const std::function<void()>& prepare, const std::function<std::int32_t()>& save) {
    const pid_t child = fork();
    if (child == 0) {
        prepare();
        _exit(save());
    }
    int status = 0;
    waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

class FailedSave : public ::testing::Test {
  protected:
    FailedSave() : picture_(640, 480) {
        // Noise, so that no format compresses it below the limits used here.
        std::uint32_t state = 12345;
        for (std::uint8_t& byte : picture_.pixels) {
            state = state * 1664525u + 1013904223u;
            byte = static_cast<std::uint8_t>(state >> 24);
        }
        std::ofstream(folder_ / "photo-1.bmp", std::ios::binary) << previous_;
    }
    std::int32_t save(const std::string& name, std::uint8_t format = KESMACAP_FORMAT_BMP) const {
        return SavePicture(picture_.view(), (folder_ / name).string(), 0, format, 50);
    }
    // The folder holds the earlier picture, unchanged, and nothing else.
    void expectOnlyThePreviousFile(const std::string& what) const {
        EXPECT_EQ(testing_support::ReadAll((folder_ / "photo-1.bmp").string()),
                  std::vector<std::uint8_t>(previous_.begin(), previous_.end()))
            << what;
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(folder_.path())) {
            names.push_back(entry.path().filename().string());
        }
        EXPECT_EQ(names, std::vector<std::string>{"photo-1.bmp"}) << what;
    }

    Picture picture_;
    const std::string previous_ = "the picture saved before";
    const testing_support::ScratchFolder folder_{"failed-save"};
};

TEST_F(FailedSave, FileSizeLimitIsReportedAndKillsNothing) {
    for (const std::uint8_t format : {KESMACAP_FORMAT_BMP, KESMACAP_FORMAT_PNG}) {
        const int result = inChild(
            [] {
                const rlimit limit{16 * 1024, 16 * 1024};
                setrlimit(RLIMIT_FSIZE, &limit);
            },
            [&] { return save("photo.bmp", format); });
        EXPECT_EQ(result, EFBIG) << "format " << int(format) << ": the save reports it, the process lives";
        expectOnlyThePreviousFile("over the file-size limit");
    }
}

TEST_F(FailedSave, ReadOnlyFolderIsReported) {
    fs::permissions(folder_.path(), fs::perms::owner_read | fs::perms::owner_exec | fs::perms::group_read |
                                        fs::perms::group_exec | fs::perms::others_read |
                                        fs::perms::others_exec);
    // As root permissions would not bite: the save runs as nobody then.
    const int result = inChild(
        [] {
            if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0)) {
                _exit(255);
            }
        },
        [&] { return save("photo.bmp"); });
    EXPECT_EQ(result, EACCES);
    expectOnlyThePreviousFile("in a read-only folder");
}

TEST_F(FailedSave, NameTooLongIsReportedAndANameNearTheLimitStillSaves) {
    EXPECT_EQ(save(std::string(300, 'n') + ".bmp"), ENAMETOOLONG);
    expectOnlyThePreviousFile("under a name too long");
    // 247 + "-1.bmp" is 253 bytes: the file fits, and so must its temporary.
    const std::string nearLimit(247, 'n');
    EXPECT_EQ(save(nearLimit + ".bmp"), 0);
    EXPECT_TRUE(testing_support::ReadBmp((folder_ / (nearLimit + "-1.bmp")).string()).valid());
}

}  // namespace
}  // namespace kesmacap

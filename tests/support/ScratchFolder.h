// A fresh folder of the test's own, removed with everything in it at the end.
#pragma once

#include <atomic>
#include <filesystem>
#include <string>
#include <system_error>

#include "tests/support/TestPlatform.h"

namespace testing_support {

class ScratchFolder {
  public:
    explicit ScratchFolder(const std::string& purpose = "quadview-test") {
        static std::atomic<int> counter{0};
        path_ = std::filesystem::temp_directory_path() /
                (purpose + "-" + std::to_string(ProcessId()) + "-" + std::to_string(counter++));
        std::filesystem::remove_all(path_);
        std::filesystem::create_directories(path_);
    }
    ~ScratchFolder() {
        std::error_code ignored;
        std::filesystem::permissions(path_, std::filesystem::perms::owner_all, ignored);
        std::filesystem::remove_all(path_, ignored);
    }
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;

    const std::filesystem::path& path() const { return path_; }
    std::filesystem::path operator/(const std::string& name) const { return path_ / name; }

  private:
    std::filesystem::path path_;
};

}  // namespace testing_support
